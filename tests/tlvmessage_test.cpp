#include "ecrlink/TLVMessage.h"

#include <gmock/gmock.h>

#include <string>
#include <vector>

using Bytes = std::vector<unsigned char>;

namespace {

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
Bytes le(unsigned int n) { return {Bytes::value_type(n), Bytes::value_type(n >> 8), Bytes::value_type(n >> 16), Bytes::value_type(n >> 24)}; }
// Incoming records carry their number and length least significant byte first.
Bytes record(unsigned int type, const Bytes& value) { return le(type) + le(unsigned(value.size())) + value; }
Bytes piece(unsigned int number, unsigned int count, const Bytes& payload, unsigned int type = 44) {
    return record(type, le(number) + le(count) + payload);
}
unsigned int parse(CTLVMessage& m, const Bytes& dump) { return m.parseDump(dump.data(), unsigned(dump.size())); }

std::vector<unsigned int> numbers(CTLVMessage& m) {
    std::vector<CTLVTag*> all{nullptr};
    m.getAllTags(all);
    std::vector<unsigned int> out;
    for (CTLVTag* tag : all) tag->getType(out.emplace_back());
    return out;
}
std::string text(CTLVMessage& m, unsigned int number) {
    CTLVTag* tag = nullptr;
    unsigned int len = 0;
    if (m.getTag(tag, number) != 0 || tag->getLength(len) != 0) return "<absent>";
    std::string out(len, '\0');
    if (len != 0) tag->getValue(&out[0], len);
    return out;
}

TEST(TLVMessage, BuildDumpEmptyOrderedShortAndWithoutValue) {
    CTLVMessage m;
    Bytes buf(28, 0xEE);
    unsigned int len = 7;
    EXPECT_EQ(m.buildDump(buf.data(), 0, len), 0u);
    EXPECT_EQ(len, 0u);
    EXPECT_EQ(m.buildDump(nullptr, 4, len), 202u);
    EXPECT_EQ(m.addTag(nullptr), 202u);
    for (unsigned int n : {5u, 1u, 3u}) m.addTag(new CTLVTag(n, std::to_string(n).c_str()));
    EXPECT_THAT(numbers(m), testing::ElementsAre(1u, 3u, 5u));
    EXPECT_EQ(m.buildDump(buf.data(), 26, len), 204u);
    EXPECT_EQ(len, 27u);
    EXPECT_EQ(buf, Bytes(28, 0xEE));
    EXPECT_EQ(m.buildDump(buf.data(), 28, len), 0u);
    EXPECT_EQ(buf, (Bytes{0, 0, 0, 1, 0, 0, 0, 1, '1', 0, 0, 0, 3, 0, 0, 0, 1, '3', 0, 0, 0, 5, 0, 0, 0, 1, '5', 0}));
    m.addTag(new CTLVTag(2));
    EXPECT_EQ(m.getDumpLength(len), 205u);
    EXPECT_EQ(m.buildDump(buf.data(), 64, len), 205u);
}

TEST(TLVMessage, AddTagReplacesGetTagAndCopy) {
    CTLVMessage m, copy;
    auto* second = new CTLVTag(7, 0x02000000u);
    m.addTag(new CTLVTag(7, "first"));
    m.addTag(second);
    EXPECT_EQ(m.addTag(second), 0u) << "the stored tag again: no double delete";
    CTLVTag* got = nullptr;
    EXPECT_EQ(m.getTag(got, 7), 0u);
    EXPECT_EQ(got, second);
    EXPECT_EQ(m.getTag(got, 8), 201u);
    parse(copy, piece(1, 2, {'x', 'y'}));
    copy.copy(m);
    m.clear();
    unsigned int n = 0;
    EXPECT_EQ(copy.getTagNumValue(7, n), 0u);
    EXPECT_EQ(n, 2u);
    EXPECT_TRUE(copy.IsReceiptPresent()) << "copy keeps the file buffer";
}

TEST(TLVMessage, ParseRefusesDumpsThatRecordsDoNotFillExactly) {
    const Bytes ab = record(1, {'A', 'B'});
    std::vector<Bytes> bad{Bytes{0, 0, 0, 1, 0, 0, 0, 4, 1, 2, 3, 4}, ab + le(2), le(1) + le(3) + Bytes{'A', 'B'},
                           record(1, {}) + le(2) + le(1), le(1) + le(0xFFFFFFFF) + Bytes{0}};
    for (size_t size = 1; size <= 7; ++size) bad.emplace_back(ab.begin(), ab.begin() + size);
    for (const Bytes& dump : bad) {
        CTLVMessage m;
        m.addTag(new CTLVTag(9, "old"));
        EXPECT_EQ(parse(m, dump), 206u) << dump.size();
        EXPECT_TRUE(numbers(m).empty());
    }
}

TEST(TLVMessage, ParseReadsRecordsLeastSignificantFirst) {
    CTLVMessage m;
    m.addTag(new CTLVTag(9, "old"));
    EXPECT_EQ(m.parseDump(nullptr, 10), 202u);
    EXPECT_TRUE(m.findTag(9));
    EXPECT_EQ(parse(m, Bytes{1, 0, 0, 0, 2, 0, 0, 0, 0x41, 0x42}), 0u);
    EXPECT_EQ(text(m, 1), "AB");
    EXPECT_EQ(parse(m, record(3, {'a'}) + record(0x01000002, {}) + record(3, {'b'})), 0u);
    EXPECT_THAT(numbers(m), testing::ElementsAre(3u, 0x01000002u));
    EXPECT_EQ(text(m, 3), "b") << "the later of two records wins";
    EXPECT_EQ(m.parseDump(Bytes{1}.data(), 0), 0u);
    EXPECT_TRUE(numbers(m).empty());
}

TEST(TLVMessage, ReceiptCollectedOverSeveralDumps) {
    CTLVMessage m;
    EXPECT_EQ(parse(m, record(1, {'s'}) + piece(1, 3, {'A'})), 0u);
    EXPECT_FALSE(m.findTag(44));
    EXPECT_FALSE(m.IsReceiptPresent()) << "one byte is not a receipt";
    EXPECT_EQ(parse(m, piece(2, 3, {'B'})), 0u);
    EXPECT_FALSE(m.isFileBufferEnd());
    m.clear();
    EXPECT_TRUE(m.IsReceiptPresent());
    EXPECT_EQ(parse(m, piece(3, 3, {'C'}) + record(2, {'z'})), 0u);
    EXPECT_EQ(text(m, 44), "ABC");
    EXPECT_FALSE(m.findTag(2)) << "records after the last piece are not parsed";
    EXPECT_TRUE(m.isFileBufferEnd());
}

TEST(TLVMessage, FilePieceLimits) {
    struct Case { Bytes first, second; unsigned int rc; std::string value; };
    const Bytes full(CTLVMessage::FileBufferCapacity - 1, 'x');
    for (const Case& c : {Case{piece(1, 2, {}), piece(4, 3, {}), 204, "<absent>"},
                          Case{piece(1, 2, {}), record(85, {1, 0, 0, 0, 1, 0, 0}), 204, "<absent>"},
                          Case{piece(1, 2, {'q'}), piece(0, 0, {'r'}, 85), 0, "q"},
                          Case{piece(1, 2, {}), piece(0, 0, {}), 0, ""},
                          Case{piece(1, 2, full), piece(2, 2, {'y'}), 0, std::string(full.size(), 'x') + "y"},
                          Case{piece(1, 2, full + Bytes{'y'}), piece(2, 2, {'z'}), 204, "<absent>"}}) {
        CTLVMessage m;
        EXPECT_EQ(parse(m, c.first), 0u);
        EXPECT_EQ(parse(m, record(5, {'k'}) + c.second), c.rc);
        EXPECT_EQ(text(m, 5), "k") << "tags before a refused piece stay";
        EXPECT_EQ(text(m, c.second[0]), c.value);
        EXPECT_EQ(m.isFileBufferEnd(), c.rc == 0);
    }
}

} // namespace
