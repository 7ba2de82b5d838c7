// SPDX-License-Identifier: MIT
#include "sim/LineRecorder.h"

#include "ecrlink/CaptureChannel.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace ecrlink::tool {

// The capture channel's inner line: what the terminal sent is handed back as
// the register's read, what the register sent is taken as its write.
struct LineRecorder::Line : Communication::ICommunication {
    std::vector<unsigned char> pending;

    int open() override { return Communication::CommOk; }
    int close() override { return Communication::CommOk; }
    int read(unsigned char* buffer, unsigned int wanted, unsigned int& count) override {
        count = static_cast<unsigned int>(std::min<std::size_t>(wanted, pending.size()));
        std::memcpy(buffer, pending.data(), count);
        pending.erase(pending.begin(), pending.begin() + count);
        return Communication::CommOk;
    }
    int write(const unsigned char*, unsigned int length, unsigned int& count) override {
        count = length;
        return Communication::CommOk;
    }
    int isOpened() override { return Communication::CommOk; }
    int setReadTimeouts(unsigned int, unsigned int) override { return Communication::CommOk; }
    int flush() override { return Communication::CommOk; }
    int setOpenFlag(bool) override { return Communication::CommOk; }
};

LineRecorder::LineRecorder(const std::string& path)
    : line(new Line),
      channel(std::make_unique<Communication::CaptureChannel>(line, Communication::CaptureChannel::Options{path, {}, false, false})) {}

LineRecorder::~LineRecorder() = default;

bool LineRecorder::open(std::string& error) {
    if (channel->open() == Communication::CommOk) return true;
    error = channel->lastError();
    return false;
}

void LineRecorder::close() {
    channel->close();
}

void LineRecorder::fromRegister(const std::uint8_t* bytes, std::size_t size) {
    unsigned int count = 0;
    if (size) channel->write(bytes, static_cast<unsigned int>(size), count);
}

void LineRecorder::toRegister(const std::uint8_t* bytes, std::size_t size) {
    if (!size) return;
    line->pending.assign(bytes, bytes + size);
    std::vector<unsigned char> buffer(size);
    unsigned int count = 0;
    channel->read(buffer.data(), static_cast<unsigned int>(size), count);
}

} // namespace ecrlink::tool
