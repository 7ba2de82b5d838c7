#include "support/ScriptedChannel.h"

#include <cstdio>
#include <stdexcept>

namespace testing_support {

Bytes hex(const std::string& text) {
    Bytes result;
    int high = -1;
    for (char c : text) {
        if (c == ' ' || c == ':' || c == '\n') continue;
        int v;
        if (c >= '0' && c <= '9') v = c - '0';
        else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
        else throw std::invalid_argument("bad hex text: " + text);
        if (high < 0) {
            high = v;
        } else {
            result.push_back(static_cast<std::uint8_t>(high * 16 + v));
            high = -1;
        }
    }
    if (high >= 0) throw std::invalid_argument("odd hex text: " + text);
    return result;
}

std::string toHex(const std::uint8_t* data, std::size_t size) {
    std::string text;
    char digits[4];
    for (std::size_t i = 0; i < size; ++i) {
        std::snprintf(digits, sizeof digits, i ? " %02x" : "%02x", data[i]);
        text += digits;
    }
    return text;
}

ScriptedChannel::~ScriptedChannel() {
    if (destroyedFlag) *destroyedFlag = true;
}

ScriptedChannel& ScriptedChannel::arrive(const Bytes& bytes) {
    arrivals.push_back({bytes, 0, false, 0});
    return *this;
}

ScriptedChannel& ScriptedChannel::trickle(const std::string& hexText) {
    for (std::uint8_t b : hex(hexText)) arrive(Bytes{b});
    return *this;
}

ScriptedChannel& ScriptedChannel::readFails(int rc) {
    arrivals.push_back({{}, rc, false, 0});
    return *this;
}

ScriptedChannel& ScriptedChannel::readRaw(int rc, const Bytes& bytes, unsigned int count) {
    arrivals.push_back({bytes, rc, true, count});
    return *this;
}

ScriptedChannel& ScriptedChannel::writeResult(int rc, int count) {
    writeSteps.push_back({rc, count});
    return *this;
}

ScriptedChannel& ScriptedChannel::flushResult(int rc) { flushResults.push_back(rc); return *this; }
ScriptedChannel& ScriptedChannel::timeoutResult(int rc) { timeoutResults.push_back(rc); return *this; }
ScriptedChannel& ScriptedChannel::openResult(int rc) { openResults.push_back(rc); return *this; }
ScriptedChannel& ScriptedChannel::closeResult(int rc) { closeResults.push_back(rc); return *this; }
ScriptedChannel& ScriptedChannel::isOpenedResult(int rc) { isOpenedResults.push_back(rc); return *this; }
ScriptedChannel& ScriptedChannel::openFlagResult(int rc) { openFlagResults.push_back(rc); return *this; }
ScriptedChannel& ScriptedChannel::isOpenedAlways(int rc) { isOpenedDefault = rc; return *this; }

int ScriptedChannel::next(std::deque<int>& queue, int fallback) {
    if (queue.empty()) return fallback;
    int rc = queue.front();
    queue.pop_front();
    return rc;
}

int ScriptedChannel::open() {
    int rc = next(openResults, 0);
    log.push_back("open() -> " + std::to_string(rc));
    return rc;
}

int ScriptedChannel::close() {
    int rc = next(closeResults, 0);
    log.push_back("close() -> " + std::to_string(rc));
    return rc;
}

int ScriptedChannel::read(unsigned char* buffer, unsigned int wanted, unsigned int& count) {
    std::string call = "read(" + std::to_string(wanted) + ")";
    if (arrivals.empty()) {
        count = 0;
        log.push_back(call + " -> " + std::to_string(Silence));
        return Silence;
    }
    Arrival& head = arrivals.front();
    int rc = head.rc;
    std::size_t taken;
    if (head.raw) {
        taken = head.bytes.size();
        count = head.rawCount;
    } else {
        taken = std::min<std::size_t>(wanted, head.bytes.size());
        count = static_cast<unsigned int>(taken);
    }
    for (std::size_t i = 0; i < taken; ++i) buffer[i] = head.bytes[i];
    log.push_back(call + " -> " + std::to_string(rc) + (taken ? " [" + toHex(head.bytes.data(), taken) + "]" : ""));
    if (head.raw || rc != 0 || taken == head.bytes.size()) {
        arrivals.pop_front();
    } else {
        head.bytes.erase(head.bytes.begin(), head.bytes.begin() + static_cast<std::ptrdiff_t>(taken));
    }
    return rc;
}

int ScriptedChannel::write(const unsigned char* data, unsigned int length, unsigned int& count) {
    int rc = 0;
    unsigned int took = length;
    if (!writeSteps.empty()) {
        rc = writeSteps.front().rc;
        if (writeSteps.front().count >= 0) took = std::min(length, static_cast<unsigned int>(writeSteps.front().count));
        writeSteps.pop_front();
    }
    count = took;
    out.insert(out.end(), data, data + took);
    log.push_back("write(" + toHex(data, took) + ") -> " + std::to_string(rc));
    return rc;
}

int ScriptedChannel::isOpened() {
    int rc = next(isOpenedResults, isOpenedDefault);
    log.push_back("isOpened() -> " + std::to_string(rc));
    return rc;
}

int ScriptedChannel::setReadTimeouts(unsigned int first, unsigned int milliseconds) {
    int rc = next(timeoutResults, 0);
    log.push_back("setReadTimeouts(" + std::to_string(first) + ", " + std::to_string(milliseconds) + ") -> " +
                  std::to_string(rc));
    return rc;
}

int ScriptedChannel::flush() {
    int rc = next(flushResults, 0);
    log.push_back("flush() -> " + std::to_string(rc));
    return rc;
}

int ScriptedChannel::setOpenFlag(bool flag) {
    int rc = next(openFlagResults, 0);
    log.push_back(std::string("setOpenFlag(") + (flag ? "true" : "false") + ") -> " + std::to_string(rc));
    return rc;
}

} // namespace testing_support
