#include "support/ScriptedChannel.h"

#include <algorithm>

namespace testing_support {

ScriptedChannel::~ScriptedChannel() {
    if (destroyedFlag) *destroyedFlag = true;
}

ScriptedChannel& ScriptedChannel::trickle(const std::string& hexText) {
    for (std::uint8_t b : hex(hexText)) arrive(Bytes{b});
    return *this;
}

int ScriptedChannel::scripted(const std::string& op, const std::string& args, int fallback) {
    std::deque<int>& queued = results[op];
    int rc = fallback;
    if (!queued.empty()) {
        rc = queued.front();
        queued.pop_front();
    }
    log.push_back(op + "(" + args + ") -> " + std::to_string(rc));
    return rc;
}

int ScriptedChannel::read(unsigned char* buffer, unsigned int wanted, unsigned int& count) {
    const std::string call = "read(" + std::to_string(wanted) + ") -> ";
    count = 0;
    if (arrivals.empty()) {
        log.push_back(call + std::to_string(Silence));
        return Silence;
    }
    Arrival& head = arrivals.front();
    const std::size_t taken = head.raw ? head.bytes.size() : std::min<std::size_t>(wanted, head.bytes.size());
    count = head.raw ? head.rawCount : static_cast<unsigned int>(taken);
    std::copy_n(head.bytes.begin(), taken, buffer);
    log.push_back(call + std::to_string(head.rc) + (taken ? " [" + toHex(head.bytes.data(), taken) + "]" : ""));
    const int rc = head.rc;
    if (head.raw || rc != 0 || taken == head.bytes.size()) arrivals.pop_front();
    else head.bytes.erase(head.bytes.begin(), head.bytes.begin() + static_cast<std::ptrdiff_t>(taken));
    return rc;
}

int ScriptedChannel::write(const unsigned char* data, unsigned int length, unsigned int& count) {
    int rc = 0;
    count = length;
    if (!writeSteps.empty()) {
        rc = writeSteps.front().first;
        if (writeSteps.front().second >= 0) count = std::min(length, static_cast<unsigned int>(writeSteps.front().second));
        writeSteps.pop_front();
    }
    out.insert(out.end(), data, data + count);
    log.push_back("write(" + toHex(data, count) + ") -> " + std::to_string(rc));
    return rc;
}

} // namespace testing_support
