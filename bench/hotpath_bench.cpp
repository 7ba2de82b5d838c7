// SPDX-License-Identifier: MIT
// The hot paths of the library next to their floors, measured in the same run:
// blocks of library calls alternate with blocks of the floor, and the medians
// of the times and of the per-pair ratios are reported. The summary at the end
// prints every row with its goal.
//
//   hotpath_bench                       every row (run it through bench/run.sh)
//   hotpath_bench --instructions N      N exchanges for callgrind (see run.sh)
#include "Counting.h"

#include "ecrlink/ChannelFactory.h"
#include "ecrlink/DescriptorChannel.h"
#include "ecrlink/ECRProto.h"
#include "ecrlink/Logger.h"
#include "ecrlink/TLVMessage.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <iomanip>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Bytes = std::vector<unsigned char>;
using Clock = std::chrono::steady_clock;

// The goals: each row's median over the runs of the code as it stands, on a
// quiet machine, plus 10 % (docs/performance.md). A taken Logger line against
// its floor: the highest of those runs plus 10 %, since the floor's localtime_r
// and strftime move with the machine's state far more than the line does.
namespace goal {
constexpr double exchangeWall = 1.41, exchangeCpu = 1.51, loggedWall = 1.40, loggedCpu = 1.50;
constexpr double buildDump = 11.0, parseDump = 147.0, logQueued = 0.36, logFiltered = 1.10;
constexpr long instructions = 9116;
} // namespace goal

// ---- the summary -----------------------------------------------------------

struct Row {
    std::string measure, now, floor, ratio, goal;
    bool met;
};
std::vector<Row> rows;

std::string fixed(double v, int digits) {
    std::ostringstream out;
    out << std::fixed << std::setprecision(digits) << v;
    return out.str();
}

std::string timeText(double ns) {
    return ns >= 10000 ? fixed(ns / 1000, 1) + " us" : ns >= 100 ? fixed(ns, 0) + " ns" : fixed(ns, 2) + " ns";
}

void addRatioRow(benchmark::State& state, const std::string& measure, double now, double floor, double ratio,
                 double goal) {
    // Rows without a goal show how cost grows.
    rows.push_back({measure, timeText(now), timeText(floor), fixed(ratio, 2) + "x",
                    goal > 0 ? "<= " + fixed(goal, goal < 100 ? 2 : 1) + "x" : "(growth)", goal <= 0 || ratio <= goal});
    state.counters["now_ns"] = now;
    state.counters["floor_ns"] = floor;
    state.counters["ratio"] = ratio;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Per-operation figures of one block.
using Figures = std::array<double, 2>; // wall ns, thread CPU ns

struct Paired {
    Figures lib, floor, ratio;
};

// Alternates `blocks` blocks of `lib` and `floor` (each runs one block of
// about the same duration and returns its per-operation figures); medians of
// each and of the pair ratios.
template <typename L, typename F>
Paired paired(int blocks, L lib, F floor) {
    std::array<std::vector<double>, 2> l, f, r;
    lib(); // warm both up
    floor();
    for (int b = 0; b < blocks; ++b) {
        const bool libFirst = b % 2 == 0;
        const Figures a = libFirst ? lib() : floor();
        const Figures c = libFirst ? floor() : lib();
        const Figures& x = libFirst ? a : c;
        const Figures& y = libFirst ? c : a;
        for (int i = 0; i < 2; ++i) {
            l[i].push_back(x[i]);
            f[i].push_back(y[i]);
            r[i].push_back(y[i] > 0 ? x[i] / y[i] : 0);
        }
    }
    Paired p{};
    for (int i = 0; i < 2; ++i) {
        p.lib[i] = median(l[i]);
        p.floor[i] = median(f[i]);
        p.ratio[i] = median(r[i]);
    }
    return p;
}

double threadCpuNs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e9 + double(t.tv_nsec);
}

// Runs `op` `n` times; wall and thread CPU per operation.
template <typename Op>
Figures timed(int n, Op op) {
    const double cpu0 = threadCpuNs();
    const auto wall0 = Clock::now();
    for (int i = 0; i < n; ++i) op();
    const double wall = double(std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - wall0).count());
    return {wall / n, (threadCpuNs() - cpu0) / n};
}

