#include "ecrlink/TLVMessage.h"

#include <gmock/gmock.h>

using Bytes = std::vector<unsigned char>;

static Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
static Bytes le(unsigned int n) { return {Bytes::value_type(n), Bytes::value_type(n >> 8), Bytes::value_type(n >> 16), Bytes::value_type(n >> 24)}; }
// Incoming records carry their number and length least significant byte first.
static Bytes record(unsigned int type, const Bytes& value) { return le(type) + le(unsigned(value.size())) + value; }
static Bytes piece(unsigned int n, unsigned int count, const Bytes& data, unsigned int type = 44) { return record(type, le(n) + le(count) + data); }
// One spare byte, so that even an empty dump comes with a buffer.
static unsigned int parse(CTLVMessage& m, const Bytes& dump) { return m.parseDump((dump + Bytes{0}).data(), unsigned(dump.size())); }
// The tags in getAllTags order as "number=value;", long values as their length.
static std::string tags(CTLVMessage& m) {
    std::vector<CTLVTag*> all{nullptr};
    m.getAllTags(all);
    std::string out, value(CTLVMessage::FileBufferCapacity, '\0');
    for (CTLVTag* tag : all) {
        unsigned int type = 0, len = 0;
        tag->getType(type);
        tag->getValue(reinterpret_cast<unsigned char*>(&value[0]), unsigned(value.size()), len);
        out += std::to_string(type) + "=" + (len > 64 ? std::to_string(len) + " bytes" : value.substr(0, len)) + ";";
    }
    return out;
}

TEST(TLVMessage, ResultTexts) {
    EXPECT_THAT(std::vector<std::string>(aTLVErrors, aTLVErrors + 7),
                testing::ElementsAre("General Error.", "Invalid Argument.", "Invalid Operation.", "Too small buffer.",
                                     "No Value.", "Invalid Sequence.", "Message Format Broken."));
}

TEST(TLVMessage, AddReplaceCopyAndBuildDump) {
    CTLVMessage m, copy;
    Bytes buf(31, 0xEE);
    unsigned int len = 7, n = 0;
    EXPECT_EQ(m.buildDump(buf.data(), 0, len), 0u);
    EXPECT_EQ(len, 0u);
    EXPECT_EQ(m.buildDump(nullptr, 4, len), 202u);
    EXPECT_EQ(m.addTag(nullptr), 202u);
    auto* three = new CTLVTag(3, "3");
    for (CTLVTag* tag : {new CTLVTag(5, "5"), new CTLVTag(3, "old"), new CTLVTag(1, "1234"), three, three}) m.addTag(tag);
    CTLVTag* got = nullptr;
    EXPECT_EQ(m.getTag(got, 3), 0u);
    EXPECT_EQ(got, three);
    EXPECT_EQ(m.getTagNumValue(8, n), 201u);
    EXPECT_EQ(m.parseDump(nullptr, 4), 202u);
    EXPECT_EQ(tags(m), "1=1234;3=3;5=5;") << "a refused null dump keeps the tags";
    EXPECT_EQ(m.buildDump(buf.data(), 29, len), 204u);
    EXPECT_EQ(len, 30u);
    EXPECT_EQ(m.buildDump(buf.data(), 31, len), 0u);
    EXPECT_EQ(buf, (Bytes{0, 0, 0, 1, 0, 0, 0, 4, '1', '2', '3', '4', 0, 0, 0, 3, 0, 0, 0, 1, '3', 0, 0, 0, 5, 0, 0, 0, 1, '5', 0}));
    parse(copy, piece(1, 2, {'x', 'y'}));
    copy.copy(m);
    m.addTag(new CTLVTag(2));
    EXPECT_EQ(m.buildDump(buf.data(), 31, len), 205u);
    EXPECT_EQ(tags(copy), "1=1234;3=3;5=5;");
    EXPECT_EQ(copy.getTagNumValue(1, n), 0u);
    EXPECT_EQ(n, 0x34333231u);
    EXPECT_TRUE(copy.IsReceiptPresent()) << "copy keeps its own file buffer";
}

TEST(TLVMessage, ParseDump) {
    // Each row is parsed into a message holding tag 9 "old": rc, tags after, file complete.
    struct Case { std::string name; Bytes dump; unsigned int rc; std::string tags; bool end; };
    const Bytes ab = record(1, {'A', 'B'}), k = record(5, {'k'}), full(CTLVMessage::FileBufferCapacity - 1, 'x');
    std::vector<Case> cases{
        {"size 0", {}, 0, "", false}, {"incoming", {1, 0, 0, 0, 2, 0, 0, 0, 0x41, 0x42}, 0, "1=AB;", false},
        {"later record wins", record(3, {'a'}) + record(0x01000002, {}) + record(3, {'b'}), 0, "3=b;16777218=;", false},
        {"trailing number", ab + le(2), 206, "", false}, {"huge length", le(1) + le(0xFFFFFFFF) + Bytes{0}, 206, "", false},
        {"piece 4 of 3", piece(1, 2, {}) + k + piece(4, 3, {}), 204, "5=k;", false},
        {"piece header short", piece(1, 2, {}) + k + record(85, {1, 0, 0, 0, 1, 0, 0}), 204, "5=k;", false},
        {"0 of 0 ends", piece(1, 2, {'q'}) + k + piece(0, 0, {'r'}, 85), 0, "5=k;85=q;", true},
        {"buffer exactly full", piece(1, 2, full) + k + piece(2, 2, {'y'}), 0, "5=k;44=204800 bytes;", true},
        {"one byte over", piece(1, 2, full + Bytes{'y'}) + k + piece(2, 2, {'z'}), 204, "5=k;", false}};
    for (size_t size = 1; size <= 7; ++size) cases.push_back({"size " + std::to_string(size), Bytes(ab.begin(), ab.begin() + size), 206, "", false});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CTLVMessage m;
        m.addTag(new CTLVTag(9, "old"));
        EXPECT_EQ(parse(m, c.dump), c.rc);
        EXPECT_EQ(tags(m), c.tags);
        EXPECT_EQ(m.isFileBufferEnd(), c.end);
    }
}

TEST(TLVMessage, ReceiptCollectedOverThreeDumps) {
    // After each dump: tags, receipt present (1, then 2 bytes), file complete; clear() keeps the file buffer.
    struct Step { Bytes dump; std::string tags; bool receipt, end; };
    CTLVMessage m;
    EXPECT_FALSE(m.IsReceiptPresent());
    for (const Step& s : {Step{record(1, {'s'}) + piece(1, 3, {'A'}), "1=s;", false, false}, Step{piece(2, 3, {'B'}), "", true, false},
                          Step{piece(3, 3, {'C'}) + record(2, {'z'}), "44=ABC;", true, true}}) {
        SCOPED_TRACE(testing::PrintToString(s.dump));
        EXPECT_EQ(parse(m, s.dump), 0u);
        EXPECT_EQ(tags(m), s.tags);
        EXPECT_EQ(m.IsReceiptPresent(), s.receipt);
        EXPECT_EQ(m.isFileBufferEnd(), s.end);
        m.clear();
    }
}
