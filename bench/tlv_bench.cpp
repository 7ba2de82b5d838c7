// Writing and reading message dumps: a typical request (10 tags, 300 bytes) and
// a large one (16 tags of 248 bytes, 4096 bytes).
#include "ecrlink/TLVMessage.h"

#include <benchmark/benchmark.h>

#include <utility>
#include <vector>

namespace {

void fill(CTLVMessage& m, unsigned int tags, unsigned int valueSize) {
    const std::vector<unsigned char> value(valueSize, 'v');
    for (unsigned int n = 1; n <= tags; ++n) m.addTag(new CTLVTag(n * 3, value.data(), valueSize));
}

// The outgoing dump with every header turned to the incoming byte order.
std::vector<unsigned char> incomingDump(unsigned int tags, unsigned int valueSize) {
    CTLVMessage m;
    fill(m, tags, valueSize);
    unsigned int length = 0;
    m.getDumpLength(length);
    std::vector<unsigned char> dump(length);
    m.buildDump(dump.data(), length, length);
    for (std::size_t p = 0; p < dump.size(); p += 8 + valueSize)
        for (std::size_t field = p; field < p + 8; field += 4) {
            std::swap(dump[field], dump[field + 3]);
            std::swap(dump[field + 1], dump[field + 2]);
        }
    return dump;
}

void BuildDump(benchmark::State& state) {
    CTLVMessage m;
    fill(m, unsigned(state.range(0)), unsigned(state.range(1)));
    unsigned int length = 0;
    m.getDumpLength(length);
    std::vector<unsigned char> buf(length);
    for (auto _ : state) {
        benchmark::DoNotOptimize(m.buildDump(buf.data(), length, length));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * length);
}

void ParseDump(benchmark::State& state) {
    const std::vector<unsigned char> dump = incomingDump(unsigned(state.range(0)), unsigned(state.range(1)));
    CTLVMessage m;
    for (auto _ : state) benchmark::DoNotOptimize(m.parseDump(dump.data(), unsigned(dump.size())));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(dump.size()));
}

} // namespace

BENCHMARK(BuildDump)->ArgNames({"tags", "value"})->Args({10, 22})->Args({16, 248});
BENCHMARK(ParseDump)->ArgNames({"tags", "value"})->Args({10, 22})->Args({16, 248});