void pinToFirstCpu() {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(0, &set);
    pthread_setaffinity_np(pthread_self(), sizeof set, &set);
}

// ---- messages and frames ---------------------------------------------------

// A message of `tags` tags whose outgoing dump is `dumpSize` bytes; the
// numbers stay clear of the file tags 44 and 85.
void fill(CTLVMessage& m, unsigned int tags, unsigned int dumpSize) {
    const unsigned int value = dumpSize / tags - 8;
    const Bytes bytes(value, 'v');
    for (unsigned int n = 1; n <= tags; ++n) m.addTag(new CTLVTag(100 + n, bytes.data(), value));
}

void putLE(Bytes& out, unsigned int n) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<unsigned char>(n >> (8 * i)));
}

// An incoming dump (headers least significant byte first) of `tags` records.
Bytes incomingDump(unsigned int tags, unsigned int dumpSize) {
    Bytes dump;
    const unsigned int value = dumpSize / tags - 8;
    for (unsigned int n = 1; n <= tags; ++n) {
        putLE(dump, 100 + n);
        putLE(dump, value);
        dump.insert(dump.end(), value, static_cast<unsigned char>('a' + n));
    }
    return dump;
}

Bytes frameOf(const Bytes& data) {
    Bytes frame(data.size() + 4);
    frame[0] = 0x02;
    frame[1] = static_cast<unsigned char>(data.size() >> 8);
    frame[2] = static_cast<unsigned char>(data.size());
    unsigned char check = 0;
    for (std::size_t i = 0; i < data.size(); ++i) check ^= frame[3 + i] = data[i];
    frame.back() = check;
    return frame;
}

// The pieces of a receipt of `total` bytes in `count` file-tag records.
std::vector<Bytes> receiptFrames(unsigned int total, unsigned int count) {
    std::vector<Bytes> frames;
    const unsigned int payload = total / count;
    for (unsigned int i = 1; i <= count; ++i) {
        Bytes dump;
        putLE(dump, 44);
        putLE(dump, payload + 8);
        putLE(dump, i);
        putLE(dump, count);
        dump.insert(dump.end(), payload, static_cast<unsigned char>('0' + i % 10));
        frames.push_back(frameOf(dump));
    }
    return frames;
}

// ---- the terminal's end ----------------------------------------------------

bool readFull(int fd, unsigned char* at, std::size_t n) {
    for (std::size_t got = 0; got < n;) {
        const ssize_t r = ::read(fd, at + got, n - got);
        if (r <= 0) return false;
        got += std::size_t(r);
    }
    return true;
}

bool writeFull(int fd, const unsigned char* at, std::size_t n) {
    for (std::size_t put = 0; put < n;) {
        const ssize_t w = ::write(fd, at + put, n - put);
        if (w <= 0) return false;
        put += std::size_t(w);
    }
    return true;
}

// Answers every frame with ACK and the first answer frame, and every ACK of
// the register with the next answer frame, until the other end closes.
struct Terminal {
    int fd;
    std::vector<Bytes> answers;
    std::size_t next = 0;
    Bytes frame = Bytes(4100);

    // Takes one byte or frame from the register; false once the line is gone.
    bool serveOne() {
        unsigned char first = 0;
        if (!readFull(fd, &first, 1)) return false;
        if (first == 0x02) {
            if (!readFull(fd, frame.data(), 2)) return false;
            if (!readFull(fd, frame.data() + 2, std::size_t(frame[0]) * 256 + frame[1] + 1)) return false;
            const unsigned char ack = 0x06;
            next = 0;
            if (!writeFull(fd, &ack, 1)) return false;
        }
        if (next < answers.size()) {
            const Bytes& a = answers[next++];
            if (!writeFull(fd, a.data(), a.size())) return false;
        }
        return true;
    }
};

// A socketpair whose second end a terminal thread on the first CPU serves.
struct Line {
    int fds[2] = {-1, -1};
    Terminal terminal;
    std::thread thread;

    explicit Line(std::vector<Bytes> answers) {
        ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds);
        terminal.fd = fds[1];
        terminal.answers = std::move(answers);
        thread = std::thread([this] {
            pinToFirstCpu();
            while (terminal.serveOne()) {
            }
        });
    }
    // Closes the register's end (unless a channel took it) and waits for the terminal.
    void finish(bool closeOwn) {
        if (closeOwn) ::close(fds[0]);
        thread.join();
        ::close(fds[1]);
    }
};

