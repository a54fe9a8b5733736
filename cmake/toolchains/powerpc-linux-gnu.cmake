# 32-bit big-endian PowerPC, run under qemu-ppc.
set(CMAKE_SYSTEM_PROCESSOR powerpc)
set(WENDLOW_CROSS_TRIPLE powerpc-linux-gnu)
set(WENDLOW_CROSS_QEMU qemu-ppc)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
