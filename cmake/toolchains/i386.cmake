# SPDX-License-Identifier: MIT
set(ecrlink_triplet i686-linux-gnu)
set(ecrlink_qemu i386)
include(${CMAKE_CURRENT_LIST_DIR}/cross.cmake)
