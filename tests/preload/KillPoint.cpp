// SPDX-License-Identifier: MIT
// Preloaded into the register by the crash test. It counts the register's calls of write, send and fdatasync on its
// journal (a regular file) and its line (a socket) and, at the Nth, as ECRLINK_KILL="N MODE" says, dies by
// SIGKILL before the call (before), after it (after) or after writing half of its bytes (half: writes only); or
// (nospace: journal calls only) lets the Nth and every later journal call fail with ENOSPC. The call it met goes to
// the file ECRLINK_KILL_NOTE; with N 0, the number of calls MODE counts, at exit. Reads are not counted: how many
// there are depends on how the bytes arrived, and the journal's record of each read stands for it.
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <dlfcn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Plain data: the constructor below may run before the library's other static objects are made.
long at = 0;
char mode[16] = "";
std::atomic<long> calls{0};

bool is(const char* m) { return std::strcmp(mode, m) == 0; }

void note(const std::string& text) {
    if (FILE* f = std::fopen(std::getenv("ECRLINK_KILL_NOTE"), "w")) std::fputs(text.c_str(), f), std::fclose(f);
}

__attribute__((constructor)) void plan() {
    if (const char* kill = std::getenv("ECRLINK_KILL"); !kill || std::sscanf(kill, "%ld %15s", &at, mode) != 2) mode[0] = 0;
}
__attribute__((destructor)) void done() {
    if (at == 0 && *mode) note(std::to_string(calls));
}

// The call in words: a journal record by its type, a frame or a control byte on the line.
std::string said(bool journal, const char* call, const unsigned char* data, std::size_t length) {
    static const char* const records[] = {"session", "open", "close", "read", "write", "time-out", "flush", "synced",
                                          "intent", "sending", "outcome"};
    char text[64];
    if (!data) std::snprintf(text, sizeof text, "%s journal", call);
    else if (journal) std::snprintf(text, sizeof text, "%s journal %s record", call, data[0] < 11 ? records[data[0]] : "file start");
    else std::snprintf(text, sizeof text, length > 1 ? "%s line frame %02x, %zu bytes" : "%s line %02x", call, data[0], length);
    return text;
}

// What to do with this call: "" go ahead, else the mode.
const char* decide(int fd, const char* call, const void* data, std::size_t length) {
    struct stat st {};
    const bool journal = fd > 2 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode), line = fd > 2 && S_ISSOCK(st.st_mode);
    if (!*mode || (!journal && !line) || (is("half") && !data) || (is("nospace") && !journal)) return "";
    const long n = ++calls;
    if (n == at) note(said(journal, call, static_cast<const unsigned char*>(data), length));
    return n == at || (is("nospace") && at > 0 && n > at) ? mode : "";
}

template <typename Call>
ssize_t act(const char* how, std::size_t length, Call&& call) {
    const std::string what = how;
    if (what == "nospace") return errno = ENOSPC, -1;
    if (what == "before") std::raise(SIGKILL);
    const ssize_t n = call(what == "half" ? length / 2 : length);
    if (!what.empty()) std::raise(SIGKILL);
    return n;
}

} // namespace

extern "C" ssize_t write(int fd, const void* data, std::size_t length) {
    static const auto next = reinterpret_cast<ssize_t (*)(int, const void*, std::size_t)>(::dlsym(RTLD_NEXT, "write"));
    return act(decide(fd, "write", data, length), length, [&](std::size_t n) { return next(fd, data, n); });
}
extern "C" ssize_t send(int fd, const void* data, std::size_t length, int flags) {
    static const auto next = reinterpret_cast<ssize_t (*)(int, const void*, std::size_t, int)>(::dlsym(RTLD_NEXT, "send"));
    return act(decide(fd, "send", data, length), length, [&](std::size_t n) { return next(fd, data, n, flags); });
}
extern "C" int fdatasync(int fd) {
    static const auto next = reinterpret_cast<int (*)(int)>(::dlsym(RTLD_NEXT, "fdatasync"));
    return static_cast<int>(act(decide(fd, "fdatasync", nullptr, 0), 0, [&](std::size_t) { return next(fd); }));
}
