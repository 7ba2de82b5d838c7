// Feeds arbitrary bytes to CTLVMessage::parseDump and checks the result against
// a plain model of the incoming dump format and of receipt collection.
//
// Each input is used twice on one message object: first as one whole dump, then
// as a series of dumps (each preceded by a 2-byte little-endian length) parsed
// into the same object, the way a receipt arrives in pieces.

#include "ecrlink/TLVMessage.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <utility>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using Tags = std::map<unsigned int, Bytes>;

[[noreturn]] void broken(const char* what, int line) {
    std::fprintf(stderr, "parse_dump_fuzz: broken at line %d: %s\n", line, what);
    std::abort();
}
#define CHECK(cond) ((cond) ? (void)0 : broken(#cond, __LINE__))

constexpr std::size_t Capacity = CTLVMessage::FileBufferCapacity;

unsigned int le(const std::uint8_t* p) {
    return unsigned(p[0]) | unsigned(p[1]) << 8 | unsigned(p[2]) << 16 | unsigned(p[3]) << 24;
}

bool isFile(unsigned int type) { return type == 44 || type == 85; }

// What the collected file buffer should hold across dumps parsed into one object.
struct FileModel {
    Bytes collected;
    bool end = false;
};

struct Record {
    unsigned int type;
    const std::uint8_t* value;
    unsigned int length;
};

// Splits a dump into records; false unless they fill it exactly. A trailing
// 4-byte remainder counts as not filling it.
bool records(const std::uint8_t* data, std::size_t size, std::vector<Record>& out) {
    for (std::size_t p = 0; p < size;) {
        if (size - p < 8) return false;
        const std::uint64_t n = le(data + p + 4);
        if (n > size - p - 8) return false;
        out.push_back({le(data + p), data + p + 8, unsigned(n)});
        p += 8 + n;
    }
    return true;
}

Tags tagsOf(CTLVMessage& m) {
    std::vector<CTLVTag*> all;
    CHECK(m.getAllTags(all) == 0);
    Tags out;
    bool first = true;
    unsigned int previous = 0;
    for (CTLVTag* tag : all) {
        unsigned int type = 0, length = 0;
        tag->getType(type);
        tag->getLength(length);
        CHECK(first || type > previous);
        CTLVTag* found = nullptr;
        CHECK(m.getTag(found, type) == 0 && found == tag);
        Bytes value(length);
        unsigned int got = 0;
        if (length != 0) CHECK(tag->getValue(value.data(), length, got) == 0 && got == length);
        out[type] = value;
        first = false;
        previous = type;
    }
    return out;
}

// Rebuilds an outgoing dump from the parsed tags, checks its size and layout, and
// parses it back (headers turned to incoming byte order) into the same tags.
void checkRebuild(CTLVMessage& m, const Tags& expected) {
    std::uint64_t want = 0;
    bool hasEmpty = false;
    for (const auto& entry : expected) {
        want += entry.second.size() + 8;
        hasEmpty = hasEmpty || entry.second.empty();
    }
    unsigned int length = 0;
    Bytes dump(want + 1, 0xAA);
    if (hasEmpty) {
        CHECK(m.getDumpLength(length) == 205);
        CHECK(m.buildDump(dump.data(), unsigned(dump.size()), length) == 205);
        return;
    }
    CHECK(m.getDumpLength(length) == 0 && length == want);
    if (want != 0) CHECK(m.buildDump(dump.data(), unsigned(want - 1), length) == 204 && length == want);
    CHECK(m.buildDump(dump.data(), unsigned(dump.size()), length) == 0 && length == want);
    CHECK(dump[want] == (want == 0 ? 0xAA : 0));

    std::size_t p = 0;
    for (const auto& entry : expected) {
        const unsigned int fields[2] = {entry.first, unsigned(entry.second.size())};
        for (unsigned int f : fields) {
            CHECK(dump[p] == std::uint8_t(f >> 24) && dump[p + 1] == std::uint8_t(f >> 16) &&
                  dump[p + 2] == std::uint8_t(f >> 8) && dump[p + 3] == std::uint8_t(f));
            std::swap(dump[p], dump[p + 3]);
            std::swap(dump[p + 1], dump[p + 2]);
            p += 4;
        }
        CHECK(Bytes(dump.begin() + p, dump.begin() + p + entry.second.size()) == entry.second);
        p += entry.second.size();
    }
    static CTLVMessage again;
    CHECK(again.parseDump(dump.data(), unsigned(want)) == 0);
    CHECK(tagsOf(again) == expected);
    static CTLVMessage copy;
    copy.copy(m);
    CHECK(tagsOf(copy) == expected);
}

void parseOne(CTLVMessage& m, FileModel& model, const std::uint8_t* data, std::size_t size) {
    static const std::uint8_t none = 0;
    if (data == nullptr) data = &none; // an empty input may come without a buffer
    const unsigned int rc = m.parseDump(data, unsigned(size));
    const Tags got = tagsOf(m);
    std::vector<Record> recs;
    if (!records(data, size, recs)) {
        CHECK(rc == 206 && got.empty());
    } else {
        Tags expected;
        unsigned int expectedRc = 0;
        bool fileInvolved = false;
        for (const Record& r : recs) {
            if (!isFile(r.type)) {
                expected[r.type] = Bytes(r.value, r.value + r.length);
                continue;
            }
            fileInvolved = true;
            if (r.length < 8 || le(r.value) > le(r.value + 4)) {
                expectedRc = 204;
                break;
            }
            const bool zeroZero = le(r.value) == 0 && le(r.value + 4) == 0;
            if (!zeroZero) {
                if (model.collected.size() + (r.length - 8) > Capacity) {
                    expectedRc = 204;
                    break;
                }
                model.collected.insert(model.collected.end(), r.value + 8, r.value + r.length);
            }
            if (zeroZero || le(r.value) == le(r.value + 4)) {
                expected[r.type] = model.collected;
                model.end = true;
                break;
            }
        }
        CHECK(rc == expectedRc);
        CHECK(got == expected);
        if (rc == 0 && !fileInvolved) checkRebuild(m, expected);
    }
    CHECK(m.isFileBufferEnd() == model.end);
    CHECK(m.IsReceiptPresent() == (model.collected.size() > 1));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 0xFFFFFFFFu) return 0;
    CTLVMessage m;
    FileModel model;
    parseOne(m, model, data, size);

    for (std::size_t p = 0; p + 2 <= size;) {
        const std::size_t want = std::size_t(data[p]) | std::size_t(data[p + 1]) << 8;
        p += 2;
        const std::size_t take = want < size - p ? want : size - p;
        parseOne(m, model, data + p, take);
        p += take;
    }
    return 0;
}
