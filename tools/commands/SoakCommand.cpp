// SPDX-License-Identifier: MIT
#include "commands/SoakCommand.h"

#include "base/Console.h"
#include "register/RegisterSession.h"
#include "wire/TagTable.h"

#include "ecrlink/ChannelFactory.h"
#include "ecrlink/ECRDialogue.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace ecrlink::tool {

namespace {

constexpr int SeqTag = 4; // the purchase scenario echoes it: which request an answer belongs to

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

// The simulated terminal as a child process; its output is read by a thread
// of its own so that the terminal never blocks on a full pipe.
class SimProcess {
public:
    bool start(const SoakCommand::Options& o, std::string& path, std::string& error) {
        char self[4096];
        const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
        if (n <= 0) return fail("cannot find this program", error);
        self[n] = '\0';
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return fail("no pipe", error);
        std::vector<std::string> args = {self, "sim", "--pty", "--scenario", o.scenario,
                                         "--faults", o.faults, "--seed", std::to_string(o.seed)};
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(&a[0]);
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        const int spawned = posix_spawn(&pid, self, &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        output = ::fdopen(fds[0], "r");
        if (spawned != 0 || !output) return fail("cannot start the simulated terminal", error);
        for (std::string line; readLine(line);) {
            if (line.rfind("listening on ", 0) != 0) continue;
            path = line.substr(13);
            reader = std::thread([this] {
                for (std::string line; readLine(line);) take(line);
            });
            return true;
        }
        return fail("the simulated terminal ended before it was ready", error);
    }

    // Ends the terminal and returns its summary of the faults.
    std::string stop() {
        if (pid > 0) {
            ::kill(pid, SIGTERM);
            int status = 0;
            ::waitpid(pid, &status, 0);
        }
        if (reader.joinable()) reader.join();
        if (output) std::fclose(output);
        std::lock_guard<std::mutex> lock(mutex);
        return summary;
    }

    std::string pidText() const { return std::to_string(pid); }
    /// Changed frames the register accepted: the message, and the terminal's line.
    std::vector<std::pair<unsigned long, std::string>> noted() {
        std::lock_guard<std::mutex> lock(mutex);
        return notes;
    }

private:
    bool fail(const std::string& why, std::string& error) {
        error = why;
        return false;
    }
    bool readLine(std::string& line) {
        char buffer[4096];
        if (!std::fgets(buffer, sizeof buffer, output)) return false;
        line = buffer;
        if (!line.empty() && line.back() == '\n') line.pop_back();
        return true;
    }
    void take(const std::string& line) {
        std::lock_guard<std::mutex> lock(mutex);
        if (line.rfind("faults: ", 0) == 0) summary = line;
        // The request's echoed number tells which message the change hit.
        const std::size_t at = line.find("accepted the changed frame");
        if (at == std::string::npos) return;
        const std::string tag = std::to_string(SeqTag) + "=u32:";
        const std::size_t number = line.find(tag, at);
        notes.push_back({number == std::string::npos ? 0 : std::strtoul(line.c_str() + number + tag.size(), nullptr, 10), line});
    }

    pid_t pid = -1;
    std::FILE* output = nullptr;
    std::thread reader;
    std::mutex mutex;
    std::string summary;
    std::vector<std::pair<unsigned long, std::string>> notes;
};

std::map<std::string, std::string> fields(const std::string& summary) {
    std::map<std::string, std::string> out;
    std::istringstream words(summary);
    for (std::string word; words >> word;)
        if (const std::size_t eq = word.find('='); eq != std::string::npos) out[word.substr(0, eq)] = word.substr(eq + 1);
    return out;
}

std::string row(const std::string& name, const std::string& value) {
    std::string line = "  " + name;
    line.resize(std::max<std::size_t>(line.size() + 1, 48), ' ');
    return line + value + "\n";
}

} // namespace

int SoakCommand::run(const Options& o) {
    SimProcess sim;
    std::string path, error;
    if (!sim.start(o, path, error)) {
        Console::err("ecrlink: soak: " + error + "\n");
        sim.stop();
        return 2;
    }
    int rc = 0;
    Communication::Channel* channel = Communication::createChannel("serial:" + path, rc, error);
    CECRProto proto;
    proto.setCommunication(channel);
    if (!channel || proto.open(true) != 0) {
        Console::err("ecrlink: soak: cannot open " + path + "\n");
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
    Memory registerStart, simStart;
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
                if (tag.number == static_cast<std::uint32_t>(SeqTag)) tag.value.clear();
            const std::string look = statuses + "answer " + TagTable::summary(tags, ByteOrder::LsbFirst, false) +
                                     "; receipt " + std::string(dialogue.receipt().begin(), dialogue.receipt().end());
            const auto known = lookIds.emplace(look, static_cast<std::uint32_t>(looks.size()));
            if (known.second) looks.push_back(look);
            lookOf[i] = known.first->second;
            twice += repeated;
        }
        if (i == warm) {
            registerStart = memoryOf("self");
            simStart = memoryOf(sim.pidText());
        }
        if (i % std::max(1ul, o.count / 10) == 0)
            Console::err("soak: " + std::to_string(i) + "/" + std::to_string(o.count) + " messages\n");
    }
    const Memory registerEnd = memoryOf("self"), simEnd = memoryOf(sim.pidText());
    proto.close();
    const std::map<std::string, std::string> faults = fields(sim.stop());
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - began).count();

    // A frame whose changed length the register accepted explains what its
    // message then delivered; anything else unusual is a fault of the register.
    const std::vector<std::pair<unsigned long, std::string>> noted = sim.noted();
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
            (note.second.find("(length)") != std::string::npos ? byLength : byByte) = true;
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
    auto get = [&](const char* name) { return faults.count(name) ? faults.at(name) : std::string("?"); };
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
    out << "terminal: " << get("frames") << " frames and " << get("replies") << " replies sent\n";
    // The terminal takes the next reply byte as the answer to a changed frame;
    // after a stale reply that byte belongs to another frame, so the
    // register's side above decides.
    out << row("data or check byte changed", get("corrupt") + ", followed by ACK " + get("corrupt_accepted"));
    out << row("length byte changed", get("length") + ", followed by ACK " + get("length_accepted") + " (expected " +
                                          get("length_expected") + ")");
    out << row("good frame refused with NAK", get("nak"));
    out << row("left out", get("silent_frames") + " frames, " + get("silent_replies") + " replies");
    for (const auto& [message, line] : noted) {
        const unsigned int result = message < results.size() ? results[message] : 0;
        out << "  message " << message << ": the dialogue ended with " << result << " " << ecrlinkResultText(result)
            << (result == 0 && !changed(message) ? ", answer intact" : "") << " (terminal: " << line.substr(3) << ")\n";
    }
    for (std::size_t i = 0; i < seen.size() && i < 20; ++i) out << "  " << seen[i] << "\n";
    out << "peak RSS (VmHWM), kB: after " << warm << " messages / at the end\n";
    out << row("register", std::to_string(registerStart.peakKb) + " / " + std::to_string(registerEnd.peakKb));
    out << row("terminal", std::to_string(simStart.peakKb) + " / " + std::to_string(simEnd.peakKb));

    // Memory is flat when the peak grew by less than a few pages of allocator slack.
    auto flat = [](const Memory& a, const Memory& b) { return b.peakKb <= a.peakKb + 1024; };
    const bool ok = lost == 0 && altered == 0 && unparsed == 0 && byteAccepted == 0 && flat(registerStart, registerEnd) && flat(simStart, simEnd);
    out << "result: " << (ok ? "ok" : "FAILED") << "\n";
    Console::out(out.str());
    return ok ? 0 : 1;
}

} // namespace ecrlink::tool
