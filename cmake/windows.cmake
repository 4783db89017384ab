# Settings of the cross build: Shift-JIS literals, static runtime, tests under Wine.
add_compile_options(-fexec-charset=CP932)
add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601)
# Programs must run in a bare Wine prefix: no MinGW runtime DLLs beside them.
add_link_options(-static -static-libgcc -static-libstdc++)
# The same sources give the same bytes, wherever and whenever they are built: the
# linker writes zero for the PE header's time stamp (and so the same checksum),
# and any source or build path the compiler would record is made relative.
add_link_options(-Wl,--no-insert-timestamp)
add_compile_options("$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_SOURCE_DIR}/=;-ffile-prefix-map=${CMAKE_BINARY_DIR}/=>")

# Cross-built tests run through this wrapper: one prefix of the build's word size in
# the build tree, code page 932, a persistent wineserver and an Xvfb display.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(SUNDRIFT_WINEARCH win64)
else()
  set(SUNDRIFT_WINEARCH win32)
endif()
set(SUNDRIFT_WINE_RUN ${CMAKE_BINARY_DIR}/wine-run)
configure_file(${CMAKE_SOURCE_DIR}/cmake/wine-run.in ${SUNDRIFT_WINE_RUN} @ONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                WORLD_READ WORLD_EXECUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${SUNDRIFT_WINE_RUN})
