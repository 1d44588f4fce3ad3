# Cross build for the controller: 32-bit ARM Linux (Debian armhf), with
# Debian's arm-linux-gnueabihf toolchain and the :armhf library packages.
#   cmake -S . -B build/armhf -DCMAKE_TOOLCHAIN_FILE=cmake/armhf-toolchain.cmake
# Test programs run on the build machine under qemu-arm.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(KV_CROSS_TRIPLE arm-linux-gnueabihf)
set(CMAKE_C_COMPILER ${KV_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${KV_CROSS_TRIPLE}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${KV_CROSS_TRIPLE})

# The :armhf packages live in the build machine's own tree under
# lib/arm-linux-gnueabihf (multiarch); the cross C library lives in
# /usr/arm-linux-gnueabihf. Search both for the target's files, never the
# build machine's programs.
set(CMAKE_FIND_ROOT_PATH /usr/${KV_CROSS_TRIPLE} /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The target tests check that what was built really is for ARM.
add_compile_definitions(KV_EXPECT_ARMHF)

# The export check lists the plug-in's dynamic symbols with the target's nm.
find_program(CMAKE_NM NAMES ${KV_CROSS_TRIPLE}-nm REQUIRED)

# A Cortex-A7, the controller's core, with the target's loader. The loader
# in /usr/arm-linux-gnueabihf must get the C and C++ libraries of its own
# build (the ones the cross linker used): the :armhf libc6 in the multiarch
# tree is often a newer stable update, and that loader/libc mix crashes in
# pthread_create.
find_program(KV_QEMU_ARM NAMES qemu-arm REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${KV_QEMU_ARM} -cpu cortex-a7 -L /usr/${KV_CROSS_TRIPLE}
    -E LD_LIBRARY_PATH=/usr/${KV_CROSS_TRIPLE}/lib)
