// Runs the ecrlink program the way a person would: decode, demo, and the
// simulated terminal against `send` over a pseudo-terminal and over TCP.

#include <gmock/gmock.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

using testing::HasSubstr;
using testing::Not;

namespace {

const char* toolPath() {
    const char* path = std::getenv("ECRLINK_TOOL");
    return path && *path ? path : nullptr;
}

pid_t spawn(const std::vector<std::string>& args, int& outputFd) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(fds[1], 1);
        ::dup2(fds[1], 2);
        std::vector<char*> argv{const_cast<char*>(toolPath())};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    outputFd = fds[0];
    return pid;
}

// Reads until end of output, the deadline, or a line matching `until` when given.
bool readOutput(int fd, std::string& output, std::chrono::steady_clock::time_point deadline,
                const std::regex* until = nullptr) {
    char buffer[4096];
    for (;;) {
        if (until && std::regex_search(output, *until)) return true;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) return !until;
        output.append(buffer, static_cast<std::size_t>(n));
    }
}

struct Outcome {
    int exitCode = -1; // -1: killed at the time limit
    std::string output;
};

Outcome run(const std::vector<std::string>& args, int limitMs = 30000) {
    Outcome result;
    int fd = -1;
    const pid_t pid = spawn(args, fd);
    const bool finished = readOutput(fd, result.output, std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs));
    if (!finished) ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ::close(fd);
    if (finished && WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    return result;
}

// `ecrlink sim ...` in the background; address() is what it listens on.
class Sim {
public:
    explicit Sim(std::vector<std::string> args) {
        args.insert(args.begin(), "sim");
        pid = spawn(args, fd);
        const std::regex listening("listening on (\\S+)\n");
        readOutput(fd, output, std::chrono::steady_clock::now() + std::chrono::seconds(10), &listening);
        std::smatch m;
        if (std::regex_search(output, m, listening)) where = m[1];
    }
    ~Sim() {
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
        ::close(fd);
    }
    Sim(const Sim&) = delete;
    Sim& operator=(const Sim&) = delete;

    const std::string& address() const { return where; }
    /// Everything printed so far, waiting up to `ms` for more.
    const std::string& log(int ms = 300) {
        readOutput(fd, output, std::chrono::steady_clock::now() + std::chrono::milliseconds(ms));
        return output;
    }

private:
    pid_t pid = -1;
    int fd = -1;
    std::string output;
    std::string where;
};

class Tool : public testing::Test {
protected:
    void SetUp() override {
        if (!toolPath()) GTEST_SKIP() << "ECRLINK_TOOL is not set";
    }
};

const std::vector<std::string> Purchase{"--tag", "2=PURCHASE", "--tag", "4=u32:1250", "--wait", "4000"};

