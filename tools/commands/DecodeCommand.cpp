// SPDX-License-Identifier: MIT
#include "commands/DecodeCommand.h"

#include "base/Console.h"
#include "wire/TagTable.h"
#include "wire/WireDump.h"

#include "ecrlink/ECRProto.h"

#include <sstream>

namespace ecrlink::tool {

namespace {

constexpr std::uint8_t STX = CECRProto::STX, DC2 = CECRProto::DC2;

const char* orderName(ByteOrder order) {
    return order == ByteOrder::LsbFirst ? "incoming (least significant byte first, terminal to register)"
                                        : "outgoing (most significant byte first, register to terminal)";
}

int bad(const std::string& why) {
    Console::err("ecrlink: decode: " + why + "\n");
    return 2;
}

struct Attempt {
    explicit Attempt(ByteOrder o) : order(o) {}
    ByteOrder order;
    bool ok = false;
    std::vector<RawTag> tags;
    std::string error;
};

} // namespace

namespace DecodeCommand {

int run(const std::string& hex, const std::string& orderText) {
    Bytes bytes;
    std::string error;
    if (!parseHex(hex, bytes, error)) return bad(error);
    if (bytes.empty()) return bad("no bytes given");

    std::vector<Attempt> attempts;
    if (orderText != "out") attempts.emplace_back(ByteOrder::LsbFirst);
    if (orderText != "in") attempts.emplace_back(ByteOrder::MsbFirst);
    auto tryDump = [&](const Bytes& data) {
        bool any = false;
        for (Attempt& a : attempts) {
            a.ok = WireDump::decode(data, a.order, a.tags, a.error);
            any = any || a.ok;
        }
        return any;
    };

    std::ostringstream out;
    const bool startByte = bytes[0] == STX || bytes[0] == DC2;
    const std::size_t announced = bytes.size() >= 3 ? static_cast<std::size_t>(bytes[1]) * 256 + bytes[2] : 0;
    const bool frame = startByte && bytes.size() >= 4 && announced + 4 == bytes.size();
    Bytes data;
    if (frame) {
        data.assign(bytes.begin() + 3, bytes.end() - 1);
        const std::uint8_t check = bytes.back();
        const std::uint8_t computed = xorCheck(data.data(), data.size());
        out << "frame:      " << (bytes[0] == STX ? "data frame (STX 02)" : "status frame (DC2 12)") << "\n"
            << "length:     " << announced << " (" << toHex(bytes.data() + 1, 2) << ")\n"
            << "check byte: " << toHex(&check, 1)
            << (check == computed ? " (matches)" : " (DOES NOT MATCH: computed " + toHex(&computed, 1) + ")") << "\n";
        if (data.empty()) {
            out << "data:       none\n";
            Console::out(out.str());
            return 0;
        }
        out << "data:       " << toHex(data) << "\n";
    } else {
        data = bytes;
        if (!tryDump(data)) {
            if (startByte && bytes.size() >= 3)
                return bad("malformed frame: the length field announces " + std::to_string(announced) +
                           " data bytes, so the frame would be " + std::to_string(announced + 4) +
                           " bytes long, but it is " + std::to_string(bytes.size()));
            return bad("neither a frame nor a tag dump: " + attempts[0].error);
        }
    }

    if (!tryDump(data)) {
        for (const Attempt& a : attempts) out << "not a tag dump in " << orderName(a.order) << " order: " << a.error << "\n";
        Console::out(out.str());
        return 0;
    }
    const Attempt* shown = nullptr;
    for (const Attempt& a : attempts)
        if (a.ok && !shown) shown = &a;
    const bool both = attempts.size() == 2 && attempts[0].ok && attempts[1].ok;
    out << "dump order: " << orderName(shown->order) << "\n";
    if (both) out << "            (it parses in both orders; --order out shows the other reading)\n";
    else if (attempts.size() == 2)
        for (const Attempt& a : attempts)
            if (!a.ok) out << "            (not in " << orderName(a.order) << " order: " << a.error << ")\n";
    out << TagTable::table(shown->tags, shown->order, shown->order == ByteOrder::LsbFirst);
    Console::out(out.str());
    return 0;
}

} // namespace DecodeCommand
} // namespace ecrlink::tool
