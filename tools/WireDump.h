#pragma once

#include "Bytes.h"

#include <string>
#include <vector>

namespace ecrtool {

/// One record of a dump as it stands on the wire.
struct RawTag {
    std::uint32_t number = 0;
    Bytes value;
};

/// Dumps as raw records, in either header byte order. The tool needs both
/// orders and must show records the register would reject, so it does not
/// go through CTLVMessage here.
class WireDump {
public:
    static Bytes encode(const std::vector<RawTag>& tags, ByteOrder order);
    /// Records must fill the dump exactly; false with a reason otherwise.
    static bool decode(const std::uint8_t* data, std::size_t size, ByteOrder order, std::vector<RawTag>& tags,
                       std::string& error);
    static bool decode(const Bytes& data, ByteOrder order, std::vector<RawTag>& tags, std::string& error) {
        return decode(data.data(), data.size(), order, tags, error);
    }
};

} // namespace ecrtool
