// SPDX-License-Identifier: MIT
// Feeds arbitrary bytes to CTLVMessage::parseDump and checks the result against a
// plain model of the incoming dump format and of receipt collection. Each input is
// parsed into one message object first as one whole dump, then as a series of dumps
// (each preceded by a 2-byte little-endian length), the way a receipt arrives in pieces.

#include "FuzzCheck.h"
#include "ecrlink/TLVMessage.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <vector>

using Bytes = std::vector<std::uint8_t>;
using Tags = std::map<unsigned int, Bytes>;

static CTLVMessage again, copy; // kept: each message zero-fills its 200 KiB file buffer

static unsigned int le(const std::uint8_t* p) { return unsigned(p[0]) | unsigned(p[1]) << 8 | unsigned(p[2]) << 16 | unsigned(p[3]) << 24; }

// True when the records fill the dump exactly (a trailing remainder under 8 bytes does not).
static bool fills(const std::uint8_t* data, std::size_t size) {
    std::size_t p = 0;
    while (size - p >= 8 && le(data + p + 4) <= size - p - 8) p += 8 + le(data + p + 4);
    return p == size;
}

// The message's tags, checking that getAllTags is ascending and agrees with getTag.
static Tags tagsOf(CTLVMessage& m) {
    std::vector<CTLVTag*> all;
    CHECK(m.getAllTags(all) == 0);
    Tags out;
    for (CTLVTag* tag : all) {
        unsigned int type = 0, length = 0, got = 0;
        CTLVTag* found = nullptr;
        tag->getType(type);
        tag->getLength(length);
        CHECK(out.empty() || type > out.rbegin()->first);
        CHECK(m.getTag(found, type) == 0 && found == tag);
        Bytes& value = out[type] = Bytes(length);
        if (length != 0) CHECK(tag->getValue(value.data(), length, got) == 0 && got == length);
    }
    return out;
}

// Builds the outgoing dump (exact length, 204 one byte short, rest zero-filled), turns its
// headers to incoming byte order and parses it back into the same tags; copy() gives them too.
static void checkRebuild(CTLVMessage& m, const Tags& expected) {
    std::size_t want = 0;
    for (const auto& e : expected) want += e.second.size() + 8;
    unsigned int length = 0;
    Bytes dump(want + 1, 0xAA);
    if (std::any_of(expected.begin(), expected.end(), [](const auto& e) { return e.second.empty(); }))
        return CHECK(m.buildDump(dump.data(), unsigned(dump.size()), length) == 205);
    if (want != 0) CHECK(m.buildDump(dump.data(), unsigned(want - 1), length) == 204 && length == want);
    CHECK(m.buildDump(dump.data(), unsigned(dump.size()), length) == 0 && length == want);
    CHECK(dump[want] == (want == 0 ? 0xAA : 0));
    for (std::size_t p = 0; p < want; p += 8 + le(&dump[p + 4])) {
        std::reverse(&dump[p], &dump[p + 4]);
        std::reverse(&dump[p + 4], &dump[p + 8]);
    }
    CHECK(again.parseDump(dump.data(), unsigned(want)) == 0 && tagsOf(again) == expected);
    copy.copy(m);
    CHECK(tagsOf(copy) == expected);
}

// Parses one dump into `m`; `collected` and `end` model its file buffer across dumps.
static void parseOne(CTLVMessage& m, Bytes& collected, bool& end, const std::uint8_t* data, std::size_t size) {
    const unsigned int rc = m.parseDump(data, unsigned(size));
    Tags expected;
    unsigned int expectedRc = fills(data, size) ? 0 : 206;
    for (std::size_t p = 0; expectedRc == 0 && p < size; p += 8 + le(data + p + 4)) {
        const unsigned int type = le(data + p), n = le(data + p + 4);
        const std::uint8_t* v = data + p + 8;
        const bool zeroZero = n >= 8 && le(v) == 0 && le(v + 4) == 0; // piece 0 of 0: ends at once, adds nothing
        if (type != 44 && type != 85) {
            expected[type] = Bytes(v, v + n);
        } else if (n < 8 || le(v) > le(v + 4) || (!zeroZero && collected.size() + (n - 8) > CTLVMessage::FileBufferCapacity)) {
            expectedRc = 204;
        } else {
            if (!zeroZero) collected.insert(collected.end(), v + 8, v + n);
            if (le(v) == le(v + 4)) {
                expected[type] = collected; // the last piece closes the dump
                end = true;
                break;
            }
        }
    }
    CHECK(rc == expectedRc && tagsOf(m) == expected);
    if (rc == 0 && !expected.count(44) && !expected.count(85)) checkRebuild(m, expected);
    CHECK(m.isFileBufferEnd() == end);
    CHECK(m.IsReceiptPresent() == (collected.size() > 1));
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::uint8_t none = 0;
    if (data == nullptr) data = &none; // an empty input may come without a buffer
    const std::size_t blocks = bigBlocksInUse();
    {
        CTLVMessage m;
        Bytes collected;
        bool end = false;
        parseOne(m, collected, end, data, size);
        for (std::size_t p = 0, take = 0; p + 2 <= size; p += 2 + take) {
            take = std::min<std::size_t>(data[p] | data[p + 1] << 8, size - p - 2);
            parseOne(m, collected, end, data + p + 2, take);
        }
    }
    CHECK(bigBlocksInUse() == blocks); // the file buffer went back
    return 0;
}
