#include "ecrlink/TLVTag.h"

#include <gmock/gmock.h>

#include <string>
#include <vector>

using Bytes = std::vector<unsigned char>;

namespace {

Bytes valueOf(const CTLVTag& tag) {
    Bytes out(64);
    unsigned int len = 0;
    out.resize(tag.getValue(out.data(), 64, len) == 0 ? len : 0);
    return out;
}
unsigned int typeOf(const CTLVTag& tag) {
    unsigned int type = 0;
    tag.getType(type);
    return type;
}

TEST(TLVTag, ByteOrderHelpersBothWays) {
    struct Case { unsigned int n; Bytes msbFirst; unsigned int readLsbFirst; };
    for (const Case& c : {Case{1, {0, 0, 0, 1}, 1u << 24}, Case{0x01020304, {1, 2, 3, 4}, 0x04030201},
                          Case{0xFFFFFF00, {0xFF, 0xFF, 0xFF, 0}, 0x00FFFFFF}}) {
        Bytes out(4);
        unsigned int lsb = 0, msb = 0;
        CTLVTag::numToBin(out.data(), c.n);
        CTLVTag::binToNum(c.msbFirst.data(), lsb);
        CTLVTag::binToNumR(c.msbFirst.data(), msb);
        EXPECT_EQ(out, c.msbFirst);
        EXPECT_EQ(lsb, c.readLsbFirst);
        EXPECT_EQ(msb, c.n);
    }
    EXPECT_EQ(valueOf(CTLVTag(3, 1u)), (Bytes{0, 0, 0, 1}));
}

TEST(TLVTag, NumberReadsNeedExactlyFourBytes) {
    struct Case { Bytes value; unsigned int rc, lsb, msb; };
    for (const Case& c : {Case{{}, 205, 42, 42}, Case{{1, 2, 3}, 203, 42, 42}, Case{{1, 2, 3, 4, 5}, 203, 42, 42},
                          Case{{0, 0, 0, 1}, 0, 1u << 24, 1}}) {
        CTLVTag tag(1, c.value.data(), static_cast<unsigned int>(c.value.size()));
        unsigned int lsb = 42, msb = 42;
        EXPECT_EQ(tag.getValue(lsb), c.rc);
        EXPECT_EQ(tag.getValueR(msb), c.rc);
        EXPECT_EQ(lsb, c.lsb);
        EXPECT_EQ(msb, c.msb);
    }
}

TEST(TLVTag, TextReadIntoShorterEqualAndLongerBuffers) {
    struct Case { const char* text; unsigned int rc; std::string buffer; };
    for (const Case& c : {Case{"ABCDE", 0, "ABCDE#"}, Case{"ABCD", 0, std::string("ABCD\0#", 6)},
                          Case{"ABCDEF", 204, "######"}, Case{"", 205, "######"}}) {
        std::string buf(6, '#');
        EXPECT_EQ(CTLVTag(1, c.text).getValue(&buf[0], 5), c.rc) << c.text;
        EXPECT_EQ(buf, c.buffer) << c.text;
    }
}

TEST(TLVTag, RecordIsMostSignificantFirstAndZeroFillsTheRest) {
    CTLVTag tag(0x0A0B0C0D, 0x01020304u);
    Bytes buf(16, 0xEE);
    unsigned int len = 0;
    EXPECT_EQ(tag.getBinData(buf.data(), 11, len), 204u);
    EXPECT_EQ(len, 12u);
    EXPECT_EQ(buf, Bytes(16, 0xEE));
    EXPECT_EQ(tag.getBinData(buf.data(), 15, len), 0u);
    EXPECT_EQ(buf, (Bytes{0x0A, 0x0B, 0x0C, 0x0D, 0, 0, 0, 4, 1, 2, 3, 4, 0, 0, 0, 0xEE}));
    EXPECT_EQ(CTLVTag(2, "").getBinData(buf.data(), 16, len), 205u);
}

TEST(TLVTag, NullArgumentsAndCopy) {
    CTLVTag tag(4, "xy"), target(1, "old"), bare(9);
    EXPECT_EQ(tag.setValue(static_cast<const char*>(nullptr)), 202u);
    EXPECT_EQ(tag.setValue(nullptr, 3), 202u);
    EXPECT_EQ(target.copy(tag), 0u);
    tag.setValue("zz");
    EXPECT_EQ(typeOf(target), 4u);
    EXPECT_EQ(valueOf(target), (Bytes{'x', 'y'})) << "deep copy";
    EXPECT_EQ(target.copy(bare), 202u);
    EXPECT_EQ(typeOf(target), 9u);
    EXPECT_TRUE(valueOf(target).empty());
}

} // namespace