std::vector<std::string> sendArgs(const std::string& address, std::vector<std::string> extra = {}) {
    std::vector<std::string> args{"send", address};
    args.insert(args.end(), Purchase.begin(), Purchase.end());
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

std::string tempFile(const std::string& name, const std::string& content) {
    const std::string path = ::testing::TempDir() + "ecrlink_" + std::to_string(::getpid()) + "_" + name;
    std::ofstream(path) << content;
    return path;
}

// ---------------------------------------------------------------- decode

struct DecodeCase {
    std::vector<std::string> args;
    int exitCode;
    std::vector<std::string> expected; // substrings or, between slashes, patterns
};

void PrintTo(const DecodeCase& c, std::ostream* os) {
    for (const std::string& a : c.args) *os << a << ' ';
}

class Decode : public Tool, public testing::WithParamInterface<DecodeCase> {};

TEST_P(Decode, ExplainsFramesAndDumps) {
    const DecodeCase& c = GetParam();
    std::vector<std::string> args{"decode"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const Outcome r = run(args);
    EXPECT_EQ(r.exitCode, c.exitCode) << r.output;
    for (const std::string& e : c.expected) {
        if (e.size() > 2 && e.front() == '/' && e.back() == '/')
            EXPECT_TRUE(std::regex_search(r.output, std::regex(e.substr(1, e.size() - 2)))) << e << "\n" << r.output;
        else
            EXPECT_THAT(r.output, HasSubstr(e));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Tool, Decode,
    testing::Values(
        DecodeCase{{"02 00 03 01 02 04 07"}, 0, {"data frame (STX 02)", "length:     3", "07 (matches)", "01 02 04", "not a tag dump"}},
        DecodeCase{{"02", "00", "03", "01", "02", "04", "08"}, 0, {"DOES NOT MATCH: computed 07"}},
        DecodeCase{{"01 00 00 00 02 00 00 00 41 42"}, 0, {"dump order: incoming", R"(/\n  1 +2 +41 42 +"AB"/)"}},
        DecodeCase{{"00000001 00000002 4142"}, 0, {"dump order: outgoing", R"(/\n  1 +2 +41 42 +"AB"/)"}},
        DecodeCase{{"01000000 04000000 0d000000"}, 0, {"u32 13"}},
        DecodeCase{{"12 00 0a 01000000 02000000 4142 00"}, 0, {"status frame (DC2 12)", "(matches)", "\"AB\""}},
        DecodeCase{{"2c000000 0a000000 01000000 03000000 4142"}, 0, {"piece 1/3 \"AB\""}},
        DecodeCase{{"02 00 00 00"}, 0, {"data:       none"}},
        DecodeCase{{"--order", "out", "01 00 00 00 02 00 00 00 41 42"}, 2, {"neither a frame nor a tag dump"}},
        DecodeCase{{"zz"}, 2, {"not a hex digit"}},
        DecodeCase{{"0 2"}, 2, {"odd number of hex digits"}},
        DecodeCase{{"02 00 05 01"}, 2, {"malformed frame", "announces 5 data bytes"}},
        DecodeCase{{"--order", "sideways", "02"}, 2, {"--order"}}));

// ---------------------------------------------------------------- demo

TEST_F(Tool, DemoRunsAWholePurchaseAndPrintsTheReceipt) {
    const Outcome r = run({"demo"});
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_THAT(r.output, HasSubstr("status message (312)"));
    EXPECT_THAT(r.output, HasSubstr("receipt complete"));
    // The amount comes back in the order the register reads numbers.
    EXPECT_TRUE(std::regex_search(r.output, std::regex(R"(answer\n(.*\n)*  4 +4 +e2 04 00 00 +u32 1250)"))) << r.output;
    EXPECT_THAT(r.output, HasSubstr("receipt:\n  | ECRLINK TEST SHOP\n"));
    EXPECT_THAT(r.output, HasSubstr("  | THANK YOU\n"));
}

// ---------------------------------------------------------------- faults

struct FaultCase {
    std::string scenario;
    int exitCode;
    std::string failure; // the "ecrlink: ..." line, empty on success
    bool tcp = false;
};

void PrintTo(const FaultCase& c, std::ostream* os) {
    *os << c.scenario << (c.tcp ? " over TCP" : "");
}

class Fault : public Tool, public testing::WithParamInterface<FaultCase> {};

TEST_P(Fault, SendReportsTheCodeOfTheFault) {
    const FaultCase& c = GetParam();
    Sim sim({c.tcp ? "--tcp" : "--pty", c.tcp ? "0" : "--once", "--scenario", c.scenario});
    ASSERT_FALSE(sim.address().empty());
    const Outcome r = run(sendArgs((c.tcp ? "tcp:" : "serial:") + sim.address()));
    EXPECT_EQ(r.exitCode, c.exitCode) << r.output << sim.log();
    if (c.failure.empty())
        EXPECT_THAT(r.output, HasSubstr("terminal -> register: answer"));
    else
        EXPECT_THAT(r.output, HasSubstr("ecrlink: " + c.failure + "\n"));
}

INSTANTIATE_TEST_SUITE_P(
    Tool, Fault,
    testing::Values(FaultCase{"nak:1", 0, ""}, FaultCase{"nak:3", 1, "send: 303 No Receive Attempts."},
                    FaultCase{"corrupt", 0, ""}, FaultCase{"eot", 1, "send: 304 EOT Received."},
                    FaultCase{"bel", 1, "receive: 315 check-terminal byte received"},
                    FaultCase{"silence", 1, "send: 306 No ACK Received."},
                    FaultCase{"oversize", 1, "receive: 309 Max Message size exceeded."},
                    FaultCase{"slow", 0, ""}, FaultCase{"drop", 1, "receive: 105 not connected"},
                    FaultCase{"nak:3", 1, "send: 303 No Receive Attempts.", true},
                    FaultCase{"corrupt", 0, "", true}, FaultCase{"bel", 1, "receive: 315 check-terminal byte received", true},
                    FaultCase{"drop", 1, "receive: 105 not connected", true}),
    [](const testing::TestParamInfo<FaultCase>& info) {
        std::string name = info.param.scenario + (info.param.tcp ? "_tcp" : "");
        for (char& ch : name)
            if (ch == ':') ch = '_';
        return name;
    });

TEST_F(Tool, CorruptAnswerIsRefusedOnceThenRepeated) {
    Sim sim({"--pty", "--once", "--scenario", "corrupt"});
    ASSERT_EQ(run(sendArgs("serial:" + sim.address())).exitCode, 0);
    EXPECT_TRUE(std::regex_search(sim.log(), std::regex(R"(\(corrupted\).*\n<- NAK\n-> STX .*\n<- ACK)"))) << sim.log();
}

// ---------------------------------------------------------------- serving

TEST_F(Tool, PseudoTerminalServesOneRegisterAfterAnother) {
    Sim sim({"--pty"});
    const std::string receipt = tempFile("receipt.txt", "");
    const Outcome first = run(sendArgs("serial:" + sim.address(), {"--receipt", receipt, "-v"}));
    EXPECT_EQ(first.exitCode, 0) << first.output;
    EXPECT_THAT(first.output, HasSubstr("sending message ok!")) << "-v shows the library's log";
    std::ifstream saved(receipt);
    const std::string text((std::istreambuf_iterator<char>(saved)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text.rfind("ECRLINK TEST SHOP\n", 0), 0u) << text;
    EXPECT_THAT(text, HasSubstr("THANK YOU\n"));

    const Outcome second = run(sendArgs("serial:" + sim.address()));
    EXPECT_EQ(second.exitCode, 0) << second.output;
    EXPECT_THAT(second.output, Not(HasSubstr("sending message")));
    // The terminal reads the register's numbers most significant byte first.
    EXPECT_THAT(sim.log(), HasSubstr("<- STX 28 bytes, check e7 ok: 2=\"PURCHASE\" 4=u32:1250"));
    std::remove(receipt.c_str());
}

TEST_F(Tool, PseudoTerminalIsReplacedAfterAHangUp) {
    Sim sim({"--pty", "--scenario", "drop"});
    const std::string first = sim.address();
    EXPECT_EQ(run(sendArgs("serial:" + first)).exitCode, 1);
    std::smatch m;
    const std::string log = sim.log(1000);
    ASSERT_TRUE(std::regex_search(log, m, std::regex("hanging up\nlistening on (\\S+)\n"))) << log;
    const Outcome again = run(sendArgs("serial:" + m[1].str()));
    EXPECT_THAT(again.output, HasSubstr("ecrlink: receive: 105 not connected")) << "the new line plays the same scenario";
}

TEST_F(Tool, TcpServesConnectionsOnAPortOfItsChoice) {
    Sim sim({"--tcp", "0"});
    ASSERT_TRUE(std::regex_match(sim.address(), std::regex(R"(127\.0\.0\.1:\d+)"))) << sim.address();
    for (int i = 0; i < 2; ++i) {
        const Outcome r = run(sendArgs("tcp:" + sim.address()));
        EXPECT_EQ(r.exitCode, 0) << r.output;
        EXPECT_THAT(r.output, HasSubstr("\"APPROVED\""));
    }
    EXPECT_THAT(sim.log(), HasSubstr("-- register connected"));
}

TEST_F(Tool, ScenarioFilePlaysItsSteps) {
    const std::string file = tempFile("scenario.txt",
                                      "# answer in one go\n"
                                      "ack\n"
                                      "sleep 50\n"
                                      "receipt 85 \"A\\nB\" 2\n"
                                      "send 2=text:\"HELLO WORLD\" 5=hex:0102 4=echo\n");
    Sim sim({"--pty", "--once", "--scenario", file});
    const std::string receipt = tempFile("r85.txt", "");
    const Outcome r = run(sendArgs("serial:" + sim.address(), {"--receipt", receipt}));
    EXPECT_EQ(r.exitCode, 0) << r.output << sim.log();
    EXPECT_THAT(r.output, HasSubstr("\"HELLO WORLD\""));
    EXPECT_TRUE(std::regex_search(r.output, std::regex(R"(\n  5 +2 +01 02 *\n)"))) << r.output;
    // echo hands the request's bytes back unchanged.
    EXPECT_TRUE(std::regex_search(r.output, std::regex(R"(\n  4 +4 +00 00 04 e2 )"))) << r.output;
    std::ifstream saved(receipt);
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(saved)), std::istreambuf_iterator<char>()), "A\nB");
    std::remove(file.c_str());
    std::remove(receipt.c_str());
}

struct FileCase {
    std::string scenario;
    std::vector<std::string> extra; // more arguments of send
    int exitCode;
    std::string expected;
};

void PrintTo(const FileCase& c, std::ostream* os) {
    *os << c.expected;
}

class ScenarioOutcome : public Tool, public testing::WithParamInterface<FileCase> {};

TEST_P(ScenarioOutcome, ReachesTheRegister) {
    const std::string file = tempFile("outcome.txt", GetParam().scenario);
    Sim sim({"--pty", "--once", "--scenario", file});
    std::vector<std::string> args{"send", "serial:" + sim.address(), "--tag", "2=PURCHASE"};
    args.insert(args.end(), GetParam().extra.begin(), GetParam().extra.end());
    const Outcome r = run(args);
    EXPECT_EQ(r.exitCode, GetParam().exitCode) << r.output << sim.log();
    EXPECT_THAT(r.output, HasSubstr(GetParam().expected));
    std::remove(file.c_str());
}

INSTANTIATE_TEST_SUITE_P(
    Tool, ScenarioOutcome,
    testing::Values(FileCase{"ack\nstatus 2=WAIT\nsend 2=DONE\n", {}, 0, "status message (312)\n  tag"},
                    FileCase{"nak\nnak\nack\nsend 2=DONE\n", {}, 0, "\"DONE\""},
                    // A status frame whose data is no dump: the message layer's code and text.
                    FileCase{"ack\nraw 12 00 03 01 02 03 00\n", {}, 1, "ecrlink: receive: 206 Invalid Sequence.\n"},
                    FileCase{"ack\ncorrupt\nstatus 2=WAIT\n", {}, 1, "ecrlink: receive: 311 Broken status message received\n"},
                    FileCase{"ack\nraw 05\n", {}, 1, "ecrlink: receive: 308 Unknown STX received.\n"},
                    FileCase{"ack\nsleep 700\nsend 2=LATE\n", {"--wait", "5000"}, 0, "\"LATE\""},
                    FileCase{"ack\nsleep 700\nsend 2=LATE\n", {"--wait", "0"}, 1, "ecrlink: receive: 302 Timeout occurred.\n"}));

// ---------------------------------------------------------------- refusals

struct BadFileCase {
    std::string content;
    std::string message; // after "<file>:"
};

void PrintTo(const BadFileCase& c, std::ostream* os) {
    *os << c.message;
}

class BadScenario : public Tool, public testing::WithParamInterface<BadFileCase> {};

TEST_P(BadScenario, NamesTheLine) {
    const std::string file = tempFile("bad.txt", GetParam().content);
    const Outcome r = run({"sim", "--scenario", file});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_THAT(r.output, HasSubstr(file + ":" + GetParam().message)) << r.output;
    std::remove(file.c_str());
}

INSTANTIATE_TEST_SUITE_P(
    Tool, BadScenario,
    testing::Values(BadFileCase{"ack\n\nfrobnicate\n", "3: unknown command 'frobnicate'"},
                    BadFileCase{"send 2=X\n", "1: a scenario begins by answering"},
                    BadFileCase{"ack\nsend 2=u32:-1\n", "2: 'u32:-1' is not a 32-bit unsigned number"},
                    BadFileCase{"ack\nreceipt 12 \"text\" 2\n", "2: receipt tag must be a file tag"},
                    BadFileCase{"ack\nraw 0g\n", "2: 'raw' needs hex bytes"},
                    BadFileCase{"ack\nsend 2=\"open\n", "2: unterminated quoted text"},
                    BadFileCase{"ack\nsleep\n", "2: 'sleep' needs milliseconds"},
                    BadFileCase{"# nothing\n", " no steps"}));

struct BadArgsCase {
    std::vector<std::string> args;
    std::string message;
};

void PrintTo(const BadArgsCase& c, std::ostream* os) {
    for (const std::string& a : c.args) *os << a << ' ';
}

class BadArguments : public Tool, public testing::WithParamInterface<BadArgsCase> {};

TEST_P(BadArguments, ExitWithAMessageAndSendNothing) {
    const Outcome r = run(GetParam().args);
    EXPECT_EQ(r.exitCode, 2) << r.output;
    EXPECT_THAT(r.output, HasSubstr(GetParam().message));
}

INSTANTIATE_TEST_SUITE_P(
    Tool, BadArguments,
    testing::Values(BadArgsCase{{}, "A subcommand is required"}, BadArgsCase{{"fly"}, "subcommand"},
                    BadArgsCase{{"send", "tcp:127.0.0.1:9"}, "--tag is required"},
                    BadArgsCase{{"send", "tcp:127.0.0.1:9", "--tag", "two=X"}, "'two' is not a tag number"},
                    BadArgsCase{{"send", "tcp:127.0.0.1:9", "--tag", "2"}, "'2' is not NUM=VALUE"},
                    BadArgsCase{{"send", "tcp:127.0.0.1:9", "--tag", "2="}, "tag 2 has an empty value"},
                    BadArgsCase{{"send", "tcp:127.0.0.1:9", "--tag", "2=hex:0"}, "odd number of hex digits"},
                    BadArgsCase{{"send", "bogus:x", "--tag", "2=X"}, "ecrlink: bad address 'bogus:x'"},
                    BadArgsCase{{"send", "serial:", "--tag", "2=X"}, "ecrlink: bad address 'serial:'"},
                    BadArgsCase{{"send", "tcp:127.0.0.1:99999", "--tag", "2=X"}, "ecrlink: bad address"},
                    BadArgsCase{{"sim", "--scenario", "nak:0"}, "neither a built-in scenario"},
                    BadArgsCase{{"sim", "--tcp", "70000"}, "--tcp"},
                    BadArgsCase{{"sim", "--pty", "--tcp", "0"}, "excludes"}));

TEST_F(Tool, FailuresToOpenAreOneLineWithTheChannelCode) {
    const Outcome r = run({"send", "serial:/dev/ecrlink-no-such-device", "--tag", "2=X"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_THAT(r.output, HasSubstr("ecrlink: open serial:/dev/ecrlink-no-such-device: 103 "));
}

TEST_F(Tool, EveryCommandHasHelp) {
    for (const char* command : {"sim", "send", "decode", "demo"}) {
        const Outcome r = run({command, "--help"});
        EXPECT_EQ(r.exitCode, 0) << command;
        EXPECT_THAT(r.output, HasSubstr("--verbose")) << command;
    }
    EXPECT_THAT(run({"sim", "--help"}).output, HasSubstr("receipt 44|85 \"TEXT\" N"));
}

} // namespace
