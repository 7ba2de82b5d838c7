// SPDX-License-Identifier: MIT
// The ecrlink program run as a person would: in a process group of its own, its output in a file; and the
// simulated terminal in the background. The including test defines ECRLINK_TOOL, the program's path, and
// ECRLINK_EMULATOR, the command that runs a program of this build (empty for the machine's own).
#pragma once

#include <gmock/gmock.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <fstream>
#include <iterator>
#include <sstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testing_support {

using Args = std::vector<std::string>;

inline std::string tempFile(const std::string& name, const std::string& content) {
    static std::atomic<int> files{0};
    const std::string path = testing::TempDir() + "ecrlink_" + std::to_string(::getpid()) + "_" + std::to_string(files++) + name;
    std::ofstream(path) << content;
    return path;
}

inline std::string slurp(const std::string& path) {
    std::ifstream file(path);
    return {std::istreambuf_iterator<char>(file), {}};
}

// Starts the program (or another of this build, `tool` false) in a process group of its own, stdout and stderr going
// to the file `output`, through the emulator when the build is for another processor; it is killed after 60 s.
// `fileLimit`, when not 0, is the most bytes it may write to a file: a write past it fails with EFBIG.
inline pid_t start(Args args, const std::string& output, bool tool = true, rlim_t fileLimit = 0) {
    if (tool) args.insert(args.begin(), ECRLINK_TOOL);
    std::istringstream emulator(ECRLINK_EMULATOR);
    args.insert(args.begin(), std::istream_iterator<std::string>(emulator), {});
    args.insert(args.begin(), {"timeout", "-s", "KILL", "60"});
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    if (const pid_t pid = ::fork(); pid != 0) return pid;
    const int fd = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(fd, 1);
    ::dup2(fd, 2);
    ::setpgid(0, 0);
    if (fileLimit != 0) {
        const rlimit limit{fileLimit, fileLimit};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        ::signal(SIGXFSZ, SIG_IGN);
    }
    ::execvp(argv[0], argv.data());
    ::_exit(127);
}

struct Outcome { int exitCode; std::string output; }; // exit code 137: killed at the time limit

inline Outcome run(const Args& args, bool tool = true, rlim_t fileLimit = 0) {
    const std::string file = tempFile("out.txt", "");
    int status = 0;
    ::waitpid(start(args, file, tool, fileLimit), &status, 0);
    const Outcome result{WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(file)};
    std::remove(file.c_str());
    return result;
}

// A substring or, between slashes, a pattern.
inline bool contains(const std::string& text, const std::string& e) {
    if (e.size() > 2 && e.front() == '/' && e.back() == '/') return std::regex_search(text, std::regex(e.substr(1, e.size() - 2)));
    return text.find(e) != std::string::npos;
}

inline void expectAll(const Outcome& r, int exitCode, const std::vector<std::string>& expected) {
    EXPECT_EQ(r.exitCode, exitCode) << r.output;
    for (const std::string& e : expected) EXPECT_TRUE(contains(r.output, e)) << "expected: " << e << "\nin: " << r.output;
}

// `ecrlink sim ...` in the background, listening on `address`.
struct Sim {
    explicit Sim(const Args& args) : pid(start(args, file)) {
        std::smatch m;
        const std::string out = log({"/listening on \\S+\n/"});
        if (std::regex_search(out, m, std::regex("listening on (\\S+)\n"))) address = m[1];
    }
    ~Sim() {
        ::kill(-pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        std::remove(file.c_str());
    }
    // What it printed, once all of `expected` is there or 5 s have passed.
    std::string log(const std::vector<std::string>& expected = {}) const {
        std::string out;
        for (int i = 0; i < 500; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            out = slurp(file);
            if (std::all_of(expected.begin(), expected.end(), [&](const std::string& e) { return contains(out, e); })) break;
        }
        return out;
    }
    const std::string file = tempFile("sim.txt", "");
    const pid_t pid;
    std::string address;
};

} // namespace testing_support
