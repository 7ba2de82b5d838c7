// SPDX-License-Identifier: MIT
#include "commands/DemoCommand.h"

#include "sim/ByteLink.h"
#include "base/Console.h"
#include "sim/PtyPort.h"
#include "register/RegisterSession.h"
#include "sim/Scenario.h"
#include "sim/SimTerminal.h"

#include <atomic>
#include <sstream>
#include <thread>

namespace ecrlink::tool {

namespace DemoCommand {

int run() {
    PtyPort pty;
    Scenario scenario;
    std::string error;
    if (!pty.open(error) || !Scenario::load("purchase", scenario, error)) {
        Console::err("ecrlink: demo: " + error + "\n");
        return 1;
    }
    Console::out("simulated terminal on " + pty.slavePath() + " (purchase scenario)\n\n");

    std::atomic<bool> stop{false};
    std::thread terminal([&] {
        ByteLink link(pty.masterFd(), &stop);
        SimTerminal sim([](const std::string& line) { Console::out("    terminal | " + line + "\n"); });
        sim.play(link, scenario);
    });

    RegisterSession session;
    RegisterSession::Options options;
    options.address = "serial:" + pty.slavePath();
    options.request = {{2, Bytes{'P', 'U', 'R', 'C', 'H', 'A', 'S', 'E'}}, {4, {}}};
    putU32(options.request[1].value, 1250, ByteOrder::MsbFirst); // the register stores numbers this way
    options.idleMs = 10000;
    const int rc = session.run(options);
    // After a good dialogue the terminal ends by itself; after a failure it may still wait.
    if (rc != 0) stop = true;
    terminal.join();
    if (rc != 0) return rc;

    if (session.receipt().empty()) {
        Console::err("ecrlink: demo: no receipt arrived\n");
        return 1;
    }
    std::ostringstream receipt;
    receipt << "\nreceipt:\n";
    std::istringstream lines(session.receipt());
    for (std::string line; std::getline(lines, line);) receipt << "  | " << line << "\n";
    Console::out(receipt.str());
    return 0;
}

} // namespace DemoCommand
} // namespace ecrlink::tool
