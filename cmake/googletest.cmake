# GoogleTest from Debian's sources, built with whichever toolchain is in force.
set(GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
if(WIN32)
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
endif()
add_subdirectory(${GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# Registers a GoogleTest program; its results go to test-results/ for scripts/test to count.
function(sundrift_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} gtest_main)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/tests)
  sundrift_warnings(${name})
  # GCC 12 reports false out-of-bounds writes inside inlined std::vector code.
  target_compile_options(${name} PRIVATE -Wno-array-bounds -Wno-stringop-overflow)
  set(results ${CMAKE_BINARY_DIR}/test-results)
  file(MAKE_DIRECTORY ${results})
  if(WIN32)
    set(xml "xml:Z:${results}/${name}.xml")
  else()
    set(xml "xml:${results}/${name}.xml")
  endif()
  add_test(NAME ${name} COMMAND ${name} --gtest_output=${xml})
  # Most programs take seconds even on a loaded machine; a short limit keeps a
  # program that Wine leaves hanging in its exit from holding the suite for long.
  # The long-running ones set their own.
  set_tests_properties(${name} PROPERTIES TIMEOUT 120)
endfunction()
