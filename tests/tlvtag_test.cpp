#include "ecrlink/TLVTag.h"

#include <gmock/gmock.h>

using Bytes = std::vector<unsigned char>;

static Bytes valueOf(const CTLVTag& tag) {
    Bytes out(64);
    unsigned int len = 0;
    out.resize(tag.getValue(out.data(), 64, len) == 0 ? len : 0);
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
    EXPECT_EQ(buf, (Bytes{0x0A, 0x0B, 0x0C, 0x0D, 0, 0, 0, 4, 1, 2, 3, 4, 0, 0, 0, 0xEE})) << "record, then zeros";
    EXPECT_EQ(bare.getBinData(buf.data(), 16, len), 205u);
    EXPECT_EQ(tag.setValue(static_cast<const char*>(nullptr)), 202u);
    EXPECT_EQ(tag.setValue(nullptr, 3), 202u);
    EXPECT_EQ(target.copy(tag), 0u);
    tag.setValue("zz");
    EXPECT_EQ(valueOf(target), (Bytes{'x', 'y'})) << "deep copy of the unchanged source";
    EXPECT_EQ(target.copy(bare), 202u);
    EXPECT_EQ(target.getType(type), 0u);
    EXPECT_EQ(type, 9u);
    EXPECT_TRUE(valueOf(target).empty());
}
