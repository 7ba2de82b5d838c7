// SPDX-License-Identifier: MIT
// The tool's parsers and formatters, one row per input: its value or its error.

#include "capture/Transaction.h"
#include "sim/ScenarioParser.h"
#include "wire/TagTable.h"

#include <gtest/gtest.h>

using namespace ecrlink::tool;

namespace {

constexpr auto Lsb = ByteOrder::LsbFirst, Msb = ByteOrder::MsbFirst;

// Every row's text, and "!" + the error where it failed.
template <typename Row, typename Fn> void eachRow(const std::vector<Row>& rows, Fn describe) {
    for (const Row& row : rows) {
        std::string error;
        const std::string got = describe(row, error);
        EXPECT_EQ(error.empty() ? got : "!" + error, row.expected) << row.input.substr(0, 80);
    }
}

struct Row { std::string input, expected; ByteOrder order = Lsb; };

// Numbers are decimal or 0x hex: no octal, sign, space or other base.
TEST(Toolkit, HexAndTagSpecs) {
    const std::string notTag = " is not a tag number (decimal or 0x hex, at most 0xFFFFFFFF)";
    eachRow<Row>({{"02 00 03", "02 00 03"}, {"020003", "02 00 03"}, {"0x02,0x00:7f", "02 00 7f"},
                  {"0 2", "!odd number of hex digits before position 2"}, {"abc", "!odd number of hex digits"},
                  {"zz", "!not a hex digit: 'z' at position 1"}},
                 [](const Row& r, std::string& error) {
                     Bytes bytes;
                     parseHex(r.input, bytes, error);
                     return toHex(bytes);
                 });
    eachRow<Row>({{"2=PURCHASE", "2=50 55 52 43 48 41 53 45"}, {"4=u32:1250", "4=e2 04 00 00"},
                  {"4=u32:1250", "4=00 00 04 e2", Msb}, {"010=u32:0100", "10=64 00 00 00"}, {"08=X", "8=58"},
                  {"0x2c=hex:0102", "44=01 02"}, {"3=text:u32:1", "3=75 33 32 3a 31"}, {"4=echo", "4= echo"},
                  {"4=u32:echo", "4= echo u32"}, {"2", "!'2' is not NUM=VALUE"},
                  {"two=X", "!'two'" + notTag},
                  {"2=", "!tag 2 has an empty value"}, {"2=hex:0", "!tag 2: odd number of hex digits"},
                  {"2=u32:-1", "!'u32:-1' is not a 32-bit unsigned number (decimal or 0x hex)"},
                  {"2=u32:0x100000000", "!'u32:0x100000000' is not a 32-bit unsigned number (decimal or 0x hex)"},
                  {"4294967295=u32:0XfFfFfFfF", "4294967295=ff ff ff ff"}, {"4294967296=A", "!'4294967296'" + notTag},
                  {"0x=A", "!'0x'" + notTag}, {"+1=A", "!'+1'" + notTag}, {" 1=A", "!' 1'" + notTag},
                  {"1.0=A", "!'1.0'" + notTag}, {"0x1g=A", "!'0x1g'" + notTag}},
                 [](const Row& r, std::string& error) {
                     TagSpec spec;
                     TagSpec::parse(r.input, r.order, true, spec, error);
                     return std::to_string(spec.tag.number) + "=" + toHex(spec.tag.value) +
                            (spec.echo ? " echo" : "") + (spec.echoNumber ? " u32" : "");
                 });
}

// A step as "kind@line" and what it holds besides its defaults.
std::string describe(const ScenarioStep& s) {
    static const char* const kinds[] = {"answer", "frame", "receipt", "raw", "sleep", "slow", "corrupt", "drop"};
    std::string text = kinds[static_cast<int>(s.kind)] + ("@" + std::to_string(s.line));
    if (s.reply != ScenarioStep::Reply::Ack || s.start != 0x02) text += " " + std::to_string(static_cast<int>(s.reply)) + "/" + toHex(&s.start, 1);
    for (const TagSpec& t : s.tags) text += " " + std::to_string(t.tag.number) + "=" + toHex(t.tag.value);
    if (s.pieces) text += " " + std::to_string(s.tagNumber) + " " + s.text + " " + std::to_string(s.pieces);
    return text + (s.bytes.empty() ? "" : " " + toHex(s.bytes)) + (s.ms ? " " + std::to_string(s.ms) : "") + ", ";
}

TEST(Toolkit, ScenarioLinesAreCheckedWhenRead) {
    const std::string fits(65535 - 16, 'A'); // the largest piece a frame holds, with its two headers
    eachRow<Row>({{"ack\n  # note\nsend 2=\"A B\\\"\\n\" 3=u32:1 # comment\n", "answer@1, frame@3 2=41 20 42 22 0a 3=01 00 00 00, "},
                  {"nak\neot\nignore\nstatus 2=X\nreceipt 0x55 \"a\\tb\" 2\nsleep 0500\nslow 0x10\nraw 02 10 01\nbel\ncorrupt\ndrop",
                   "answer@1 1/02, answer@2 2/02, answer@3 3/02, frame@4 0/12 2=58, receipt@5 85 a\tb 2, sleep@6 500, "
                   "slow@7 16, raw@8 02 10 01, raw@9 07, corrupt@10, drop@11, "},
                  {"ack\nreceipt 44 \"" + fits + "\" 1", "answer@1, receipt@2 44 " + fits + " 1, "},
                  {"ack\nreceipt 44 \"" + fits + "A\" 1", "!s:2: a frame of 65536 data bytes cannot be sent (65535 at most)"},
                  {"ack\nreceipt 44 \"" + fits + fits + "\" 2", "answer@1, receipt@2 44 " + fits + fits + " 2, "},
                  {"ack\nsend 2=" + fits + "AAAAAAAAA", "!s:2: a frame of 65536 data bytes cannot be sent (65535 at most)"},
                  {"ack\n\nfrobnicate\n", "!s:3: unknown command 'frobnicate'"},
                  {"send 2=X\n", "!s:1: a scenario begins by answering the register's request (ack, nak, eot or ignore)"},
                  {"ack\nsend 2=u32:-1\n", "!s:2: 'u32:-1' is not a 32-bit unsigned number (decimal or 0x hex)"},
                  {"# nothing\n", "!s: no steps"},
                  {"ack now", "!s:1: 'ack' takes no arguments"},
                  {"ack\nsend", "!s:2: 'send' needs at least one NUM=VALUE"},
                  {"ack\nreceipt 12 \"text\" 2\n", "!s:2: receipt tag must be a file tag, 44 or 85"},
                  {"ack\nreceipt 44 \"ab\" 3\n", "!s:2: receipt pieces must be 1 to 1000 and no more than the text's length"},
                  {"ack\nreceipt 44 \"\" 1\n", "!s:2: receipt text is empty"},
                  {"ack\nraw 0g\n", "!s:2: 'raw' needs hex bytes: not a hex digit: 'g' at position 2"},
                  {"ack\nsend 2=\"open\n", "!s:2: unterminated quoted text"},
                  {"ack\nsleep\n", "!s:2: 'sleep' needs milliseconds, 0 to 600000"},
                  {"ack\nsleep 600001\n", "!s:2: 'sleep' needs milliseconds, 0 to 600000"},
                  {"ack\nslow 1e3\n", "!s:2: 'slow' needs milliseconds, 0 to 10000"}},
                 [](const Row& r, std::string& error) {
                     Scenario scenario;
                     std::string text;
                     if (ScenarioParser::parse(r.input, "s", scenario, error))
                         for (const ScenarioStep& step : scenario.steps) text += describe(step);
                     return text;
                 });
}

// Dumps are given as they stand on the wire; the summary and one table row show how they read.
TEST(Toolkit, DumpsAndTagTables) {
    eachRow<Row>({{"", "(no tags) | (no tags)"},
                  {"01000000 02000000 4142", "1=\"AB\" | 1     2     41 42" + std::string(47, ' ') + "\"AB\""},
                  {"00000001 00000002 4142", "1=\"AB\" | 1     2     41 42", Msb},
                  {"04000000 04000000 e2040000", "4=u32:1250 | 4     4     e2 04 00 00"},
                  {"04000000 04000000 31323334", "4=\"1234\" | \"1234\"  u32 875770417"},
                  {"00000004 00000004 000004e2", "4=u32:1250 | u32 1250", Msb},
                  {"2c000000 0a000000 01000000 03000000 4142", "44=[piece 1/3, 2 bytes] | piece 1/3 \"AB\""},
                  {"05000000 11000000 000102030405060708090a0b0c0d0e0f10",
                   "5=hex:00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f ... | 0c 0d 0e 0f ..."},
                  {"02000000 00000000 03000000 01000000 41", "2=hex: 3=\"A\" | 2     0"},
                  {"01000000 03000000 4142", "!record at offset 0 announces 3 value bytes, only 2 follow"},
                  {"01000000 02000000 4142 01", "!1 byte(s) left at offset 10, too few for a record header"},
                  {"00000001 00000003 4142", "!record at offset 0 announces 3 value bytes, only 2 follow", Msb}},
                 [](const Row& r, std::string& error) {
                     Bytes dump;
                     std::vector<RawTag> tags;
                     parseHex(r.input, dump, error);
                     if (!WireDump::decode(dump, r.order, tags, error)) return std::string();
                     EXPECT_EQ(WireDump::encode(tags, r.order), dump) << r.input;
                     const std::string summary = TagTable::summary(tags, r.order, true);
                     const std::string table = TagTable::table(tags, r.order, true);
                     const std::string shown = r.expected.substr(r.expected.find('|') + 2);
                     return summary + " | " + (table.find(shown) == std::string::npos ? table : shown);
                 });
}

} // namespace

