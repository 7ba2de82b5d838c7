// SPDX-License-Identifier: MIT
// Tags and messages: values in each encoding, tag records, dumps both ways, and a receipt collected from pieces.
#include "ecrlink/TLVMessage.h"
#include "support/Wire.h"

#include <gmock/gmock.h>

using namespace testing_support;

Bytes valueOf(const CTLVTag& tag) {
    Bytes out(64);
    unsigned int len = 0;
    out.resize(tag.getValue(out.data(), 64, len) == 0 ? len : 0);
    return out;
}
// One spare byte, so that even an empty dump comes with a buffer.
unsigned int parse(CTLVMessage& m, const Bytes& dump) { return m.parseDump((dump + Bytes{0}).data(), unsigned(dump.size())); }
// The tags in getAllTags order as "number=value;", long values as their length.
std::string tags(CTLVMessage& m) {
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

TEST(TLVTag, NumberAndTextReads) {
    // value -> number read (rc, least / most significant byte first), text read into 5 of 6 bytes (rc, buffer).
    struct Case { std::string value; unsigned int numRc, lsb, msb, textRc; std::string buffer; };
    for (const Case& c : {Case{"", 205, 42, 42, 205, "######"}, Case{"ABC", 203, 42, 42, 0, std::string("ABC\0\0#", 6)},
                          Case{"\1\2\3\4", 0, 0x04030201, 0x01020304, 0, std::string("\1\2\3\4\0#", 6)},
                          Case{"ABCDE", 203, 42, 42, 0, "ABCDE#"}, Case{"ABCDEF", 203, 42, 42, 204, "######"}}) {
        SCOPED_TRACE(testing::PrintToString(c.value));
        const CTLVTag tag(1, c.value.c_str());
        unsigned int lsb = 42, msb = 42;
        std::string buf(6, '#');
        EXPECT_EQ(tag.getValue(lsb), c.numRc);
        EXPECT_EQ(tag.getValueR(msb), c.numRc);
        EXPECT_EQ(lsb, c.lsb);
        EXPECT_EQ(msb, c.msb);
        EXPECT_EQ(tag.getValue(&buf[0], 5), c.textRc);
        EXPECT_EQ(buf, c.buffer);
    }
    EXPECT_EQ(valueOf(CTLVTag(3, 0x01020304u)), (Bytes{1, 2, 3, 4}));
}

TEST(TLVTag, RecordNullArgumentsAndCopy) {
    CTLVTag tag(4, "xy"), target(1, "old"), bare(9), number(0x0A0B0C0D, 0x01020304u);
    Bytes buf(16, 0xEE);
    unsigned int len = 0, type = 0;
    EXPECT_EQ(number.getBinData(buf.data(), 11, len), 204u);
    EXPECT_EQ(len, 12u);
    EXPECT_EQ(buf, Bytes(16, 0xEE));
    EXPECT_EQ(number.getBinData(buf.data(), 15, len), 0u);
    EXPECT_EQ(buf, hex("0a 0b 0c 0d 00 00 00 04 01 02 03 04 00 00 00 ee")) << "record, then zeros";
    EXPECT_EQ(bare.getBinData(buf.data(), 16, len), 205u);
    EXPECT_EQ(tag.setValue(static_cast<const char*>(nullptr)) + tag.setValue(nullptr, 3), 404u);
    EXPECT_EQ(target.copy(tag), 0u);
    tag.setValue("zz");
    EXPECT_EQ(valueOf(target), (Bytes{'x', 'y'})) << "deep copy of the unchanged source";
    EXPECT_EQ(target.copy(bare), 202u);
    EXPECT_EQ(target.getType(type), 0u);
    EXPECT_EQ(type, 9u);
    EXPECT_TRUE(valueOf(target).empty());
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
    EXPECT_EQ(m.buildDump(nullptr, 4, len) + m.addTag(nullptr), 404u);
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
    EXPECT_EQ(buf, hex("00 00 00 01 00 00 00 04 31 32 33 34 00 00 00 03 00 00 00 01 33 00 00 00 05 00 00 00 01 35 00"));
    parse(copy, piece(44, 1, 2, "xy"));
    copy.copy(m);
    m.addTag(new CTLVTag(2));
    EXPECT_EQ(m.buildDump(buf.data(), 31, len), 205u);
    EXPECT_EQ(tags(copy), "1=1234;3=3;5=5;");
    EXPECT_EQ(copy.getTagNumValue(1, n), 0u);
    EXPECT_EQ(n, 0x34333231u);
    EXPECT_TRUE(copy.IsReceiptPresent()) << "copy keeps its own file buffer";
}

TEST(TLVMessage, BuildDumpAroundOnePage) {
    // Value lengths of tags 1, 2, ... (0: no value), giving dumps around 4 KiB: each is built into a buffer
    // of 0xEE one byte short (204, untouched), exact, and 3 bytes long (zeros after); rc and needed length.
    struct Case { std::vector<unsigned int> lengths; unsigned int rc, needed; };
    const std::vector<unsigned int> small(300, 6);
    for (const Case& c : {Case{{2000, 2079}, 0, 4095}, Case{{2000, 2080}, 0, 4096}, Case{{2000, 2081}, 0, 4097},
                          Case{{5000}, 0, 5008}, Case{small, 0, 4200}, Case{{4000, 0, 9}, 205, 4008}}) {
        SCOPED_TRACE(c.needed);
        CTLVMessage m;
        Bytes dump;
        for (unsigned int i = 0; i < c.lengths.size(); ++i) {
            const Bytes value(c.lengths[i], std::uint8_t('a' + i % 26));
            m.addTag(new CTLVTag(i + 1, value.data(), c.lengths[i]));
            dump = dump + Bytes{0, 0, std::uint8_t((i + 1) >> 8), std::uint8_t(i + 1)} +
                   Bytes{0, 0, std::uint8_t(c.lengths[i] >> 8), std::uint8_t(c.lengths[i])} + value;
        }
        for (unsigned int size : {c.needed - 1, c.needed, c.needed + 3}) {
            Bytes buf(size, 0xEE);
            unsigned int len = 0;
            const bool fits = c.rc == 0 && size >= c.needed;
            EXPECT_EQ(m.buildDump(buf.data(), size, len), c.rc != 0 ? c.rc : fits ? 0u : 204u);
            EXPECT_EQ(len, c.needed);
            EXPECT_TRUE(buf == (fits ? dump + Bytes(size - c.needed, 0) : Bytes(size, 0xEE))) << size;
        }
    }
}

TEST(TLVMessage, ParseDump) {
    // Each row is parsed into a message holding tag 9 "old": rc, tags after, file complete.
    struct Case { std::string name; Bytes dump; unsigned int rc; std::string tags; bool end; };
    const Bytes ab = record(1, {'A', 'B'}), k = record(5, {'k'}), e = {}, full(CTLVMessage::FileBufferCapacity - 1, 'x');
    std::vector<Case> cases{
        {"size 0", {}, 0, "", false}, {"incoming", hex("01 00 00 00 02 00 00 00 41 42"), 0, "1=AB;", false},
        {"later record wins", record(3, {'a'}) + record(0x01000002, {}) + record(3, {'b'}), 0, "3=b;16777218=;", false},
        {"trailing number", ab + hex("02 00 00 00"), 206, "", false}, {"huge length", hex("01 00 00 00 ff ff ff ff 00"), 206, "", false},
        {"piece 4 of 3", piece(44, 1, 2, e) + k + piece(44, 4, 3, e), 204, "5=k;", false},
        {"piece header short", piece(44, 1, 2, e) + k + record(85, {1, 0, 0, 0, 1, 0, 0}), 204, "5=k;", false},
        {"0 of 0 ends", piece(44, 1, 2, "q") + k + piece(85, 0, 0, "r"), 0, "5=k;85=q;", true},
        {"buffer exactly full", piece(44, 1, 2, full) + k + piece(44, 2, 2, "y"), 0, "5=k;44=204800 bytes;", true},
        {"one byte over", piece(44, 1, 2, full + Bytes{'y'}) + k + piece(44, 2, 2, "z"), 204, "5=k;", false}};
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
    for (const Step& s : {Step{record(1, {'s'}) + piece(44, 1, 3, "A"), "1=s;", false, false}, Step{piece(44, 2, 3, "B"), "", true, false},
                          Step{piece(44, 3, 3, "C") + record(2, {'z'}), "44=ABC;", true, true}}) {
        SCOPED_TRACE(testing::PrintToString(s.dump));
        EXPECT_EQ(parse(m, s.dump), 0u);
        EXPECT_EQ(tags(m), s.tags);
        EXPECT_EQ(m.IsReceiptPresent(), s.receipt);
        EXPECT_EQ(m.isFileBufferEnd(), s.end);
        m.clear();
    }
}