// The register's floor: the same bytes with plain read and write.
bool floorExchange(int fd, const Bytes& request, std::size_t answers, Bytes& buffer) {
    const unsigned char ack = 0x06;
    if (!writeFull(fd, request.data(), request.size())) return false;
    if (!readFull(fd, buffer.data(), 1)) return false;
    for (std::size_t i = 0; i < answers; ++i) {
        if (!readFull(fd, buffer.data(), 3)) return false;
        if (!readFull(fd, buffer.data() + 3, std::size_t(buffer[1]) * 256 + buffer[2] + 1)) return false;
        if (!writeFull(fd, &ack, 1)) return false;
    }
    return true;
}

// ---- exchanges ---------------------------------------------------------------

struct ExchangeSetup {
    unsigned int requestSize, requestTags;
    std::vector<Bytes> answers;
    bool receipt;
};

ExchangeSetup exchangeOf(unsigned int size) {
    const unsigned int tags = size < 256 ? 1 : 8;
    return {size, tags, {frameOf(incomingDump(tags, size))}, false};
}

// Paired blocks of library exchanges and floor exchanges, each over a
// socketpair with both threads on the first CPU.
Paired measureExchanges(const ExchangeSetup& setup, int blocks, int perBlock, bool logging) {
    pinToFirstCpu();
    Line libLine(setup.answers), floorLine(setup.answers);
    CECRProto proto;
    proto.setCommunication(new Communication::DescriptorChannel(libLine.fds[0]));
    proto.open(true);
    CTLVMessage request, reply;
    fill(request, setup.requestTags, setup.requestSize);
    unsigned int length = 0;
    request.getDumpLength(length);
    Bytes dump(length);
    request.buildDump(dump.data(), length, length);
    const Bytes requestFrame = frameOf(dump);
    Bytes buffer(4100);
    bool failed = false;
    Logger& logger = Logger::get();
    if (logging) logger.enable(Logger::Level(1));

    const auto lib = [&] {
        const Figures f = timed(perBlock, [&] {
            if (proto.sendMessage(request) != 0) failed = true;
            if (setup.receipt) {
                CTLVMessage receipt;
                for (std::size_t i = 0; i < setup.answers.size(); ++i)
                    if (proto.recvMessage(receipt) != 0) failed = true;
                if (!receipt.isFileBufferEnd()) failed = true;
            } else if (proto.recvMessage(reply) != 0) {
                failed = true;
            }
        });
        if (logging) logger.drain();
        return f;
    };
    const auto floor = [&] {
        return timed(perBlock, [&] {
            if (!floorExchange(floorLine.fds[0], requestFrame, setup.answers.size(), buffer)) failed = true;
        });
    };
    const Paired p = paired(blocks, lib, floor);
    if (logging) {
        logger.disable();
        logger.drain();
    }
    proto.close();
    proto.setCommunication(new Communication::DescriptorChannel(-1)); // lets the terminal see the end
    libLine.finish(false);
    floorLine.finish(true);
    if (failed) std::fprintf(stderr, "an exchange failed\n");
    return p;
}

// Argument 1: logging on (five lines per exchange).
void ExchangeOneKiB(benchmark::State& state) {
    const bool logging = state.range(0) != 0;
    const std::string name = logging ? "exchange 1 KiB logging on, " : "exchange 1 KiB, ";
    Paired p{};
    for (auto _ : state) p = measureExchanges(exchangeOf(1024), 31, 300, logging);
    addRatioRow(state, name + "wall", p.lib[0], p.floor[0], p.ratio[0],
                logging ? goal::loggedWall : goal::exchangeWall);
    addRatioRow(state, name + "register CPU", p.lib[1], p.floor[1], p.ratio[1],
                logging ? goal::loggedCpu : goal::exchangeCpu);
}
BENCHMARK(ExchangeOneKiB)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);

