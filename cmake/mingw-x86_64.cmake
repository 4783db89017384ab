# 64-bit build of the same sources, for running the Windows tests on a machine
# whose kernel cannot execute 32-bit x86 code (so 32-bit Wine cannot start).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
