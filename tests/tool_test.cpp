// Runs the ecrlink program the way a person would: decode, demo, and the
// simulated terminal against `send` over a pseudo-terminal and over TCP.

#include <gmock/gmock.h>

#include <atomic>
#include <csignal>
#include <future>
#include <fstream>
#include <regex>
#include <thread>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

using Args = std::vector<std::string>;

namespace {

const char* const ToolPath = std::getenv("ECRLINK_TOOL");

std::string tempFile(const std::string& name, const std::string& content) {
    const std::string path = testing::TempDir() + "ecrlink_" + std::to_string(::getpid()) + "_" + name;
    std::ofstream(path) << content;
    return path;
}

std::string slurp(const std::string& path) {
    std::ifstream file(path);
    return {std::istreambuf_iterator<char>(file), {}};
}

// Starts the program in a process group of its own, stdout and stderr going to the file `output`;
// it is killed after 60 s.
pid_t start(Args args, const std::string& output) {
    args.insert(args.begin(), {"timeout", "-s", "KILL", "60", ToolPath});
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    if (const pid_t pid = ::fork(); pid != 0) return pid;
    const int fd = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(fd, 1);
    ::dup2(fd, 2);
    ::setpgid(0, 0);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
}

struct Outcome {
    int exitCode;
    std::string output;
}; // exit code 137: killed at the time limit

Outcome run(const Args& args) {
    static std::atomic<int> runs{0};
    const std::string file = tempFile("out" + std::to_string(runs++) + ".txt", "");
    int status = 0;
    ::waitpid(start(args, file), &status, 0);
    const Outcome result{WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(file)};
    std::remove(file.c_str());
    return result;
}

// `ecrlink sim ...` in the background, listening on `address`.
struct Sim {
    explicit Sim(const Args& args) : pid(start(args, file)) {
        const std::regex listening("listening on (\\S+)\n");
        std::smatch m;
        for (int i = 0; i < 1000 && address.empty(); ++i)
            if (const std::string out = log(10); std::regex_search(out, m, listening)) address = m[1];
    }
    ~Sim() {
        ::kill(-pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        std::remove(file.c_str());
    }
    // What it printed, after `ms` more.
    std::string log(int ms = 300) const {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        return slurp(file);
    }
    const std::string file = tempFile("sim.txt", "");
    const pid_t pid;
    std::string address;
};

struct Tool : testing::Test {
    void SetUp() override {
        if (!ToolPath || !*ToolPath) GTEST_SKIP() << "ECRLINK_TOOL not set";
    }
};

Args sendArgs(const std::string& address, Args extra = {}) {
    extra.insert(extra.begin(), {"send", address, "--tag", "2=PURCHASE", "--tag", "4=u32:1250"});
    return extra;
}

// Each of `expected` is a substring or, between slashes, a pattern.
void expectAll(const Outcome& r, int exitCode, const std::vector<std::string>& expected) {
    EXPECT_EQ(r.exitCode, exitCode) << r.output;
    for (const std::string& e : expected) {
        const bool pattern = e.size() > 2 && e.front() == '/' && e.back() == '/';
        EXPECT_TRUE(pattern ? std::regex_search(r.output, std::regex(e.substr(1, e.size() - 2)))
                            : r.output.find(e) != std::string::npos)
            << "expected: " << e << "\nin: " << r.output;
    }
}

struct Case {
    Args args;
    int exitCode;
    std::vector<std::string> expected;
};

void runTable(const std::vector<Case>& table) {
    for (const Case& c : table) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        expectAll(run(c.args), c.exitCode, c.expected);
    }
}

TEST_F(Tool, DecodeExplainsFramesAndDumps) {
    runTable({
        {{"decode", "02 00 03 01 02 04 07"},
         0,
         {"data frame (STX 02)", "length:     3", "07 (matches)", "01 02 04", "not a tag dump"}},
        {{"decode", "02", "00", "03", "01", "02", "04", "08"}, 0, {"DOES NOT MATCH: computed 07"}},
        {{"decode", "01 00 00 00 02 00 00 00 41 42"}, 0, {"dump order: incoming", R"(/\n  1 +2 +41 42 +"AB"/)"}},
        {{"decode", "00000001 00000002 4142"}, 0, {"dump order: outgoing", R"(/\n  1 +2 +41 42 +"AB"/)"}},
        {{"decode", "12 00 0a 01000000 02000000 4142 00"}, 0, {"status frame (DC2 12)", "(matches)", "\"AB\""}},
        {{"decode", "2c000000 0a000000 01000000 03000000 4142"}, 0, {"piece 1/3 \"AB\""}},
        {{"decode", "01000000 04000000 0d000000"}, 0, {"u32 13"}},
        {{"decode", "02 00 00 00"}, 0, {"data:       none"}},
        {{"decode", "--order", "out", "01 00 00 00 02 00 00 00 41 42"}, 2, {"neither a frame nor a tag dump"}},
        {{"decode", "zz"}, 2, {"ecrlink: decode: not a hex digit"}},
        {{"decode", "0 2"}, 2, {"odd number of hex digits"}},
        {{"decode", "02 00 05 01"}, 2, {"malformed frame", "announces 5 data bytes"}},
        {{"decode", "--order", "x", "02"}, 2, {"--order"}},
    });
}

TEST_F(Tool, DemoRunsAWholePurchaseAndPrintsTheReceipt) {
    // The amount comes back in the order the register reads numbers.
    runTable({{{"demo"},
               0,
               {"status message (312)", "receipt complete", R"(/answer\n(.*\n)*  4 +4 +e2 04 00 00 +u32 1250/)",
                "receipt:\n  | ECRLINK TEST SHOP\n", "  | THANK YOU\n"}}});
}

// One dialogue per row and line: the simulated terminal plays a built-in scenario,
// or a scenario file given by its text, and `send` reports what came of it.
TEST_F(Tool, SendReportsWhatTheTerminalDid) {
    struct Row {
        std::string scenario;
        int exitCode;
        std::vector<std::string> expected;
        bool tcpToo = false;
        Args extra = {};
    };
    const std::string answer = "terminal -> register: answer", receipt = tempFile("r85.txt", "");
    const std::string noDir = testing::TempDir() + "ecrlink-no-such-dir/receipt.txt";
    for (const Row& row : std::vector<Row>{
             {"nak:1", 0, {answer}},
             {"corrupt", 0, {answer}, true},
             {"slow", 0, {answer}},
             {"nak:3", 1, {"ecrlink: send: 303 No Receive Attempts.\n"}, true},
             {"eot", 1, {"ecrlink: send: 304 EOT Received.\n"}},
             {"ack\nbel\nsleep 3000\n", 1, {"ecrlink: send: 320 no frame from the terminal within the idle time-out\n"}, true, {"--wait", "1000"}},
             {"silence", 1, {"ecrlink: send: 306 No ACK Received.\n"}},
             {"drop", 1, {"ecrlink: send: 105 not connected: read: "}, true},
             {"oversize", 1, {"ecrlink: send: 309 Max Message size exceeded.\n"}},
             {"nak\nnak\nack\nsend 2=DONE\n", 0, {answer, "\"DONE\""}},
             {"ack\nsleep 2000\nsend 2=LATE\n", 0, {"\"LATE\""}}, // a customer presenting a card
             {"ack\nsleep 700\nsend 2=LATE\n", 1, {"ecrlink: send: 320 no frame"}, false, {"--wait", "300"}},
             {"ack\nraw 05\nsend 2=LATE\n", 0, {"went on after 308 Unknown STX received.\n", "\"LATE\""}},
             {"ack\nraw 12 00 03 01 02 03 00\n", 1, {"ecrlink: send: 206 Invalid Sequence.\n"}}, // status, no dump
             {"ack\ncorrupt\nstatus 2=WAIT\nsleep 3000\n",
              1,
              {"went on after 311 Broken status message received\n", "ecrlink: send: 320 no frame"},
              false,
              {"--wait", "1000"}},
             {"ack\nsend 2=DONE\n", 1, {"ecrlink: receipt: the terminal sent none\n"}, false, {"--receipt", noDir}},
             {"purchase", 1, {"ecrlink: receipt: cannot write " + noDir + "\n"}, false, {"--receipt", noDir}},
             // echo hands the request's bytes back unchanged; the receipt is saved as it came.
             {"# answer in one go\nack\nsleep 50\nreceipt 85 \"A\\nB\" 2\nsend 2=text:\"HELLO WORLD\" 5=hex:0102 "
              "4=echo\n",
              0,
              {"\"HELLO WORLD\"", R"(/\n  5 +2 +01 02 *\n/)", R"(/\n  4 +4 +00 00 04 e2 /)"},
              false,
              {"--receipt", receipt}}})
        for (const bool tcp : {false, true})
            if (!tcp || row.tcpToo) {
                SCOPED_TRACE(row.scenario + (tcp ? " over TCP " : " ") + testing::PrintToString(row.extra));
                const bool isFile = row.scenario.find('\n') != std::string::npos;
                const std::string scenario = isFile ? tempFile("scenario.txt", row.scenario) : row.scenario;
                Sim sim({"sim", tcp ? "--tcp" : "--pty", tcp ? "0" : "--once", "--scenario", scenario});
                expectAll(run(sendArgs((tcp ? "tcp:" : "serial:") + sim.address, row.extra)), row.exitCode,
                          row.expected);
                if (row.scenario == "corrupt")
                    expectAll({0, sim.log()}, 0, {R"(/\(corrupted\).*\n<- NAK\n-> STX .*\n<- ACK/)"});
                if (isFile) std::remove(scenario.c_str());
            }
    EXPECT_EQ(slurp(receipt), "A\nB");
    std::remove(receipt.c_str());
}

TEST_F(Tool, SimServesOneRegisterAfterAnother) {
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

TEST_F(Tool, PseudoTerminalIsReplacedAfterAHangUp) {
    Sim sim({"sim", "--pty", "--scenario", "drop"});
    EXPECT_EQ(run(sendArgs("serial:" + sim.address)).exitCode, 1);
    std::smatch m;
    const std::string log = sim.log(1000);
    ASSERT_TRUE(std::regex_search(log, m, std::regex("hanging up\nlistening on (\\S+)\n"))) << log;
    expectAll(run(sendArgs("serial:" + m[1].str())), 1, {"ecrlink: send: 105 not connected"});
}

TEST_F(Tool, BadScenarioFileNamesTheLine) {
    for (const auto& row : std::vector<std::pair<std::string, std::string>>{
             {"ack\n\nfrobnicate\n", "3: unknown command 'frobnicate'"},
             {"send 2=X\n", "1: a scenario begins by answering"},
             {"ack\nsend 2=u32:-1\n", "2: 'u32:-1' is not a 32-bit unsigned number"},
             {"# nothing\n", " no steps"},
             {"ack\nreceipt 12 \"text\" 2\n", "2: receipt tag must be a file tag"},
             {"ack\nraw 0g\n", "2: 'raw' needs hex bytes"},
             {"ack\nsend 2=\"open\n", "2: unterminated quoted text"},
             {"ack\nsleep\n", "2: 'sleep' needs milliseconds"}}) {
        const std::string file = tempFile("bad.txt", row.first);
        runTable({{{"sim", "--scenario", file}, 2, {"ecrlink: sim: " + file + ":" + row.second}}});
        std::remove(file.c_str());
    }
}

// Bad arguments and addresses exit 2 with a message and send nothing; help exits 0.
TEST_F(Tool, ArgumentsAreChecked) {
    Sim sim({"sim", "--tcp", "0"});
    runTable({
        {{"send", "tcp:" + sim.address}, 2, {"--tag is required"}},
        {{"sim", "--tcp", "70000"}, 2, {"--tcp"}},
        {{"send", "tcp:" + sim.address, "--tag", "two=X"}, 2, {"ecrlink: send: 'two' is not a tag number"}},
        {{"send", "tcp:" + sim.address, "--tag", "2"}, 2, {"ecrlink: send: '2' is not NUM=VALUE"}},
        {{}, 2, {"A subcommand is required"}},
        {{"send", "tcp:" + sim.address, "--tag", "2="}, 2, {"ecrlink: send: tag 2 has an empty value"}},
        {{"send", "tcp:" + sim.address, "--tag", "2=hex:0"}, 2, {"ecrlink: send: tag 2: odd number of hex digits"}},
        {{"send", "tcp:127.0.0.1:99999", "--tag", "2=X"}, 2, {"ecrlink: bad address 'tcp:127.0.0.1:99999'"}},
        {{"sim", "--scenario", "nak:0"}, 2, {"ecrlink: sim: 'nak:0' is neither a built-in scenario"}},
        {{"sim", "--pty", "--tcp", "0"}, 2, {"excludes"}},
        {{"send", "bogus:x", "--tag", "2=X"}, 2, {"ecrlink: bad address 'bogus:x'"}},
        {{"send", "serial:/nonexistent", "--tag", "2=A"}, 1,
         {"ecrlink: open serial:/nonexistent: 103 cannot open the device or socket: No such file or directory\n"}},
        {{"sim", "--help"}, 0, {"--verbose", "receipt 44|85 \"TEXT\" N"}},
        {{"send", "--help"}, 0, {"--verbose"}},
    });
    EXPECT_THAT(sim.log(), testing::Not(testing::HasSubstr("register connected")));
}

// A terminal is quiet while the customer presents a card or types a PIN; the register must wait with its defaults.
TEST_F(Tool, ExampleAndSendWaitForASlowTerminal) {
    std::string pin = "ack\n";
    for (int i = 0; i < 6; ++i) pin += "sleep 5000\nstatus 2=PIN\n";
    char self[4096] = {};
    const std::string dir(self, std::max<ssize_t>(0, ::readlink("/proc/self/exe", self, sizeof self - 1)));
    const std::string example = dir.substr(0, dir.rfind('/')) + "/register_purchase_example";
    for (const std::string& script : {std::string("ack\nsleep 2000\nsend 2=APPROVED\n"), pin + "send 2=APPROVED\n"}) {
        SCOPED_TRACE(script);
        const std::string file = tempFile("slow.txt", script);
        Sim forSend({"sim", "--pty", "--once", "--scenario", file}), forExample({"sim", "--pty", "--once", "--scenario", file});
        auto sent = std::async(std::launch::async, [&] { return run(sendArgs("serial:" + forSend.address)); });
        const auto start = std::chrono::steady_clock::now();
        int status = -1;
        if (const pid_t pid = ::fork(); pid == 0) {
            const int quiet = ::open("/dev/null", O_WRONLY);
            ::dup2(quiet, 1);
            ::execl(example.c_str(), example.c_str(), ("serial:" + forExample.address).c_str(), "1250", nullptr);
            ::_exit(127);
        } else {
            ::waitpid(pid, &status, 0);
        }
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
        expectAll(sent.get(), 0, {"\"APPROVED\""});
        std::remove(file.c_str());
    }
}

TEST_F(Tool, SecondRegisterOnABusyLineIsToldItIsInUse) {
    const std::string file = tempFile("busy.txt", "ack\nsleep 1500\nsend 2=APPROVED\n");
    Sim sim({"sim", "--pty", "--once", "--scenario", file});
    auto first = std::async(std::launch::async, [&] { return run(sendArgs("serial:" + sim.address)); });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    expectAll(run(sendArgs("serial:" + sim.address)), 1,
              {"ecrlink: open serial:" + sim.address + ": 114 device in use by another program: locked by another program\n"});
    expectAll(first.get(), 0, {"\"APPROVED\""});
    std::remove(file.c_str());
}

} // namespace
