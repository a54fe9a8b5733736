# A Linux cross build for the target named by the including toolchain file:
# it sets WENDLOW_CROSS_TRIPLE (the GNU triple of Debian's cross compilers,
# whose libraries live under /usr/TRIPLE) and WENDLOW_CROSS_QEMU (the
# user-mode emulator that runs the tests).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${WENDLOW_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${WENDLOW_CROSS_TRIPLE}-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${WENDLOW_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${WENDLOW_CROSS_QEMU};-L;/usr/${WENDLOW_CROSS_TRIPLE})
