// SPDX-License-Identifier: MIT
#include "commands/SoakCommand.h"

#include "base/Console.h"
#include "register/RegisterSession.h"
#include "sim/ByteLink.h"
#include "sim/PtyPort.h"
#include "sim/Scenario.h"
#include "sim/SimTerminal.h"
#include "wire/TagTable.h"

#include "ecrlink/ChannelFactory.h"
#include "ecrlink/ECRDialogue.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

namespace ecrlink::tool {

namespace {

constexpr std::uint32_t SeqTag = 4; // the purchase scenario echoes it: which request an answer belongs to

struct Memory {
    long peakKb = 0; ///< VmHWM
};

Memory memoryOf(const std::string& pid) {
    Memory m;
    std::ifstream status("/proc/" + pid + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0) m.peakKb = std::atol(line.c_str() + 6);
    return m;
}

// The simulated terminal on a pseudo-terminal, played by a thread of this
// process; what it did comes back as its counts and its accepted changes.
class SimThread {
public:
    SimThread() = default;
    SimThread(const SimThread&) = delete;
    SimThread& operator=(const SimThread&) = delete;
    ~SimThread() { stop(); }

    bool start(const SoakCommand::Options& o, std::string& error) {
        FaultPlan::Rates rates;
        if (!Scenario::load(o.scenario, scenario, error)) return false;
        if (!FaultPlan::parse(o.faults, rates, error)) return fail("--faults: " + error, error);
        if (!pty.open(error)) return false;
        terminal.setFaults(FaultPlan(rates, o.seed));
        terminal.onAcceptedChange([this](const SimTerminal::AcceptedChange& change) {
            // The request's echoed number tells which message the change hit.
            unsigned long number = 0;
            for (const RawTag& tag : change.request)
                if (tag.number == SeqTag && tag.value.size() == 4) number = getU32(tag.value.data(), ByteOrder::MsbFirst);
            const std::lock_guard<std::mutex> lock(mutex);
            notes.push_back({number, change});
        });
        link = std::make_unique<ByteLink>(pty.masterFd(), &stopping);
        player = std::thread([this] {
            for (;;) {
                const SimTerminal::Outcome outcome = terminal.play(*link, scenario);
                if (outcome == SimTerminal::Outcome::Stopped || outcome == SimTerminal::Outcome::Dropped ||
                    outcome == SimTerminal::Outcome::Closed || stopping.load())
                    return;
            }
        });
        return true;
    }

    const std::string& path() const { return pty.slavePath(); }

    // Ends the terminal; its counts are final from then on.
    const FaultPlan::Counts& stop() {
        stopping.store(true);
        if (link) link->interrupt();
        if (player.joinable()) player.join();
        return terminal.faultPlan().counts();
    }

    /// Changed frames the register accepted: the message, and the change.
    std::vector<std::pair<unsigned long, SimTerminal::AcceptedChange>> noted() {
        const std::lock_guard<std::mutex> lock(mutex);
        return notes;
    }

private:
    bool fail(const std::string& why, std::string& error) {
        error = why;
        return false;
    }

