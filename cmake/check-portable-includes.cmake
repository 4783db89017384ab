# Fails when the packer, or a portable part of src, includes anything of src
# but its portable folders, or when a portable part includes Windows headers:
# what the packer shares must build on every system.
#   cmake -DSOURCE_DIR=path/to/repository -P check-portable-includes.cmake
cmake_minimum_required(VERSION 3.25)
file(GLOB_RECURSE packer ${SOURCE_DIR}/tools/pack/*.cpp ${SOURCE_DIR}/tools/pack/*.h)
file(GLOB_RECURSE portable ${SOURCE_DIR}/src/*/portable/*.cpp ${SOURCE_DIR}/src/*/portable/*.h)
set(faults "")
foreach(file IN LISTS packer portable)
  file(STRINGS ${file} includes REGEX "^#include")
  foreach(line IN LISTS includes)
    if(line MATCHES "\"(io|package|install|entry|ui)/" AND NOT line MATCHES "\"(io|package|install|entry|ui)/portable/")
      string(APPEND faults "${file}: ${line}\n")
    elseif(file IN_LIST portable AND line MATCHES "<(windows|winternl|winbase|windef)\\.h>")
      string(APPEND faults "${file}: ${line}\n")
    endif()
  endforeach()
endforeach()
if(faults)
  message(FATAL_ERROR "includes beyond the portable folders:\n${faults}")
endif()
