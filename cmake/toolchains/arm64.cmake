# SPDX-License-Identifier: MIT
set(ecrlink_triplet aarch64-linux-gnu)
set(ecrlink_qemu aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/cross.cmake)
