// SPDX-License-Identifier: MIT
// The register (`ecrlink send --journal`) killed at every call it makes on its journal and its line during a
// purchase: before the call, after it, halfway through a write; and the disk full from the Nth write or sync of the
// journal on. After each, what `ecrlink journal` tells of the purchase is held against what the simulated terminal
// recorded. ECRLINK_CRASH_TABLE=1 prints the table of every kill point.
#include "support/SimProcess.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

using namespace testing_support;

namespace {

// What the terminal recorded: nothing, the request, its final answer, or that answer and its ACK.
std::string terminalSaw(const std::string& log) {
    const std::size_t answer = log.find("-> STX 42 bytes, check 92: 2=\"APPROVED\" 3=\"A1B2C3\" 4=u32:1250\n");
    if (answer != std::string::npos) return log.find("<- ACK\n", answer) == log.find('\n', answer) + 1 ? "answer acked" : "answer";
    return log.find("<- STX 28 bytes, check e7 ok: 2=\"PURCHASE\" 4=u32:1250\n") != std::string::npos ? "request" : "nothing";
}

struct Crash : testing::TestWithParam<const char*> {};

TEST_P(Crash, JournalNeverClaimsMoreThanTheTerminalSaw) {
    const std::string mode = GetParam(), dir = testing::TempDir() + "ecrlink-crash-" + mode + std::to_string(::getpid());
    const std::string journal = dir + "/j", note = dir + "/note";
    const auto purchase = [&](long n) {
        std::filesystem::remove_all(dir);
        std::filesystem::create_directory(dir);
        Sim sim({"sim", "--tcp", "0", "--once"});
        const Outcome sent = run({"env", "LD_PRELOAD=" ECRLINK_KILLPOINT, "ASAN_OPTIONS=verify_asan_link_order=0",
                                  "ECRLINK_KILL=" + std::to_string(n) + " " + mode, "ECRLINK_KILL_NOTE=" + note, ECRLINK_TOOL,
                                  "send", "tcp:" + sim.address, "--journal", journal, "--reference", "R-1", "--tag",
                                  "2=PURCHASE", "--tag", "4=u32:1250"}, false);
        // A register killed before it connected leaves the terminal waiting: this connection ends its one dialogue.
        run({"bash", "-c", "exec 3<>/dev/tcp/" + sim.address.substr(0, 9) + "/" + sim.address.substr(10)}, false);
        return std::make_pair(sent, terminalSaw(sim.log({"/(went away|complete)\n/"})));
    };
    purchase(0);
    const long calls = std::atol(slurp(note).c_str());
    ASSERT_GT(calls, 50);
    for (long n = 1; n <= calls; ++n) {
        const auto [sent, terminal] = purchase(n);
        const std::string at = std::filesystem::exists(note) ? slurp(note) : "(not reached)";
        const std::string told = run({"journal", journal}).output;
        const std::string outcome = told.rfind("outcome: ", 0) == 0 ? told.substr(9, told.find('\n') - 9) : "-";
        const std::string row = std::to_string(n) + " " + mode + " | " + at + " | " + outcome + " | " + terminal;
        if (std::getenv("ECRLINK_CRASH_TABLE")) std::printf("%s\n", row.c_str());
        EXPECT_TRUE((outcome != "-" && outcome != "not sent") || terminal == "nothing") << row;
        EXPECT_TRUE(outcome != "answered" || terminal == "answer acked") << row;
        EXPECT_TRUE(terminal != "answer acked" || outcome.rfind("answered", 0) == 0) << row;
        if (told.find("\nanswer:\n") != std::string::npos) {
            EXPECT_TRUE(contains(told, R"(/ "APPROVED"\n.* "A1B2C3"\n.* u32 1250\n/)") && terminal.rfind("answer", 0) == 0) << row;
        }
        if (mode == "nospace" && at != "(not reached)") {
            EXPECT_TRUE(sent.exitCode != 0 && contains(sent.output, "journal " + journal + ": No space left on device")) << row;
        }
    }
    std::filesystem::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Register, Crash, testing::Values("before", "after", "half", "nospace"));

} // namespace
