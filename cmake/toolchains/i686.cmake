# 32-bit x86 with Debian's i686 cross compiler and the i386 libraries of
# Debian multiarch (/usr/lib/i386-linux-gnu). The programs run natively.
# Used by scripts/build32.sh. (The -m32 route needs g++-multilib, which
# cannot be installed beside the other cross compilers.)
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER i686-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
# The host's pkg-config names the x86-64 libraries, which FindOpenSSL would
# otherwise take as hints.
set(CMAKE_IGNORE_PATH /usr/lib/x86_64-linux-gnu /lib/x86_64-linux-gnu)
