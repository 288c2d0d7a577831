# 32-bit ARM, hard float (armhf), with Debian's cross compiler and the armhf
# libraries of Debian multiarch (/usr/lib/arm-linux-gnueabihf). The programs
# run under qemu-user: CTest, test discovery and, through binfmt_misc, every
# exec of the installer. Used by scripts/cross.sh armhf.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/qemu-arm-static)
# The host's pkg-config names the x86-64 libraries, which FindOpenSSL would
# otherwise take as hints.
set(CMAKE_IGNORE_PATH /usr/lib/x86_64-linux-gnu /lib/x86_64-linux-gnu)
