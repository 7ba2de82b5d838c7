// SPDX-License-Identifier: MIT
#pragma once

#include "wire/Frame.h"
#include "wire/RawTag.h"

#include <string>
#include <vector>

namespace ecrlink::tool {

/// Dumps as raw records, in either header byte order. CTLVMessage reads only
/// the incoming order and folds file pieces away, while the terminal side and
/// the decoder need both orders and every record as it came.
namespace WireDump {

/// The most a frame can carry: its length field has 16 bits.
constexpr std::size_t MaxFramed = wire::MaxFramed;


Bytes encode(const std::vector<RawTag>& tags, ByteOrder order);
/// Records must fill the dump exactly; false with a reason otherwise.
bool decode(const std::uint8_t* data, std::size_t size, ByteOrder order, std::vector<RawTag>& tags,
            std::string& error);
inline bool decode(const Bytes& data, ByteOrder order, std::vector<RawTag>& tags, std::string& error) {
    return decode(data.data(), data.size(), order, tags, error);
}

} // namespace WireDump

} // namespace ecrlink::tool
