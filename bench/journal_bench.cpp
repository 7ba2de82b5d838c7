// SPDX-License-Identifier: MIT
// Recovery after a restart costs the same for a young journal and an old one:
// Journal::lastTransaction on journals of 20 and of 2,000 purchases, with the
// bytes it reads and the peak memory of the process while it runs.
//
//   journal_bench        (bench/run.sh runs it after the hot paths)
#include "ecrlink/CaptureChannel.h"
#include "ecrlink/ECRProto.h"
#include "ecrlink/Journal.h"
#include "ecrlink/TLVMessage.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

using Bytes = std::vector<unsigned char>;

// The terminal's side of a purchase: an ACK for the request, a status frame,
// two receipt pieces and the answer, each read as it comes.
struct Terminal : Communication::Channel {
    std::deque<unsigned char> pending;
    int open() override { return 0; }
    int close() override { return 0; }
    int read(unsigned char* buffer, unsigned int wanted, unsigned int& count) override {
        count = static_cast<unsigned int>(std::min<std::size_t>(wanted, pending.size()));
        std::copy_n(pending.begin(), count, buffer);
        pending.erase(pending.begin(), pending.begin() + count);
        return count ? 0 : Communication::CommTimeout;
    }
    int write(const unsigned char*, unsigned int length, unsigned int& count) override {
        count = length;
        return 0;
    }
    int isOpened() override { return 0; }
    int setReadTimeouts(unsigned int, unsigned int) override { return 0; }
    int flush() override { return 0; }
    int setOpenFlag(bool) override { return 0; }
};

Bytes le(std::uint32_t n) { return {Bytes::value_type(n), Bytes::value_type(n >> 8), Bytes::value_type(n >> 16), Bytes::value_type(n >> 24)}; }

Bytes record(std::uint32_t tag, const std::string& value) {
    Bytes out = le(tag), length = le(static_cast<std::uint32_t>(value.size()));
    out.insert(out.end(), length.begin(), length.end());
    out.insert(out.end(), value.begin(), value.end());
    return out;
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes frame(unsigned char start, const Bytes& data) {
    Bytes out = {start, static_cast<unsigned char>(data.size() >> 8), static_cast<unsigned char>(data.size())};
    unsigned char check = 0;
    for (unsigned char b : data) check ^= b;
    out.insert(out.end(), data.begin(), data.end());
    out.push_back(check);
    return out;
}

std::string directory;

// The records of one purchase, written through a Journal and a CaptureChannel.
std::string onePurchase() {
    const std::string path = directory + "/one";
    Communication::Journal journal;
    if (journal.open(path)) std::abort();
    auto* terminal = new Terminal;
    CECRProto proto;
    proto.setCommunication(new Communication::CaptureChannel(terminal, journal, {}));
    proto.open(true);
    const std::string piece1 = std::string("\x01\0\0\0\x02\0\0\0", 8) + std::string(200, 'R');
    const std::string piece2 = std::string("\x02\0\0\0\x02\0\0\0", 8) + std::string(200, 'R');
    for (const Bytes& f : {Bytes{CECRProto::ACK}, frame(CECRProto::DC2, record(2, "PROCESSING")),
                           frame(CECRProto::STX, record(44, piece1)), frame(CECRProto::STX, record(44, piece2)),
                           frame(CECRProto::STX, record(2, "APPROVED") + record(3, "A1B2C3"))})
        terminal->pending.insert(terminal->pending.end(), f.begin(), f.end());
    CTLVMessage request, answer;
    request.addTag(new CTLVTag(2, const_cast<char*>("PURCHASE")));
    request.addTag(new CTLVTag(4, 1250u));
    unsigned char dump[64];
    unsigned int length = 0;
    request.buildDump(dump, sizeof dump, length);
    journal.beginTransaction("R-1", dump, length);
    unsigned int rc = proto.sendMessage(request);
    for (int frames = 0; rc == 0 && frames < 4; ++frames) {
        const unsigned int received = proto.recvMessage(answer);
        rc = received == 312 ? 0 : received;
    }
    journal.endTransaction(rc, Communication::TransactionJournal::Ending::Answered);
    journal.close();
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

unsigned long long procValue(const char* file, const std::string& key) {
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);)
        if (line.compare(0, key.size(), key) == 0) return std::strtoull(line.c_str() + key.size(), nullptr, 10);
    return 0;
}

struct Figures {
    double medianUs = 0;
    unsigned long long bytesRead = 0, peakKiB = 0, fileBytes = 0;
};
std::map<int, Figures> figures;

void LastTransaction(benchmark::State& state) {
    static const std::string one = onePurchase();
    const int count = static_cast<int>(state.range(0));
    const std::string path = directory + "/" + std::to_string(count);
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << one.substr(0, 8);
        for (int i = 0; i < count; ++i) out << one.substr(8);
    }
    Communication::JournalTransaction t;
    std::string error;
    std::vector<double> times;
    Figures& f = figures[count];
    f.fileBytes = one.size() * static_cast<unsigned long long>(count);
    // Peak memory of the process from here on (the kernel forgets the earlier peak).
    std::ofstream("/proc/self/clear_refs") << "5";
    for (auto _ : state) {
        const unsigned long long read = procValue("/proc/self/io", "rchar:");
        const auto start = std::chrono::steady_clock::now();
        const int rc = Communication::Journal::lastTransaction(path, t, error);
        times.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
        f.bytesRead = procValue("/proc/self/io", "rchar:") - read;
        if (rc || t.outcome != Communication::JournalTransaction::Answered) state.SkipWithError(error.c_str());
    }
    f.peakKiB = procValue("/proc/self/status", "VmHWM:");
    std::sort(times.begin(), times.end());
    f.medianUs = times.empty() ? 0 : times[times.size() / 2];
    state.counters["bytes_read"] = static_cast<double>(f.bytesRead);
    state.counters["file_bytes"] = static_cast<double>(f.fileBytes);
    state.counters["peak_rss_KiB"] = static_cast<double>(f.peakKiB);
}
BENCHMARK(LastTransaction)->Arg(20)->Arg(2000)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    char name[] = "/tmp/ecrlink-journal-bench-XXXXXX";
    if (!::mkdtemp(name)) return 1;
    directory = name;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (figures.count(20) && figures.count(2000)) {
        const Figures &young = figures[20], &old = figures[2000];
        std::printf("\nlastTransaction: %.1f us for 20 purchases (%llu bytes), %.1f us for 2,000 (%llu bytes): "
                    "ratio %.2f (goal under 1.5); read %llu and %llu bytes; peak memory of the process %.1f MB "
                    "(goal under 20)\n",
                    young.medianUs, young.fileBytes, old.medianUs, old.fileBytes, old.medianUs / young.medianUs,
                    young.bytesRead, old.bytesRead, static_cast<double>(std::max(young.peakKiB, old.peakKiB)) / 1024);
    }
    for (const char* file : {"one", "20", "2000"}) std::remove((directory + "/" + file).c_str());
    ::rmdir(name);
    return 0;
}
