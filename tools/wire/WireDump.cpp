// SPDX-License-Identifier: MIT
#include "wire/WireDump.h"

#include "wire/DumpWalk.h"

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
    const wire::DumpEnd end = wire::walkDump(data, size, order, [&](const wire::DumpRecord& r) {
        tags.push_back(RawTag{r.number, Bytes(data + r.value, data + r.value + r.present(size))});
    });
    if (end.whole(size)) return true;
    const std::size_t left = size - end.at;
    if (end.overrun)
        error = "record at offset " + std::to_string(end.at) + " announces " + std::to_string(getU32(data + end.at + 4, order)) +
                " value bytes, only " + std::to_string(left - 8) + " follow";
    else
        error = std::to_string(left) + " byte(s) left at offset " + std::to_string(end.at) + ", too few for a record header";
    tags.clear();
    return false;
}

} // namespace WireDump
} // namespace ecrlink::tool
