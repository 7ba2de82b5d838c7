#include "ProtoLog.h"

namespace ecrlink_detail {

Logger& protoLogger = Logger::get();

} // namespace ecrlink_detail