// A day's capture is cut into transactions at a session, at a journal's intent after bytes on the line, and at a
// request of the register once the terminal has sent a frame; a request repeated after a NAK stays in its own.
// Letters: S session, B intent, E outcome, o open, R request, A ACK and n NAK from the register, N NAK and a ACK
// from the terminal, T data frame and D status frame from the terminal.
TEST(Toolkit, CaptureSplitsIntoTransactions) {
    using Kind = TimelineEntry::Kind;
    for (const Row& row : std::vector<Row>{{"SoRaTA SoRaTA", "SoRaTA|SoRaTA"},
                                           {"SoRNRaTA RaTnTA RaDATA", "SoRNRaTA|RaTnTA|RaDATA"},
                                           {"SBoRaTAE BRaTAE", "SBoRaTAE|BRaTAE"},
                                           {"oBRNRNRE oRaTA", "oBRNRNREo|RaTA"}}) {
        std::string got;
        TransactionSplitter split([&](Transaction&& t) {
            got += got.empty() ? "" : "|";
            for (const TimelineEntry& e : t.entries) got += e.operation;
        });
        for (const char c : row.input) {
            if (c == ' ') continue;
            TimelineEntry e;
            e.operation = std::string(1, c);
            e.kind = c == 'S' ? Kind::Session : c == 'B' ? Kind::Begins : c == 'E' ? Kind::Ended : c == 'o' ? Kind::Open
                     : std::string("RTD").find(c) != std::string::npos ? Kind::Frame : Kind::Control;
            e.fromTerminal = std::string("NaTD").find(c) != std::string::npos;
            e.start = c == 'D' ? 0x12 : c == 'R' || c == 'T' ? 0x02 : c == 'A' || c == 'a' ? 0x06 : 0x15;
            split.feed(std::move(e));
        }
        split.finish();
        EXPECT_EQ(got, row.expected) << row.input;
    }
}
