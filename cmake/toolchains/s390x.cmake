# 64-bit big-endian s390x with Debian's cross compiler. Debian refuses the
# s390x libraries beside the host's (their versions differ), so zlib,
# libcrypto and GoogleTest come from a folder of unpacked s390x packages
# (scripts/cross.sh s390x makes it) and everything is linked statically.
# The programs run under qemu-user: CTest, test discovery and, through
# binfmt_misc, every exec of the installer.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(CMAKE_C_COMPILER s390x-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER s390x-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE s390x-linux-gnu)
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/qemu-s390x-static)

get_filename_component(INSTALLER_S390X_SYSROOT "${CMAKE_CURRENT_LIST_DIR}/../../build/s390x-sysroot/root" ABSOLUTE)
set(CMAKE_FIND_ROOT_PATH "${INSTALLER_S390X_SYSROOT}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Ahead of the host's /usr/include, which the cross compiler also searches:
# the s390x headers, with OpenSSL's per-architecture configuration.
set(_sysroot_includes "${INSTALLER_S390X_SYSROOT}/usr/include/s390x-linux-gnu" "${INSTALLER_S390X_SYSROOT}/usr/include")
set(CMAKE_C_STANDARD_INCLUDE_DIRECTORIES ${_sysroot_includes})
set(CMAKE_CXX_STANDARD_INCLUDE_DIRECTORIES ${_sysroot_includes})
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
