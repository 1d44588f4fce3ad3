# Cross build for the controller: 32-bit ARM Linux (Debian armhf).
#   cmake -S . -B build/armhf -DCMAKE_TOOLCHAIN_FILE=cmake/armhf-toolchain.cmake
# By default Debian's arm-linux-gnueabihf toolchain and the :armhf library
# packages. To link against the controller's own libraries instead:
#   -DKV_SYSROOT=/path/to/controller-root   a copy of the controller's / (lib, usr/lib, usr/include)
#   -DKV_CROSS_PREFIX=/opt/x/bin/arm-linux-gnueabihf-   the compiler and binutils prefix
# Test programs run on the build machine under qemu-arm.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(KV_CROSS_TRIPLE arm-linux-gnueabihf)
if(NOT DEFINED KV_CROSS_PREFIX)
  set(KV_CROSS_PREFIX ${KV_CROSS_TRIPLE}-)
endif()
set(KV_CROSS_PREFIX "${KV_CROSS_PREFIX}" CACHE STRING "cross compiler and binutils prefix")
set(KV_SYSROOT "${KV_SYSROOT}" CACHE PATH "the controller's root to build against (empty: Debian's armhf packages)")
# try_compile projects read this file again and need the same choice.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KV_CROSS_PREFIX KV_SYSROOT)

set(CMAKE_C_COMPILER ${KV_CROSS_PREFIX}gcc)
set(CMAKE_CXX_COMPILER ${KV_CROSS_PREFIX}g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${KV_CROSS_TRIPLE})

if(KV_SYSROOT)
  # Everything the target links comes from the controller's tree.
  set(CMAKE_SYSROOT ${KV_SYSROOT})
  set(CMAKE_FIND_ROOT_PATH ${KV_SYSROOT})
  set(KV_TARGET_LIBC_ROOT ${KV_SYSROOT})
  set(ENV{PKG_CONFIG_SYSROOT_DIR} ${KV_SYSROOT})
  set(ENV{PKG_CONFIG_LIBDIR}
    "${KV_SYSROOT}/usr/lib/${KV_CROSS_TRIPLE}/pkgconfig:${KV_SYSROOT}/usr/lib/pkgconfig:${KV_SYSROOT}/usr/share/pkgconfig")
else()
  # The :armhf packages live in the build machine's own tree under
  # lib/arm-linux-gnueabihf (multiarch); the cross C library lives in
  # /usr/arm-linux-gnueabihf. Search both for the target's files, never the
  # build machine's programs.
  set(CMAKE_FIND_ROOT_PATH /usr/${KV_CROSS_TRIPLE} /)
  set(KV_TARGET_LIBC_ROOT /usr/${KV_CROSS_TRIPLE})
  set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/${KV_CROSS_TRIPLE}/pkgconfig:/usr/share/pkgconfig")
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The export check lists the plug-in's dynamic symbols with the target's nm.
find_program(CMAKE_NM NAMES ${KV_CROSS_PREFIX}nm REQUIRED)
find_program(CMAKE_STRIP NAMES ${KV_CROSS_PREFIX}strip)

# A Cortex-A7, the controller's core, with the target's loader. The loader
# must get the C and C++ libraries of its own build (the ones the cross
# linker used): the :armhf libc6 in the multiarch tree is often a newer
# stable update, and that loader/libc mix crashes in pthread_create.
find_program(KV_QEMU_ARM NAMES qemu-arm REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${KV_QEMU_ARM} -cpu cortex-a7 -L ${KV_TARGET_LIBC_ROOT}
    -E LD_LIBRARY_PATH=${KV_TARGET_LIBC_ROOT}/lib)