    Scenario scenario;
    PtyPort pty;
    SimTerminal terminal{nullptr};
    std::atomic<bool> stopping{false};
    std::unique_ptr<ByteLink> link;
    std::thread player;
    std::mutex mutex;
    std::vector<std::pair<unsigned long, SimTerminal::AcceptedChange>> notes;
};

std::string row(const std::string& name, const std::string& value) {
    std::string line = "  " + name;
    line.resize(std::max<std::size_t>(line.size() + 1, 48), ' ');
    return line + value + "\n";
}

} // namespace

int SoakCommand::run(const Options& o) {
    SimThread sim;
    std::string error;
    if (!sim.start(o, error)) {
        Console::err("ecrlink: soak: " + error + "\n");
        sim.stop();
        return 2;
    }
    int rc = 0;
    Communication::Channel* channel = Communication::createChannel("serial:" + sim.path(), rc, error);
    CECRProto proto;
    proto.setCommunication(channel);
    if (!channel || proto.open(true) != 0) {
        Console::err("ecrlink: soak: cannot open " + sim.path() + "\n");
        sim.stop();
        return 2;
    }
    CECRDialogue dialogue(proto);
    dialogue.setIdleTimeout(o.idleMs);
    dialogue.setOverallTimeout(o.overallMs);
    // Without sequence numbers a frame that the terminal repeats after a
    // stale NAK arrives twice; a status seen twice in a row is counted apart.
    std::string statuses, lastStatus;
    bool repeated = false;
    dialogue.onStatus([&](CTLVMessage& status) {
        const std::string shown = TagTable::summary(RegisterSession::tagsOf(status), ByteOrder::LsbFirst, false) + "; ";
        if (shown == lastStatus) repeated = true;
        else statuses += shown;
        lastStatus = shown;
    });

    // Every message of a clean run looks the same apart from the echoed
    // number, so the commonest look is the intact one and any other is a
    // change that got through.
    std::map<std::string, std::uint32_t> lookIds;
    std::vector<std::string> looks;
    std::vector<std::uint32_t> lookOf(o.count + 1, 0);
    std::vector<unsigned int> results(o.count + 1, 0);
    unsigned long twice = 0;
    std::map<unsigned long, std::string> foreign; // answers without this request's number
    const unsigned long warm = std::min(o.count, std::max(100ul, o.count / 50));
    Memory start;
    const auto began = std::chrono::steady_clock::now();

    for (unsigned long i = 1; i <= o.count; ++i) {
        CTLVMessage request, answer;
        const unsigned char number[4] = {static_cast<unsigned char>(i >> 24), static_cast<unsigned char>(i >> 16),
                                         static_cast<unsigned char>(i >> 8), static_cast<unsigned char>(i)};
        request.addTag(new CTLVTag(2, reinterpret_cast<const unsigned char*>("PURCHASE"), 8));
        request.addTag(new CTLVTag(SeqTag, number, 4));
        statuses.clear();
        lastStatus.clear();
        repeated = false;
        results[i] = dialogue.run(request, answer);
        if (results[i] == 0) {
            unsigned int echoed = 0;
            std::vector<RawTag> tags = RegisterSession::tagsOf(answer);
            if (answer.getTagNumValue(SeqTag, echoed) != 0 || echoed != i)
                foreign[i] = TagTable::summary(tags, ByteOrder::LsbFirst, false);
            for (RawTag& tag : tags)
                if (tag.number == SeqTag) tag.value.clear();
            const std::string look = statuses + "answer " + TagTable::summary(tags, ByteOrder::LsbFirst, false) +
                                     "; receipt " + std::string(dialogue.receipt().begin(), dialogue.receipt().end());
            const auto known = lookIds.emplace(look, static_cast<std::uint32_t>(looks.size()));
            if (known.second) looks.push_back(look);
            lookOf[i] = known.first->second;
            twice += repeated;
        }
        if (i == warm) {
            start = memoryOf("self");
        }
        if (i % std::max(1ul, o.count / 10) == 0)
            Console::err("soak: " + std::to_string(i) + "/" + std::to_string(o.count) + " messages\n");
    }
    const Memory end = memoryOf("self");
    proto.close();
    const FaultPlan::Counts& faults = sim.stop();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - began).count();

