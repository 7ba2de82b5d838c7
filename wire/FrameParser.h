// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <vector>

namespace ecrlink::wire {

/// Reads one direction of the line byte by byte: it hands back whole frames
/// (start byte, data, check byte and whether it matches), single control
/// bytes, and on request the frame still in progress. It never waits and
/// never refuses a length: it tells what passed on the line.
class FrameParser {
public:
    struct Frame {
        unsigned char start = 0;
        std::vector<unsigned char> data;
        unsigned char check = 0; ///< as received
        bool checkOk = false;
    };

    /// Sees every data byte before the parser keeps it and may change it
    /// (the capture masks values this way).
    class DataHook {
    public:
        virtual void frameBegins() = 0;
        virtual void dataByte(unsigned char& byte) = 0;

    protected:
        ~DataHook() = default;
    };

    enum class Got { Nothing, Control, Frame };

    explicit FrameParser(DataHook* hook = nullptr) : hook(hook) {}

    /// Takes the next byte. Outside a frame any byte but a start byte is a
    /// control byte (Got::Control). Got::Frame when `byte` closed a frame,
    /// which frame() then holds. When the hook changed data bytes, `byte`
    /// (the check byte) is changed to match, so that a good frame stays good
    /// and a bad one bad without telling anything of what was changed.
    Got take(unsigned char& byte);

    /// The frame just closed, or the one in progress.
    const Frame& frame() const { return current; }
    /// Drops a frame in progress (the other side gave up on it).
    void reset() { state = Idle; }
    bool inFrame() const { return state != Idle; }
    /// True once the length field is complete; announced() is then its value.
    bool lengthKnown() const { return state == Data || state == Check; }
    std::uint32_t announced() const { return length; }

private:
    enum State { Idle, LengthHigh, LengthLow, Data, Check } state = Idle;
    DataHook* hook;
    Frame current;
    std::uint32_t length = 0;
    unsigned char changed = 0; // exclusive-or of what the hook changed
};

} // namespace ecrlink::wire
