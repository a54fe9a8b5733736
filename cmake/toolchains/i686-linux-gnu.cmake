# 32-bit little-endian x86, run under qemu-i386.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(WENDLOW_CROSS_TRIPLE i686-linux-gnu)
set(WENDLOW_CROSS_QEMU qemu-i386)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
