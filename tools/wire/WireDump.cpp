// SPDX-License-Identifier: MIT
#include "wire/WireDump.h"

namespace ecrlink::tool {
namespace WireDump {

Bytes encode(const std::vector<RawTag>& tags, ByteOrder order) {
    Bytes out;
    for (const RawTag& tag : tags) {
        putU32(out, tag.number, order);
        putU32(out, static_cast<std::uint32_t>(tag.value.size()), order);
        out.insert(out.end(), tag.value.begin(), tag.value.end());
    }
    return out;
}

bool decode(const std::uint8_t* data, std::size_t size, ByteOrder order, std::vector<RawTag>& tags,
                      std::string& error) {
    tags.clear();
    std::size_t at = 0;
    while (at < size) {
        const std::size_t left = size - at;
        if (left < 8) {
            error = std::to_string(left) + " byte(s) left at offset " + std::to_string(at) + ", too few for a record header";
            tags.clear();
            return false;
        }
        RawTag tag;
        tag.number = getU32(data + at, order);
        const std::uint32_t length = getU32(data + at + 4, order);
        if (length > left - 8) {
            error = "record at offset " + std::to_string(at) + " announces " + std::to_string(length) +
                    " value bytes, only " + std::to_string(left - 8) + " follow";
            tags.clear();
            return false;
        }
        tag.value.assign(data + at + 8, data + at + 8 + length);
        tags.push_back(std::move(tag));
        at += 8 + static_cast<std::size_t>(length);
    }
    return true;
}

} // namespace WireDump
} // namespace ecrlink::tool
