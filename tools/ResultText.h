#pragma once

#include <string>

namespace ecrtool {

/// Text of any code the register side can meet: TLV codes, protocol codes
/// and channel codes, with words of the tool's own for codes without a text.
std::string resultText(unsigned int code);

} // namespace ecrtool
