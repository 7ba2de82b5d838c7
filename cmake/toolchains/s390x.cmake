# SPDX-License-Identifier: MIT
set(ecrlink_triplet s390x-linux-gnu)
set(ecrlink_qemu s390x)
include(${CMAKE_CURRENT_LIST_DIR}/cross.cmake)