    // A frame whose changed length the register accepted explains what its
    // message then delivered; anything else unusual is a fault of the register.
    const std::vector<std::pair<unsigned long, SimTerminal::AcceptedChange>> noted = sim.noted();
    std::vector<unsigned long> lookCount(looks.size(), 0);
    for (unsigned long i = 1; i <= o.count; ++i)
        if (results[i] == 0) ++lookCount[lookOf[i]];
    std::uint32_t intact = 0;
    for (std::uint32_t id = 0; id < looks.size(); ++id)
        if (lookCount[id] > lookCount[intact]) intact = id;
    std::map<unsigned int, unsigned long> failures;
    unsigned long delivered = 0, slipped = 0, altered = 0, lost = 0, unparsed = 0, byteAccepted = 0;
    std::vector<std::string> seen;
    auto changed = [&](unsigned long i) { return results[i] == 0 && (foreign.count(i) || lookOf[i] != intact); };
    for (unsigned long i = 1; i <= o.count; ++i) {
        bool byLength = false, byByte = false;
        for (const auto& note : noted) {
            if (note.first != i) continue;
            (note.second.fault == FaultPlan::Fault::Length ? byLength : byByte) = true;
        }
        // Only an accepted frame that was changed on the line can fail to parse
        // or change an answer; the one-byte check must catch every changed data byte.
        const bool harmed = results[i] == 0 ? changed(i) : results[i] >= 201 && results[i] <= 207;
        if (results[i] != 0) ++failures[results[i]];
        if (harmed && byLength) {
            slipped += results[i] == 0;
        } else if (harmed && byByte) {
            ++byteAccepted;
            seen.push_back("message " + std::to_string(i) + ": a changed data or check byte got through");
        } else if (results[i] != 0) {
            unparsed += harmed;
        } else if (!harmed) {
            ++delivered;
        } else if (foreign.count(i)) {
            ++lost;
            seen.push_back("message " + std::to_string(i) + ": answer of another request: " + foreign[i]);
        } else {
            ++altered;
            seen.push_back("message " + std::to_string(i) + ": " + looks[lookOf[i]].substr(0, 300));
        }
    }
    auto get = [](unsigned long n) { return std::to_string(n); };
    char expected[32];
    std::snprintf(expected, sizeof expected, "%.3f", faults.lengthExpected);
    std::ostringstream out;
    out << "soak: " << o.count << " messages (" << o.scenario << "), faults " << o.faults << ", seed " << o.seed
        << ", idle time-out " << o.idleMs << " ms, " << seconds << " s\n";
    out << row("delivered", std::to_string(delivered));
    out << row("  with a status message twice (a repeated frame)", std::to_string(twice));
    unsigned long failed = 0;
    for (const auto& [code, n] : failures) failed += n;
    out << row("failed with a code", std::to_string(failed));
    for (const auto& [code, n] : failures) out << row("  " + std::to_string(code) + " " + ecrlinkResultText(code), std::to_string(n));
    out << row("delivered changed by an accepted length change", std::to_string(slipped));
    out << row("delivered with other changed content", std::to_string(altered));
    out << row("lost without a code", std::to_string(lost));
    out << row("not parsable, no changed frame accepted", std::to_string(unparsed));
    out << row("changed data or check byte accepted", std::to_string(byteAccepted));
    out << "terminal: " << get(faults.frames) << " frames and " << get(faults.replies) << " replies sent\n";
    // The terminal takes the next reply byte as the answer to a changed frame;
    // after a stale reply that byte belongs to another frame, so the
    // register's side above decides.
    out << row("data or check byte changed", get(faults.corrupt) + ", followed by ACK " + get(faults.corruptAccepted));
    out << row("length byte changed", get(faults.length) + ", followed by ACK " + get(faults.lengthAccepted) + " (expected " +
                                          expected + ")");
    out << row("good frame refused with NAK", get(faults.nak));
    out << row("left out", get(faults.silentFrames) + " frames, " + get(faults.silentReplies) + " replies");
    for (const auto& [message, change] : noted) {
        const unsigned int result = message < results.size() ? results[message] : 0;
        out << "  message " << message << ": the dialogue ended with " << result << " " << ecrlinkResultText(result)
            << (result == 0 && !changed(message) ? ", answer intact" : "") << " (terminal: " << SimTerminal::describe(change) << ")\n";
    }
    for (std::size_t i = 0; i < seen.size() && i < 20; ++i) out << "  " << seen[i] << "\n";
    out << "peak RSS (VmHWM), kB: after " << warm << " messages / at the end\n";
    out << row("register and terminal (one process)", std::to_string(start.peakKb) + " / " + std::to_string(end.peakKb));

    // Memory is flat when the peak grew by less than a few pages of allocator slack.
    auto flat = [](const Memory& a, const Memory& b) { return b.peakKb <= a.peakKb + 1024; };
    const bool ok = lost == 0 && altered == 0 && unparsed == 0 && byteAccepted == 0 && flat(start, end);
    out << "result: " << (ok ? "ok" : "FAILED") << "\n";
    Console::out(out.str());
    return ok ? 0 : 1;
}

} // namespace ecrlink::tool