void ExchangeGrowth(benchmark::State& state) {
    const unsigned int size = unsigned(state.range(0));
    Paired p{};
    for (auto _ : state) p = measureExchanges(exchangeOf(size), 11, 200, false);
    addRatioRow(state, "growth: exchange " + std::to_string(size) + " B, wall", p.lib[0], p.floor[0], p.ratio[0], 0);
}
BENCHMARK(ExchangeGrowth)->Arg(16)->Arg(4096)->Iterations(1)->Unit(benchmark::kMillisecond);

void Receipt(benchmark::State& state) {
    const ExchangeSetup setup{16, 1, receiptFrames(204000, 50), true};
    Paired p{};
    for (auto _ : state) p = measureExchanges(setup, 9, 5, false);
    addRatioRow(state, "growth: receipt 200 KiB in 50 pieces, wall", p.lib[0], p.floor[0], p.ratio[0], 0);
}
BENCHMARK(Receipt)->Iterations(1)->Unit(benchmark::kMillisecond);

// ---- allocations and system calls per exchange -------------------------------

// A terminal that answers at once: it runs inside the register's own write, so
// the ACK and the answer are there before the register reads. Its reads and
// writes are not counted.
extern "C" __attribute__((noinline)) void ecrlink_bench_terminal(Terminal* terminal, int registerFd,
                                                                    std::size_t expected) {
    if (!terminal->serveOne()) return;
    // A pseudo-terminal hands bytes over asynchronously: wait until all arrived.
    for (int spins = 0; spins < 100000; ++spins) {
        int queued = 0;
        if (::ioctl(registerFd, FIONREAD, &queued) != 0 || std::size_t(queued) >= expected) break;
        sched_yield();
    }
}

struct Counted {
    bench::Counts send, recv;
};

extern "C" __attribute__((noinline)) void ecrlink_bench_exchange(CECRProto* proto, CTLVMessage* request,
                                                                    CTLVMessage* reply, Counted* counted) {
    bench::startCounting();
    proto->sendMessage(*request);
    counted->send = bench::stopCounting();
    bench::startCounting();
    proto->recvMessage(*reply);
    counted->recv = bench::stopCounting();
}

// `exchanges` counted exchanges through `channel`, whose descriptor is
// `registerFd`, with the terminal at `terminalFd`.
Counted countExchanges(Communication::Channel* channel, int registerFd, int terminalFd, int exchanges) {
    CECRProto proto;
    proto.setCommunication(channel);
    proto.open(true);
    CTLVMessage request, reply;
    fill(request, 8, 1024);
    const Bytes answer = frameOf(incomingDump(8, 1024));
    Terminal terminal{terminalFd, {answer}};
    // After the frame: the ACK and the answer; after our ACK: nothing more.
    std::size_t expected = answer.size() + 1;
    bench::setWriteHook(registerFd, [&] {
        ecrlink_bench_terminal(&terminal, registerFd, expected);
        expected = expected == 0 ? answer.size() + 1 : 0;
    });
    // The first exchanges bind symbols and fill the allocator's caches: a
    // few go first, outside what is counted, so that the figures are those of
    // a register that has been running.
    for (int i = 0; i < 10; ++i) {
        proto.sendMessage(request);
        proto.recvMessage(reply);
    }
    Counted counted;
    for (int i = 0; i < exchanges; ++i) ecrlink_bench_exchange(&proto, &request, &reply, &counted);
    bench::clearWriteHook();
    return counted;
}

Counted countOverSocketpair(int exchanges) {
    int fds[2];
    ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds);
    const Counted c = countExchanges(new Communication::DescriptorChannel(fds[0]), fds[0], fds[1], exchanges);
    ::close(fds[1]);
    return c;
}

Counted countOverPty() {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ::grantpt(master);
    ::unlockpt(master);
    int rc = 0;
    std::string error;
    auto* channel = Communication::createChannel(std::string("serial:") + ::ptsname(master), rc, error);
    if (channel == nullptr || channel->open() != 0) return {};
    // The serial channel's descriptor is the newest one this process opened.
    int registerFd = -1;
    for (int candidate = 3; candidate < 1024; ++candidate)
        if (::isatty(candidate) && candidate != master) registerFd = candidate;
    const Counted c = countExchanges(channel, registerFd, master, 5);
    ::close(master);
    return c;
}

