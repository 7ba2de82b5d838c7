// SPDX-License-Identifier: MIT
#include "ProtoLog.h"

namespace ecrlink_detail {

Logger& protoLogger = Logger::get();

} // namespace ecrlink_detail
