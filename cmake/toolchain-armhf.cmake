# Cross build for the unit's board: 32-bit ARM, hard float, Linux.
#
# Uses Debian's cross toolchain (g++-arm-linux-gnueabihf) and the board's
# libraries installed beside the build host's through multiarch
# (libhiredis-dev:armhf, libcjson-dev:armhf, libmosquitto-dev:armhf, ...): their
# headers are the shared /usr/include, their libraries and pkg-config files are
# under /usr/lib/arm-linux-gnueabihf. scripts/test-armhf.sh installs all of it.
#
# Programs built here run on the build host through qemu-user: CTest starts
# every test binary with CMAKE_CROSSCOMPILING_EMULATOR, and the armhf test
# preset sets DCU_TEST_EXEC_PREFIX to scripts/armhf-exec.sh for the programs
# the tests start themselves (ARM programs under qemu-arm, build-host tools as
# they are).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(DCU_CROSS_TRIPLET arm-linux-gnueabihf)
set(CMAKE_C_COMPILER ${DCU_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${DCU_CROSS_TRIPLET}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${DCU_CROSS_TRIPLET})
# g++ notes on ARM that the passing of some aggregates changed in GCC 7.1:
# everything here is built by one compiler, so the notes say nothing.
set(CMAKE_C_FLAGS_INIT -Wno-psabi)
set(CMAKE_CXX_FLAGS_INIT -Wno-psabi)

# The target's pkg-config files only: the build host's (x86-64) must never be
# found, or the link would pick up the wrong libraries.
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/${DCU_CROSS_TRIPLET}/pkgconfig:/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")

# The programs run with the board's own runtime as Debian's armhf packages
# install it through multiarch (libc6:armhf, libstdc++6:armhf): its loader is
# /lib/ld-linux-armhf.so.3 and the loader cache knows /usr/lib/arm-linux-gnueabihf.
# No "-L /usr/arm-linux-gnueabihf": that prefix holds the cross toolchain's
# own loader, which is not built from the same C library as the multiarch
# libc6:armhf that libhiredis:armhf pulls in, and a process that mixes the
# two crashes in the child of a fork.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm)
