# SPDX-License-Identifier: MIT
set(ecrlink_triplet arm-linux-gnueabihf)
set(ecrlink_qemu arm)
include(${CMAKE_CURRENT_LIST_DIR}/cross.cmake)
