// SPDX-License-Identifier: MIT
// Runs the ecrlink program the way a person would, one test per behaviour:
// commands on their own, and the simulated terminal against `send` over a
// pseudo-terminal or TCP.

#include "support/SimProcess.h"

#include <future>

using namespace testing_support;

namespace {

const std::string NoDir = testing::TempDir() + "ecrlink-no-such-dir/receipt.txt";

Args sendArgs(const std::string& address, Args extra = {}) {
    extra.insert(extra.begin(), {"send", address, "--tag", "2=PURCHASE", "--tag", "4=u32:1250"});
    return extra;
}

// A command on its own, or, given a scenario and no arguments, a dialogue: the simulated terminal plays
// a built-in scenario or a scenario file given by its text, `send` reports what came of it with the
// arguments `extra`, and `sim` is what the terminal printed meanwhile.
struct Case {
    std::string name;
    Args args;
    int exitCode;
    std::vector<std::string> expected;
    std::string scenario = {}; // with arguments: written to a file whose path ends them
    Args extra = {};
    bool tcp = false;
    std::vector<std::string> sim = {};
    std::string receipt = {}; // what --receipt saves
};
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }
struct Run : testing::TestWithParam<Case> {};

TEST_P(Run, Case) {
    Case c = GetParam();
    const bool isFile = c.scenario.find('\n') != std::string::npos;
    const std::string scenario = isFile ? tempFile("scenario.txt", c.scenario) : c.scenario, receipt = tempFile("r.txt", "");
    if (!c.args.empty() || c.scenario.empty()) {
        if (isFile) c.args.push_back(scenario);
        expectAll(run(c.args), c.exitCode, c.expected);
    } else {
        if (!c.receipt.empty()) c.extra.insert(c.extra.end(), {"--receipt", receipt});
        Sim sim({"sim", c.tcp ? "--tcp" : "--pty", c.tcp ? "0" : "--once", "--scenario", scenario});
        expectAll(run(sendArgs((c.tcp ? "tcp:" : "serial:") + sim.address, c.extra)), c.exitCode, c.expected);
        expectAll({0, sim.log(c.sim)}, 0, c.sim);
    }
    EXPECT_EQ(slurp(receipt), c.receipt);
    std::remove(receipt.c_str());
    if (isFile) std::remove(scenario.c_str());
}

