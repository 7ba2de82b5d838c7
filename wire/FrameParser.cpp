// SPDX-License-Identifier: MIT
#include "wire/FrameParser.h"

#include "wire/CheckByte.h"
#include "wire/Frame.h"

namespace ecrlink::wire {

FrameParser::Got FrameParser::take(unsigned char& byte) {
    switch (state) {
    case Idle:
        if (!isStartByte(byte)) return Got::Control;
        current.start = byte;
        state = LengthHigh;
        return Got::Nothing;
    case LengthHigh:
        length = std::uint32_t(byte) << 8;
        state = LengthLow;
        return Got::Nothing;
    case LengthLow:
        length |= byte;
        current.data.clear();
        changed = 0;
        if (hook) hook->frameBegins();
        state = length == 0 ? Check : Data;
        return Got::Nothing;
    case Data: {
        const unsigned char got = byte;
        if (hook) hook->dataByte(byte);
        changed = static_cast<unsigned char>(changed ^ got ^ byte);
        current.data.push_back(byte);
        if (current.data.size() == length) state = Check;
        return Got::Nothing;
    }
    case Check:
        break;
    }
    const unsigned char real = static_cast<unsigned char>(
        checkByteOf(current.data.data(), static_cast<unsigned int>(current.data.size())) ^ changed);
    current.check = byte;
    current.checkOk = byte == real;
    byte = static_cast<unsigned char>(byte ^ changed);
    state = Idle;
    return Got::Frame;
}

} // namespace ecrlink::wire