Counted countOverTcp() {
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ::bind(listener, reinterpret_cast<sockaddr*>(&address), size);
    ::listen(listener, 1);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);
    int rc = 0;
    std::string error;
    auto* channel = Communication::createChannel("tcp:127.0.0.1:" + std::to_string(ntohs(address.sin_port)), rc, error);
    if (channel == nullptr || channel->open() != 0) return {};
    const int peer = ::accept(listener, nullptr, nullptr);
    sockaddr_in mine{};
    socklen_t mineSize = sizeof mine;
    ::getpeername(peer, reinterpret_cast<sockaddr*>(&mine), &mineSize);
    int registerFd = -1;
    for (int candidate = 3; candidate < 1024; ++candidate) {
        sockaddr_in local{};
        socklen_t localSize = sizeof local;
        if (candidate != peer && ::getsockname(candidate, reinterpret_cast<sockaddr*>(&local), &localSize) == 0 &&
            local.sin_family == AF_INET && local.sin_port == mine.sin_port)
            registerFd = candidate;
    }
    const Counted c = countExchanges(channel, registerFd, peer, 5);
    ::close(peer);
    ::close(listener);
    return c;
}

void CallsPerExchange(benchmark::State& state) {
    Counted pair, pty, tcp;
    for (auto _ : state) {
        pair = countOverSocketpair(5);
        pty = countOverPty();
        tcp = countOverTcp();
    }
    const long sendAllocs = pair.send.allocations, recvAllocs = pair.recv.allocations;
    rows.push_back({"heap allocations sendMessage / recvMessage (8 tags)",
                    std::to_string(sendAllocs) + " / " + std::to_string(recvAllocs), "2 / 25", "",
                    "2 / 1 + 3 per tag", sendAllocs <= 2 && recvAllocs <= 25});
    for (const auto& [name, c] : {std::pair<const char*, Counted>{"pty (serial channel)", pty}, {"loopback TCP", tcp}}) {
        const long calls = c.send.systemCalls + c.recv.systemCalls;
        rows.push_back({std::string("system calls per exchange, ") + name,
                        std::to_string(calls) + " (" + std::to_string(c.send.systemCalls) + " + " +
                            std::to_string(c.recv.systemCalls) + ")",
                        "4", fixed(calls / 4.0, 2) + "x", "<= 5", calls > 0 && calls <= 5});
    }
    state.counters["send_allocs"] = double(sendAllocs);
    state.counters["recv_allocs"] = double(recvAllocs);
    state.counters["pty_calls"] = double(pty.send.systemCalls + pty.recv.systemCalls);
    state.counters["tcp_calls"] = double(tcp.send.systemCalls + tcp.recv.systemCalls);
}
BENCHMARK(CallsPerExchange)->Iterations(1);

// ---- the message model -------------------------------------------------------

void BuildDump(benchmark::State& state) {
    CTLVMessage m;
    fill(m, 64, 4096);
    Bytes buf(4096), source(4096, 'x');
    unsigned int length = 0;
    Paired p{};
    for (auto _ : state)
        p = paired(
            31,
            [&] {
                return timed(2000, [&] {
                    m.buildDump(buf.data(), 4096, length);
                    benchmark::ClobberMemory();
                });
            },
            [&] {
                return timed(20000, [&] {
                    std::memcpy(buf.data(), source.data(), 4096);
                    benchmark::ClobberMemory();
                });
            });
    addRatioRow(state, "buildDump, 64 tags in 4096 B (floor: memcpy 4096 B)", p.lib[0], p.floor[0], p.ratio[0],
                goal::buildDump);
}
BENCHMARK(BuildDump)->Iterations(1);

void ParseDump(benchmark::State& state) {
    const Bytes dump = incomingDump(64, 4096);
    Bytes buf(4096);
    CTLVMessage m;
    Paired p{};
    for (auto _ : state)
        p = paired(
            31, [&] { return timed(200, [&] { benchmark::DoNotOptimize(m.parseDump(dump.data(), 4096)); }); },
            [&] {
                return timed(20000, [&] {
                    std::memcpy(buf.data(), dump.data(), 4096);
                    benchmark::ClobberMemory();
                });
            });
    addRatioRow(state, "parseDump, 64 tags in 4096 B (floor: memcpy 4096 B)", p.lib[0], p.floor[0], p.ratio[0],
                goal::parseDump);
    bench::startCounting();
    m.parseDump(dump.data(), 4096);
    state.counters["allocations"] = double(bench::stopCounting().allocations);
}
BENCHMARK(ParseDump)->Iterations(1);

