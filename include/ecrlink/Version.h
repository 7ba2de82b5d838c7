// SPDX-License-Identifier: MIT
#pragma once

// The one place the version lives: CMake reads these three numbers from here.
#define ECRLINK_VERSION_MAJOR 1
#define ECRLINK_VERSION_MINOR 1
#define ECRLINK_VERSION_PATCH 0

#define ECRLINK_VERSION_STRINGIFY_(x) #x
#define ECRLINK_VERSION_STRINGIFY(x) ECRLINK_VERSION_STRINGIFY_(x)
#define ECRLINK_VERSION_STRING                        \
    ECRLINK_VERSION_STRINGIFY(ECRLINK_VERSION_MAJOR) "." \
    ECRLINK_VERSION_STRINGIFY(ECRLINK_VERSION_MINOR) "." \
    ECRLINK_VERSION_STRINGIFY(ECRLINK_VERSION_PATCH)

#ifdef __cplusplus
#include "ecrlink/Export.h"

// The version of the libecrlink the program runs with ("1.1.0"), which may be newer
// than the header it was built with. Any thread; never blocks.
ECRLINK_API const char* ecrlinkVersion();
#endif
