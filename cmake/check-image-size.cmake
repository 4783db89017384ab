# Fails when the updater image reaches into the package area at 0x40000.
#   cmake -DIMAGE=path/to/sundrift-updater.exe -P check-image-size.cmake
math(EXPR limit "0x40000")
file(SIZE "${IMAGE}" size)
if(size GREATER limit)
  message(FATAL_ERROR "${IMAGE} is ${size} bytes, more than the ${limit} bytes before the package")
endif()
message(STATUS "${IMAGE}: ${size} bytes (limit ${limit})")