// ---- the Logger --------------------------------------------------------------

// What a log line cannot do without: clock, local time, its text, the hex id,
// one string, the lock, the append and the notification.
struct FloorLog {
    std::mutex mutex;
    std::condition_variable cv;
    std::deque<std::string> queue;

    void log(const std::string& text, std::uint32_t tid) {
        const auto now = std::chrono::system_clock::now().time_since_epoch();
        const std::time_t seconds = std::time_t(std::chrono::duration_cast<std::chrono::seconds>(now).count());
        std::tm local{};
        localtime_r(&seconds, &local);
        char stamp[40];
        std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
        std::string line;
        line.reserve(29 + text.size());
        line.append(stamp, 19);
        char id[11];
        std::snprintf(id, sizeof id, " %08x ", tid);
        line.append(id, 10);
        line.append(text);
        {
            std::lock_guard<std::mutex> lock(mutex);
            queue.push_back(std::move(line));
        }
        cv.notify_one();
    }
};

void LogQueued(benchmark::State& state) {
    Logger& logger = Logger::get();
    FloorLog floorLog;
    const std::string text = "error: communication read ACK, rc = 106";
    Paired p{};
    for (auto _ : state)
        p = paired(
            31,
            [&] {
                logger.enable(Logger::Level(1));
                const Figures f = timed(2000, [&] { logger.log(Logger::Level(1), text); });
                logger.disable();
                logger.drain();
                return f;
            },
            [&] {
                const Figures f = timed(2000, [&] { floorLog.log(text, 0x0a1b2c3d); });
                floorLog.queue.clear();
                return f;
            });
    addRatioRow(state, "Logger::log, enabled, one line", p.lib[0], p.floor[0], p.ratio[0], goal::logQueued);
}
BENCHMARK(LogQueued)->Iterations(1);

std::atomic<int> floorThreshold{0};
std::atomic<bool> floorEnabled{false};

void LogFiltered(benchmark::State& state) {
    Logger& logger = Logger::get();
    logger.disable();
    const std::string text = "error: communication read ACK, rc = 106";
    long passed = 0;
    Paired p{};
    for (auto _ : state)
        p = paired(
            31, [&] { return timed(1000000, [&] { logger.log(Logger::Level(1), text); }); },
            [&] {
                return timed(1000000, [&] {
                    if (floorThreshold.load(std::memory_order_relaxed) >= 1 &&
                        floorEnabled.load(std::memory_order_relaxed))
                        ++passed;
                });
            });
    benchmark::DoNotOptimize(passed);
    addRatioRow(state, "Logger::log, filtered out (floor: two relaxed loads)", p.lib[0], p.floor[0], p.ratio[0],
                goal::logFiltered);
}
BENCHMARK(LogFiltered)->Iterations(1);

void printSummary() {
    if (const char* ir = std::getenv("ECRLINK_BENCH_INSTRUCTIONS")) {
        const long n = std::atol(ir);
        rows.insert(rows.begin() + std::min<std::size_t>(rows.size(), 4),
                    {"instructions per exchange, logging off (callgrind)", std::to_string(n), "", "",
                     "<= " + std::to_string(goal::instructions), n > 0 && n <= goal::instructions});
    }
    std::printf("\n%-58s %-16s %-12s %-9s %-18s %s\n", "measure", "now", "floor", "ratio", "goal", "");
    for (const Row& r : rows)
        std::printf("%-58s %-16s %-12s %-9s %-18s %s\n", r.measure.c_str(), r.now.c_str(), r.floor.c_str(),
                    r.ratio.c_str(), r.goal.c_str(), r.goal == "(growth)" ? "" : r.met ? "met" : "NOT MET");
    if (const char* harness = std::getenv("ECRLINK_BENCH_HARNESS_INSTRUCTIONS"))
        std::printf("\nInstructions of the harness left out of the count: %s per exchange.\n", harness);
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--instructions") == 0) {
        countOverSocketpair(std::atoi(argv[2]));
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    printSummary();
    return 0;
}
