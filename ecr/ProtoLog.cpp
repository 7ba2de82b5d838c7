// SPDX-License-Identifier: MIT
#include "ProtoLog.h"

namespace ecrlink::ecr {

Logger& protoLogger = Logger::get();

} // namespace ecrlink::ecr
