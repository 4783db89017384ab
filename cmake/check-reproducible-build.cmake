# Builds the 32-bit updater and the Windows packer twice from SOURCE, in two
# build folders of different names and lengths under WORK, the second later and
# under another time zone and locale, and fails unless both builds give the
# same bytes.
#   cmake -DSOURCE=DIR -DWORK=DIR -P check-reproducible-build.cmake
foreach(var SOURCE WORK)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "${var} is not set")
  endif()
endforeach()

set(programs sundrift-updater sundrift-pack)
set(first ${WORK}/a)
set(second ${WORK}/another-build-folder/b)
file(REMOVE_RECURSE ${WORK})

function(build_in folder)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env ${ARGN}
      ${CMAKE_COMMAND} -S ${SOURCE} -B ${folder} -DCMAKE_BUILD_TYPE=Release
      -DCMAKE_TOOLCHAIN_FILE=${SOURCE}/cmake/mingw-i686.cmake
    RESULT_VARIABLE failed OUTPUT_QUIET)
  if(failed)
    message(FATAL_ERROR "configuring ${folder} failed")
  endif()
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env ${ARGN}
      ${CMAKE_COMMAND} --build ${folder} --parallel 2 --target ${programs}
    RESULT_VARIABLE failed OUTPUT_QUIET)
  if(failed)
    message(FATAL_ERROR "building in ${folder} failed")
  endif()
endfunction()

build_in(${first} TZ=UTC LC_ALL=C)
build_in(${second} TZ=Asia/Tokyo LC_ALL=ja_JP.UTF-8)

set(differing "")
foreach(program ${programs})
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${first}/bin/${program}.exe ${second}/bin/${program}.exe
                  RESULT_VARIABLE differs)
  if(differs)
    list(APPEND differing ${program}.exe)
  endif()
endforeach()
if(differing)
  string(JOIN ", " differing ${differing})
  message(FATAL_ERROR "built twice from the same sources, these differ: ${differing} (kept in ${WORK})")
endif()
file(REMOVE_RECURSE ${WORK})
string(JOIN ", " programs ${programs})
message(STATUS "${programs}: the same bytes from both build folders")
