// SPDX-License-Identifier: MIT
#pragma once

#include "ecrlink/Channel.h"
#include "ecrlink/ECRProto.h"
#include "support/Wire.h"

#include <algorithm>
#include <cctype>
#include <deque>
#include <map>
#include <sstream>

namespace testing_support {

/// A channel that plays a script and records every call, in order, as a line such as "flush() -> 0",
/// "write(02 00 03 01 02 04 07) -> 0", "setReadTimeouts(0, 250) -> 0" or "read(1) -> 0 [06]".
/// Script steps, separated by ",": lowercase hex bytes that arrive together (each read takes what it asks for
/// from the first arrival only, so an arrival is one burst on the line); "!n" a read failing with n; "?k hex" a
/// read answering 0 with count k and the bytes, whatever was asked; "Wn/k" the next write answering n having
/// taken k bytes; "Fn", "Tn", "On", "Cn", "In", "Sn" the next result of flush, setReadTimeouts, open, close,
/// isOpened, setOpenFlag. Unscripted reads fail with Silence, as on an expired time-out; other calls give 0.
class ScriptedChannel : public Communication::Channel {
public:
    static constexpr int Silence = 106;
    explicit ScriptedChannel(const std::string& script = "", bool* destroyed = nullptr) : destroyed(destroyed) {
        play(script);
    }
    ~ScriptedChannel() override {
        if (destroyed) *destroyed = true;
    }
    ScriptedChannel& play(const std::string& script) {
        std::istringstream in(script);
        for (std::string s; std::getline(in >> std::ws, s, ',');) {
            if (s.empty()) continue;
            const int n = std::atoi(s.c_str() + 1);
            if (s[0] == '!') arrivals.push_back({{}, n, -1});
            else if (s[0] == '?') arrivals.push_back({hex(s.substr(2)), 0, s[1] - '0'});
            else if (s[0] == 'W') writes.emplace_back(n, s.find('/') == s.npos ? -1 : std::atoi(&s[s.find('/') + 1]));
            else if (std::isupper(s[0])) results[s[0]].push_back(n);
            else arrive(hex(s));
        }
        return *this;
    }
    ScriptedChannel& arrive(const Bytes& bytes) {
        if (!bytes.empty()) arrivals.push_back({bytes, 0, -1});
        return *this;
    }
    std::string transcript() const { return join(calls); }

    std::vector<std::string> calls;
    Bytes written;        // every byte that a write took, in order
    int openState = 0;    // what isOpened() answers once its scripted results are used

    int open() override { return scripted('O', "open()"); }
    int close() override { return scripted('C', "close()"); }
    int isOpened() override { return scripted('I', "isOpened()", openState); }
    int flush() override { return scripted('F', "flush()"); }
    int setOpenFlag(bool flag) override { return scripted('S', flag ? "setOpenFlag(true)" : "setOpenFlag(false)"); }
    int setReadTimeouts(unsigned int first, unsigned int ms) override {
        return scripted('T', "setReadTimeouts(" + std::to_string(first) + ", " + std::to_string(ms) + ")");
    }
    int read(unsigned char* buffer, unsigned int wanted, unsigned int& count) override {
        Arrival a = arrivals.empty() ? Arrival{{}, Silence, -1} : arrivals.front();
        const std::size_t taken = a.count < 0 ? std::min<std::size_t>(wanted, a.bytes.size()) : a.bytes.size();
        count = a.count < 0 ? unsigned(taken) : unsigned(a.count);
        std::copy_n(a.bytes.begin(), taken, buffer);
        calls.push_back("read(" + std::to_string(wanted) + ") -> " + std::to_string(a.rc) +
                        (taken ? " [" + toHex(a.bytes.data(), taken) + "]" : ""));
        if (arrivals.empty()) return a.rc;
        if (a.count >= 0 || a.rc || taken == a.bytes.size()) arrivals.pop_front();
        else arrivals.front().bytes.erase(arrivals.front().bytes.begin(), arrivals.front().bytes.begin() + long(taken));
        return a.rc;
    }
    int write(const unsigned char* data, unsigned int length, unsigned int& count) override {
        const std::pair<int, int> step = writes.empty() ? std::pair<int, int>(0, -1) : writes.front();
        if (!writes.empty()) writes.pop_front();
        count = step.second < 0 ? length : std::min(length, unsigned(step.second));
        written.insert(written.end(), data, data + count);
        calls.push_back("write(" + toHex(data, count) + ") -> " + std::to_string(step.first));
        return step.first;
    }

private:
    struct Arrival { Bytes bytes; int rc; int count; }; // count >= 0: reported whatever the bytes
    int scripted(char op, const std::string& call, int fallback = 0) {
        std::deque<int>& queued = results[op];
        const int rc = queued.empty() ? fallback : queued.front();
        if (!queued.empty()) queued.pop_front();
        calls.push_back(call + " -> " + std::to_string(rc));
        return rc;
    }
    bool* destroyed;
    std::deque<Arrival> arrivals;
    std::deque<std::pair<int, int>> writes; // result, bytes taken (all when negative)
    std::map<char, std::deque<int>> results;
};

/// A protocol object holding a scripted channel.
struct ScriptedLink {
    explicit ScriptedLink(const std::string& script = "") : channel(new ScriptedChannel(script)) { proto.setCommunication(channel); }
    ScriptedChannel* channel;
    CECRProto proto;
};

} // namespace testing_support
