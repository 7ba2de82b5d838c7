# SPDX-License-Identifier: MIT
# A build for another processor with Debian's cross toolchain (crossbuild-essential-<arch>), its programs
# run by qemu-user: CMake puts the emulator before every test and every program it runs at build time, and
# the tests start the programs they run themselves through it as well. Included by <debian arch>.cmake,
# which sets ecrlink_triplet (the GNU triplet) and ecrlink_qemu (qemu-user's name of the processor).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${ecrlink_qemu})
set(CMAKE_C_COMPILER ${ecrlink_triplet}-gcc)
set(CMAKE_CXX_COMPILER ${ecrlink_triplet}-g++)
# The target's C and C++ libraries are the cross toolchain's (-L); no binfmt_misc needed. LD_LIBRARY_PATH=/lib
# (under -L: the toolchain's lib/) is searched before the machine's /etc/ld.so.cache, which may name another
# build of the C library for the same processor (a PC's /lib32, another architecture's multiarch packages)
# that does not fit the toolchain's dynamic loader: with it, a program hangs in its first pthread_create.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-${ecrlink_qemu} -L /usr/${ecrlink_triplet} -E LD_LIBRARY_PATH=/lib)
# Debian's cross compilers search /usr/include themselves (architecture-independent headers such as
# CLI11's); libraries and CMake packages are looked for in the target's multiarch folders.
