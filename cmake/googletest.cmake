# GoogleTest from Debian's sources, built with whichever toolchain is in force.
set(GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
if(WIN32)
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
endif()
add_subdirectory(${GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# Registers one run of the test program PROGRAM as the test NAME, with the
# program's further arguments after it; the report goes to test-results/NAME.xml
# for scripts/test to count.
function(sundrift_add_test name program)
  set(results ${CMAKE_BINARY_DIR}/test-results)
  file(MAKE_DIRECTORY ${results})
  if(WIN32)
    set(xml "xml:Z:${results}/${name}.xml")
  else()
    set(xml "xml:${results}/${name}.xml")
  endif()
  add_test(NAME ${name} COMMAND ${program} --gtest_output=${xml} ${ARGN})
  # Most programs take seconds even on a loaded machine; a short limit keeps a
  # program that Wine leaves hanging in its exit from holding the suite for long.
  # The long-running ones set their own.
  set_tests_properties(${name} PROPERTIES TIMEOUT 120)
endfunction()

# Builds a GoogleTest program and registers it as one test, or with PARTS
# (SUFFIX FILTER pairs) as one test per part, NAME_SUFFIX running the cases
# that FILTER (a --gtest_filter) selects, so that a long program's parts run
# side by side.
function(sundrift_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;PARTS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} sundrift_test_support_portable gtest_main)
  if(WIN32)
    target_link_libraries(${name} PRIVATE sundrift_test_support)
  endif()
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/tests)
  sundrift_warnings(${name})
  # GCC 12 reports false out-of-bounds writes inside inlined std::vector code.
  target_compile_options(${name} PRIVATE -Wno-array-bounds -Wno-stringop-overflow)
  if(NOT ARG_PARTS)
    sundrift_add_test(${name} ${name})
  endif()
  while(ARG_PARTS)
    list(POP_FRONT ARG_PARTS part filter)
    sundrift_add_test(${name}_${part} ${name} --gtest_filter=${filter})
  endwhile()
endfunction()
