// SPDX-License-Identifier: MIT
#include "commands/DecodeCommand.h"

#include "base/Console.h"
#include "wire/TagTable.h"
#include "wire/WireDump.h"

#include "wire/CheckByte.h"
#include "wire/FrameParser.h"

#include <sstream>

namespace ecrlink::tool {

namespace {

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
    // The bytes are a frame when the parser closes one exactly at the last byte.
    const bool startByte = wire::isStartByte(bytes[0]);
    wire::FrameParser parser;
    std::size_t taken = 0;
    bool closed = false;
    while (startByte && taken < bytes.size() && !closed) {
        std::uint8_t byte = bytes[taken++];
        closed = parser.take(byte) == wire::FrameParser::Got::Frame;
    }
    const std::size_t announced = parser.announced();
    const bool frame = closed && taken == bytes.size();
    Bytes data;
    if (frame) {
        data = parser.frame().data;
        const std::uint8_t check = parser.frame().check;
        const std::uint8_t computed = wire::checkByteOf(data.data(), static_cast<unsigned int>(data.size()));
        out << "frame:      " << (bytes[0] == wire::STX ? "data frame (STX 02)" : "status frame (DC2 12)") << "\n"
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