// Bad arguments exit 2 and send nothing: the address they name has no listener, which would give 1.
const std::string Nowhere = "tcp:127.0.0.1:1", Answer = "terminal -> register: answer";
const std::string Pin = [] {
    std::string text = "ack\n";
    for (int i = 0; i < 6; ++i) text += "sleep 5000\nstatus 2=PIN\n";
    return text + "send 2=APPROVED\n";
}();
INSTANTIATE_TEST_SUITE_P(Tool, Run, testing::ValuesIn(std::vector<Case>{
    {"DecodeFrame", {"decode", "02 00 03 01 02 04 07"}, 0, {"data frame (STX 02)", "length:     3", "07 (matches)", "01 02 04", "not a tag dump"}},
    {"DecodeBadCheck", {"decode", "02", "00", "03", "01", "02", "04", "08"}, 0, {"DOES NOT MATCH: computed 07"}},
    {"DecodeIncomingDump", {"decode", "01 00 00 00 02 00 00 00 41 42"}, 0, {"dump order: incoming", R"(/\n  1 +2 +41 42 +"AB"/)"}},
    {"DecodeOutgoingDump", {"decode", "00000001 00000002 4142"}, 0, {"dump order: outgoing", R"(/\n  1 +2 +41 42 +"AB"/)"}},
    {"DecodeStatusFrame", {"decode", "12 00 0a 01000000 02000000 4142 00"}, 0, {"status frame (DC2 12)", "(matches)", "\"AB\""}},
    {"DecodeEmptyFrame", {"decode", "02 00 00 00"}, 0, {"data:       none"}},
    {"DecodeInOneOrder", {"decode", "--order", "out", "01 00 00 00 02 00 00 00 41 42"}, 2, {"neither a frame nor a tag dump"}},
    {"DecodeBadHex", {"decode", "zz"}, 2, {"ecrlink: decode: not a hex digit"}},
    {"DecodeMalformedFrame", {"decode", "02 00 05 01"}, 2, {"malformed frame", "announces 5 data bytes"}},
    {"DecodeBadOrder", {"decode", "--order", "x", "02"}, 2, {"--order"}},
    // The amount comes back in the order the register reads numbers.
    {"Demo", {"demo"}, 0, {"status message (312)", "receipt complete", R"(/answer\n(.*\n)*  4 +4 +e2 04 00 00 +u32 1250/)",
                           "receipt:\n  | ECRLINK TEST SHOP\n", "  | THANK YOU\n"}},
    {"NoCommand", {}, 2, {"A subcommand is required"}},
    {"UnknownCommand", {"bogus"}, 2, {"ecrlink: unknown command 'bogus'"}},
    {"SendNeedsATag", {"send", Nowhere}, 2, {"--tag is required"}},
    {"SendBadTag", {"send", Nowhere, "--tag", "08=X", "--tag", "two=X"}, 2, {"ecrlink: send: 'two' is not a tag number"}},
    {"SendRepeatedTag", {"send", Nowhere, "--tag", "2=A", "--tag", "0x2=B"}, 2, {"ecrlink: send: tag 2 given twice (--tag 2=A, --tag 0x2=B)"}},
    {"SendBadAddress", {"send", "tcp:127.0.0.1:99999", "--tag", "2=X"}, 2, {"ecrlink: bad address 'tcp:127.0.0.1:99999'"}},
    {"SendCannotOpen", {"send", "serial:/nonexistent", "--tag", "2=A"}, 1,
     {"ecrlink: open serial:/nonexistent: 103 cannot open the device or socket: No such file or directory\n"}},
    {"SendHelp", {"send", "--help"}, 0, {"--verbose", "each NUM once"}},
    {"SimPortRange", {"sim", "--tcp", "70000"}, 2, {"--tcp"}},
    {"SimPtyOrTcp", {"sim", "--pty", "--tcp", "0"}, 2, {"excludes"}},
    {"SimUnknownScenario", {"sim", "--scenario", "nak:0"}, 2, {"ecrlink: sim: 'nak:0' is neither a built-in scenario"}},
    {"SimBadScenarioFile", {"sim", "--scenario"}, 2, {"/ecrlink: sim: \\S+scenario.txt:3: unknown command 'frobnicate'/"}, "ack\n\nfrobnicate\n"},
    {"SimHelp", {"sim", "--help"}, 0, {"--verbose", "receipt 44|85 \"TEXT\" N", "decimal or 0x hex"}},
    {"SimReplayNotACapture", {"sim", "--replay"}, 2, {"/ecrlink: sim: \\S+scenario.txt: not a capture file/"}, "ack\n"},
    {"SimSpeedWithoutReplay", {"sim", "--speed", "2"}, 2, {"--speed requires --replay"}},
    {"SendReferenceWithoutJournal", {"send", Nowhere, "--tag", "2=X", "--reference", "R-1"}, 2, {"--reference requires --journal"}},
    {"SendJournalOrCapture", {"send", Nowhere, "--tag", "2=X", "--journal", "j", "--capture", "c"}, 2, {"excludes"}},
    {"JournalMissing", {"journal", "/nonexistent"}, 2, {"ecrlink: journal: /nonexistent: No such file or directory\n"}},
    {"JournalOfAnotherFile", {"journal"}, 2, {"/ecrlink: journal: \\S+scenario.txt: not a journal\n/"}, "ack\n"},
    {"DecodeNoCapture", {"decode", "--capture", "/nonexistent"}, 2, {"ecrlink: decode: /nonexistent: No such file or directory"}},
    {"DecodeNothing", {"decode"}, 2, {"ecrlink: decode: give the bytes in hex, or --capture FILE"}},
    {"NakOnce", {}, 0, {Answer}, "nak:1"},
    {"Corrupt", {}, 0, {Answer}, "corrupt", {}, true, {R"(/\(corrupted\).*\n<- NAK\n-> STX .*\n<- ACK/)"}},
    {"Slow", {}, 0, {Answer}, "slow"},
    {"NakThrice", {}, 1, {"ecrlink: send: 303 No Receive Attempts.\n"}, "nak:3"},
    {"Eot", {}, 1, {"ecrlink: send: 304 EOT Received.\n"}, "eot"},
    {"Bel", {}, 1, {"ecrlink: send: 320 no frame from the terminal within the idle time-out\n"}, "ack\nbel\nsleep 3000\n", {"--wait", "1000"}},
    {"Silence", {}, 1, {"ecrlink: send: 306 No ACK Received.\n"}, "silence"},
    {"Drop", {}, 1, {"ecrlink: send: 105 not connected: read: "}, "drop"},
    {"DropTcp", {}, 1, {"ecrlink: send: 105 not connected: read: "}, "drop", {}, true},
    {"Oversize", {}, 1, {"ecrlink: send: 309 Max Message size exceeded.\n"}, "oversize"},
    {"NakNakAck", {}, 0, {Answer, "\"DONE\""}, "nak\nnak\nack\nsend 2=DONE\n"},
    {"CardPresented", {}, 0, {"\"LATE\""}, "ack\nsleep 2000\nsend 2=LATE\n"},
    {"RegisterGivesUp", {}, 1, {"ecrlink: send: 320 no frame"}, "ack\nsleep 700\nsend 2=LATE\n", {"--wait", "300"}, true,
     {"/scenario.txt:3: EOT instead of ACK or NAK; dialogue ends/"}},
    {"UnknownStartByte", {}, 0, {"went on after 308 Unknown STX received.\n", "\"LATE\""}, "ack\nraw 05\nsend 2=LATE\n"},
    {"StatusWithoutDump", {}, 1, {"ecrlink: send: 206 Invalid Sequence.\n"}, "ack\nraw 12 00 03 01 02 03 00\n"},
    {"BrokenStatus", {}, 1, {"went on after 311 Broken status message received\n", "ecrlink: send: 320 no frame"},
     "ack\ncorrupt\nstatus 2=WAIT\nsleep 3000\n", {"--wait", "1000"}},
    {"NoReceipt", {}, 1, {"ecrlink: receipt: the terminal sent none\n"}, "ack\nsend 2=DONE\n", {"--receipt", NoDir}},
    {"ReceiptUnwritable", {}, 1, {"ecrlink: receipt: cannot write " + NoDir + "\n"}, "purchase", {"--receipt", NoDir}},
    // echo hands the request's bytes back unchanged; the receipt is saved as it came.
    // -v: the library's log; twice: every read and write as well. (Not a line of the wire with one -v.)
    {"VerboseOnce", {}, 0, {Answer, "sending message ok!", R"(/^(?![\s\S]*wire [<-])/)"}, "purchase", {"-v"}},
    {"VerboseTwice", {}, 0, {Answer, "sending message ok!", "wire -> 02 00 1c", "wire <- 06"}, "purchase", {"-v", "-v"}},
    {"EchoAndReceipt", {}, 0, {"\"HELLO WORLD\"", R"(/\n  5 +2 +01 02 *\n/)", R"(/\n  4 +4 +00 00 04 e2 /)"},
     "# answer in one go\nack\nsleep 50\nreceipt 85 \"A\\nB\" 2\nsend 2=text:\"HELLO WORLD\" 5=hex:0102 4=echo 9=echo\n", {}, false,
     {"/scenario.txt:5: tag 9 to echo is not in the request/"}, "A\nB"},
}), [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

TEST(Tool, SimServesOneRegisterAfterAnother) {
    for (const Args& simArgs : {Args{"sim", "--pty"}, Args{"sim", "--tcp", "0"}}) {
        Sim sim(simArgs);
        const std::string address = (simArgs[1] == "--pty" ? "serial:" : "tcp:") + sim.address;
        SCOPED_TRACE(address);
        EXPECT_TRUE(simArgs[1] == "--pty" || std::regex_match(sim.address, std::regex(R"(127\.0\.0\.1:\d+)")));
        expectAll(run(sendArgs(address, {"-v"})), 0, {"\"APPROVED\"", "sending message ok!"}); // -v: the library's log
        const Outcome second = run(sendArgs(address));
        expectAll(second, 0, {"\"APPROVED\""});
        EXPECT_THAT(second.output, testing::Not(testing::HasSubstr("sending message")));
        // The terminal reads the register's numbers most significant byte first.
        EXPECT_THAT(sim.log(), testing::HasSubstr("<- STX 28 bytes, check e7 ok: 2=\"PURCHASE\" 4=u32:1250"));
    }
}

TEST(Tool, PseudoTerminalIsReplacedAfterAHangUp) {
    Sim sim({"sim", "--pty", "--scenario", "drop"});
    EXPECT_EQ(run(sendArgs("serial:" + sim.address)).exitCode, 1);
    std::smatch m;
    const std::string log = sim.log({"/hanging up\nlistening on \\S+\n/"});
    ASSERT_TRUE(std::regex_search(log, m, std::regex("hanging up\nlistening on (\\S+)\n"))) << log;
    expectAll(run(sendArgs("serial:" + m[1].str())), 1, {"ecrlink: send: 105 not connected"});
}

// Ctrl-C ends the terminal whatever it does; here it sleeps for ten minutes.
TEST(Tool, InterruptStopsTheTerminalInTheMiddleOfAStep) {
    const std::string file = tempFile("sleep.txt", "ack\nsleep 600000\n");
    Sim sim({"sim", "--tcp", "0", "--scenario", file});
    auto sent = std::async(std::launch::async, [&] { return run(sendArgs("tcp:" + sim.address)); });
    sim.log({"-> ACK"});
    ::kill(-sim.pid, SIGINT);
    int status = -1;
    for (int i = 0; i < 500 && ::waitpid(sim.pid, &status, WNOHANG) == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(sent.get().exitCode, 1);
    std::remove(file.c_str());
}

// A terminal is quiet while the customer types a PIN; the register example must wait with its defaults.
TEST(Tool, ExampleWaitsForASlowTerminal) {
    const std::string file = tempFile("pin.txt", Pin);
    Sim sim({"sim", "--pty", "--once", "--scenario", file});
    int status = -1;
    ::waitpid(start({ECRLINK_EXAMPLE, "serial:" + sim.address, "1250"}, "/dev/null", false), &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    std::remove(file.c_str());
}

// The frames and control bytes of a timeline, without their times.
std::vector<std::string> onLine(const std::string& timeline) {
    std::vector<std::string> lines;
    const std::regex line(R"((R->T|T->R)  [^\n]*)");
    for (std::sregex_iterator i(timeline.begin(), timeline.end(), line), end; i != end; ++i) lines.push_back(i->str());
    return lines;
}

// What `send --capture` recorded, as `decode --capture` tells it: tags in the byte order of their direction, check
// bytes, syncs before each ACK, read time-outs, quiet stretches and a frame the terminal never finished.
TEST(Tool, CapturedDialogueDecodesToItsTimeline) {
    const std::string capture = tempFile("timeline.cap", "");
    const std::vector<std::string> purchase = {
        "R->T  STX 28 bytes, check e7 good: 2=\"PURCHASE\" 4=u32:1250", "T->R  ACK",
        "T->R  DC2 18 bytes, check 03 good: 2=\"PROCESSING\"", "R->T  ACK",
        "T->R  STX 31 bytes, check 22 good: 1=u32:13 2=\"INSERT CARD\"", "R->T  ACK",
        "T->R  STX 51 bytes, check 26 good: 44=[piece 1/3, 35 bytes]", "R->T  ACK",
        "T->R  STX 52 bytes, check 60 good: 44=[piece 2/3, 36 bytes]", "R->T  ACK",
        "T->R  STX 52 bytes, check 5b good: 44=[piece 3/3, 36 bytes]", "R->T  ACK",
        "T->R  STX 42 bytes, check 92 good: 2=\"APPROVED\" 3=\"A1B2C3\" 4=u32:1250", "R->T  ACK"};
    struct Row {
        std::string scenario;
        std::vector<std::string> expected;
    };
    for (const Row& row : std::vector<Row>{
             {"purchase", {"        session began 20", "      open\n", "read time-out 6000 ms\n", "close\n"}},
             {"corrupt", {"T->R  STX 42 bytes, check BAD: 2=\"APPROVED\"", "R->T  NAK\n"}},
             {"ack\nsleep 700\nsend 2=LATE\n",
              {R"(/read time-out 250 ms\n +\d\.\d{6} +read: 106 [^\n]* \(x\d\)\n/)",
               R"(/---- quiet 0\.\d{3} s, longer than the 250 ms read time-out ----\n[^\n]*T->R  STX/)"}},
             {"oversize", {"T->R  STX frame cut short after 0 of 4097 data bytes\n", "R->T  EOT\n"}}}) {
        SCOPED_TRACE(row.scenario);
        const bool isFile = row.scenario.find('\n') != std::string::npos;
        const std::string scenario = isFile ? tempFile("scenario.txt", row.scenario) : row.scenario;
        Sim sim({"sim", "--tcp", "0", "--once", "--scenario", scenario});
        run(sendArgs("tcp:" + sim.address, {"--journal", capture}));
        const Outcome decoded = run({"decode", "--capture", capture});
        expectAll(decoded, 0, row.expected);
        if (row.scenario == "purchase") {
            EXPECT_EQ(onLine(decoded.output), purchase);
            const std::regex synced("capture synced to disk\n[^\n]*R->T  ACK\n");
            EXPECT_EQ(std::distance(std::sregex_iterator(decoded.output.begin(), decoded.output.end(), synced), {}), 6);
        }
    }
    std::remove(capture.c_str());
}

// `send --journal` keeps the transaction and `journal` tells what became of it; a capture holds none. Under a
// file-size limit (SIGXFSZ ignored) `send` fails naming the journal and the reason, and the terminal gets no ACK for
// a frame that is not on disk.
TEST(Tool, JournalTellsWhatBecameOfTheTransaction) {
    const std::string journal = tempFile("j", ""), capture = tempFile("c", ""), limited = tempFile("limited", "");
    const auto send = [](const Args& extra, rlim_t fileLimit = 0) {
        Sim sim({"sim", "--tcp", "0", "--once"});
        const Outcome sent = run(sendArgs("tcp:" + sim.address, extra), true, fileLimit);
        return std::make_pair(sent, sim.log({"/(went away|complete)\n/"}));
    };
    expectAll(send({"--journal", journal, "--reference", "R-1"}).first, 0, {"\"APPROVED\""});
    expectAll(run({"journal", journal}), 0, {"/^outcome: answered\nreference: R-1\n/", "result: 0 success\n",
                                             R"(/answer:\n.*\n  2 +8 +41 50 50 52 4f 56 45 44 +"APPROVED"\n/)", "  | THANK YOU\n"});
    expectAll(run({"journal", journal, "--reference", "R-2"}), 1, {"no transaction with reference 'R-2'"});
    send({"--capture", capture});
    expectAll(run({"journal", capture}), 1, {capture + ": no transaction\n"});

    const auto [out, sim] = send({"--journal", limited}, 1024);
    expectAll(out, 1, {"ecrlink: send: 117 the journal cannot be written: journal " + limited + ": File too large\n"});
    const std::string decoded = run({"decode", "--capture", limited}).output;
    const std::regex acked("<- ACK"), onDisk("T->R  (STX|DC2) .* good");
    EXPECT_LE(std::distance(std::sregex_iterator(sim.begin(), sim.end(), acked), {}),
              std::distance(std::sregex_iterator(decoded.begin(), decoded.end(), onDisk), {})) << sim << decoded;
    for (const std::string& f : {journal, capture, limited}) std::remove(f.c_str());
}

// The terminal's side of a capture played back by `sim --replay` gives `send` the same answer; the terminal's own
// capture holds the same frames as the register's; a masked value reaches neither the file nor its timeline.
TEST(Tool, CaptureIsReplayedAndMasked) {
    const std::string ours = tempFile("register.cap", ""), theirs = tempFile("terminal.cap", "");
    const std::string replayed = tempFile("replayed.cap", ""), card = "4111111111111111";
    Outcome live, again;
    {
        Sim sim({"sim", "--tcp", "0", "--once", "--capture", theirs});
        live = run(sendArgs("tcp:" + sim.address, {"--tag", "5=" + card, "--capture", ours}));
    }
    {
        Sim sim({"sim", "--tcp", "0", "--once", "--replay", ours, "--speed", "3"});
        again = run(sendArgs("tcp:" + sim.address, {"--tag", "5=" + card, "--capture", replayed, "--mask", "9,5"}));
        expectAll({0, sim.log({"-- replay complete\n"})}, 0, {"-- replay complete\n"});
    }
    expectAll(live, 0, {"\"APPROVED\"", "receipt complete"});
    EXPECT_EQ(again.output, live.output);
    EXPECT_EQ(onLine(run({"decode", "--capture", theirs}).output), onLine(run({"decode", "--capture", ours}).output));
    EXPECT_EQ(slurp(replayed).find(card), std::string::npos);
    expectAll(run({"decode", "--capture", replayed}), 0, {"R->T  STX 52 bytes, check f2 good: 2=\"PURCHASE\" 4=u32:1250 5=\"****************\"\n"});
    expectAll(run({"decode", "--capture", theirs, "--html", NoDir}), 1, {"ecrlink: decode: cannot write " + NoDir});
    for (const std::string& f : {ours, theirs, replayed}) std::remove(f.c_str());
}

} // namespace
