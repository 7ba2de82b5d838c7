// SPDX-License-Identifier: MIT
#pragma once

#include "wire/WireDump.h"

#include <string>

namespace ecrlink::tool {

/// A tag written on the command line or in a scenario as NUM=VALUE. VALUE is
/// plain text, "text:TEXT", "u32:N" (decimal or 0x hex), "hex:BYTES", or, in
/// a scenario, "echo" for the value of the same tag in the register's request
/// and "u32:echo" for its number, turned into the terminal's byte order.
class TagSpec {
public:
    RawTag tag;
    bool echo = false;
    bool echoNumber = false;

    /// u32 values are laid out in `numberOrder`: the register stores numbers
    /// most significant byte first and reads them least significant first.
    static bool parse(const std::string& text, ByteOrder numberOrder, bool allowEcho, TagSpec& out,
                      std::string& error);
};

} // namespace ecrlink::tool
