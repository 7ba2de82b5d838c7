// SPDX-License-Identifier: MIT
#include "commands/SimCommand.h"

#include "sim/ByteLink.h"
#include "base/Console.h"
#include "base/SignalWatch.h"
#include "sim/PtyPort.h"
#include "sim/Scenario.h"
#include "sim/SimTerminal.h"
#include "sim/TcpListener.h"
#include "sim/CaptureReplay.h"
#include "sim/LineRecorder.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

#include <unistd.h>

namespace ecrlink::tool {

namespace {

std::atomic<bool> interrupted{false};
// The link in use, which a signal interrupts; the lock keeps it alive while it does.
std::mutex activeLock;
ByteLink* active = nullptr;

void onSignal(int) {
    interrupted.store(true);
    const std::lock_guard<std::mutex> lock(activeLock);
    if (active) active->interrupt();
}

// Makes `link` the one a signal interrupts while it lives.
struct Active {
    explicit Active(ByteLink& link) {
        const std::lock_guard<std::mutex> lock(activeLock);
        active = &link;
    }
    ~Active() {
        const std::lock_guard<std::mutex> lock(activeLock);
        active = nullptr;
    }
};

void printLine(const std::string& line) {
    Console::out(line + "\n");
}

using Play = std::function<SimTerminal::Outcome(ByteLink&)>;

int servePty(const Play& play, bool once, LineRecorder* recorder) {
    for (;;) {
        PtyPort pty;
        std::string error;
        if (!pty.open(error)) {
            Console::err("ecrlink: sim: " + error + "\n");
            return 1;
        }
        printLine("listening on " + pty.slavePath());
        ByteLink link(pty.masterFd(), &interrupted);
        link.record(recorder);
        const Active current(link);
        for (;;) {
            const SimTerminal::Outcome outcome = play(link);
            if (once || outcome == SimTerminal::Outcome::Stopped || interrupted.load()) return 0;
            // After a hang-up the line is gone; a fresh pseudo-terminal takes its place.
            if (outcome == SimTerminal::Outcome::Dropped || outcome == SimTerminal::Outcome::Closed) break;
        }
    }
}

int serveTcp(const Play& play, unsigned short port, bool once, LineRecorder* recorder) {
    TcpListener listener;
    std::string error;
    if (!listener.listen(port, error)) {
        Console::err("ecrlink: sim: " + error + "\n");
        return 1;
    }
    printLine("listening on 127.0.0.1:" + std::to_string(listener.port()));
    for (;;) {
        const int peer = listener.accept(&interrupted);
        if (peer < 0) return interrupted.load() ? 0 : 1;
        printLine("-- register connected");
        SimTerminal::Outcome outcome = SimTerminal::Outcome::Completed;
        {
            ByteLink link(peer, &interrupted);
            link.record(recorder);
            const Active current(link);
            do {
                outcome = play(link);
            } while (!once && outcome != SimTerminal::Outcome::Stopped && outcome != SimTerminal::Outcome::Dropped &&
                     outcome != SimTerminal::Outcome::Closed);
        }
        ::close(peer);
        if (once || outcome == SimTerminal::Outcome::Stopped || interrupted.load()) return 0;
    }
}

} // namespace

namespace SimCommand {

int run(const Options& options) {
    Scenario scenario;
    SimTerminal terminal(printLine);
    std::unique_ptr<CaptureReplay> replay;
    std::string error;
    if (!options.replay.empty()) {
        std::vector<Communication::CaptureEvent> events;
        bool truncated = false;
        if (Communication::readCapture(options.replay, events, truncated, error) != Communication::CommOk) {
            Console::err("ecrlink: sim: " + error + "\n");
            return 2;
        }
        replay = std::make_unique<CaptureReplay>(events, options.speed, printLine);
    } else if (!Scenario::load(options.scenario, scenario, error)) {
        Console::err("ecrlink: sim: " + error + "\n");
        return 2;
    }
    if (!options.faults.empty()) {
        FaultPlan::Rates rates;
        if (!FaultPlan::parse(options.faults, rates, error)) {
            Console::err("ecrlink: sim: --faults: " + error + "\n");
            return 2;
        }
        terminal.setFaults(FaultPlan(rates, options.seed));
    }
    std::unique_ptr<LineRecorder> recorder;
    if (!options.capture.empty()) {
        recorder = std::make_unique<LineRecorder>(options.capture);
        if (!recorder->open(error)) {
            Console::err("ecrlink: sim: " + error + "\n");
            return 1;
        }
    }
    const Play play = [&](ByteLink& link) { return replay ? replay->play(link) : terminal.play(link, scenario); };
    const SignalWatch signals(onSignal);
    const int status = options.tcpPort >= 0
                           ? serveTcp(play, static_cast<unsigned short>(options.tcpPort), options.once, recorder.get())
                           : servePty(play, options.once, recorder.get());
    if (recorder) recorder->close();
    if (terminal.faultPlan().active()) printLine(terminal.faultPlan().summary());
    return status;
}

} // namespace SimCommand

} // namespace ecrlink::tool
