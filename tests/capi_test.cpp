// SPDX-License-Identifier: MIT
// The C API at its edge: null arguments, ownership across it, the dialogue
// over a channel given as C functions, the shared log.

#include "ecrlink/ecrlink.h"
#include "support/ScriptedChannel.h"

#include <gmock/gmock.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

using namespace testing_support;
using testing::Contains;
using testing::HasSubstr;

namespace {

// A C channel over a ScriptedChannel; interrupt and release are counted.
struct CChannel {
    ScriptedChannel line;
    std::atomic<int> interrupts{0};
    bool released = false;

    static ScriptedChannel& of(void* user) { return static_cast<CChannel*>(user)->line; }
    ecrlink_channel functions() {
        return {this,
                [](void* u) { return of(u).open(); },
                [](void* u) { return of(u).close(); },
                [](void* u, unsigned char* b, unsigned int w, unsigned int* c) { return of(u).read(b, w, *c); },
                [](void* u, const unsigned char* d, unsigned int l, unsigned int* c) { return of(u).write(d, l, *c); },
                [](void* u) { return of(u).isOpened(); },
                [](void* u, unsigned int f, unsigned int ms) { return of(u).setReadTimeouts(f, ms); },
                [](void* u) { return of(u).flush(); },
                [](void* u, int f) { return of(u).setOpenFlag(f != 0); },
                [](void* u) { ++static_cast<CChannel*>(u)->interrupts; },
                nullptr,
                [](void* u) { static_cast<CChannel*>(u)->released = true; }};
    }
};

std::string bytesOf(ecrlink_message* m, unsigned int number) {
    char buffer[64] = {};
    std::size_t length = 0;
    EXPECT_EQ(ecrlink_message_get_bytes(m, number, reinterpret_cast<unsigned char*>(buffer), sizeof buffer, &length), 0u);
    return std::string(buffer, length);
}

} // namespace

TEST(CApi, NullHandlesAndPointersGiveInvalidArgument) {
    ecrlink_proto* proto = nullptr;
    ecrlink_message* message = nullptr;
    ecrlink_tag* tag = nullptr;
    ASSERT_EQ(ecrlink_proto_new(&proto), 0u);
    ASSERT_EQ(ecrlink_message_new(&message), 0u);
    ASSERT_EQ(ecrlink_tag_new(7, &tag), 0u);
    unsigned int n = 0;
    unsigned char byte = 0;
    const ecrlink_channel incomplete{};
    const std::vector<std::function<unsigned int()>> calls = {
        [&] { return ecrlink_proto_new(nullptr); }, [&] { return ecrlink_message_new(nullptr); },
        [&] { return ecrlink_tag_new(1, nullptr); }, [&] { return ecrlink_tag_number(nullptr, &n); },
        [&] { return ecrlink_tag_number(tag, nullptr); }, [&] { return ecrlink_tag_set_text(tag, nullptr); },
        [&] { return ecrlink_tag_set_bytes(tag, nullptr, 3); }, [&] { return ecrlink_tag_copy(tag, nullptr); },
        [&] { return ecrlink_tag_number_value(nullptr, &n); }, [&] { return ecrlink_message_add_tag(message, nullptr); },
        [&] { return ecrlink_message_set_text(nullptr, 1, "x"); }, [&] { return ecrlink_message_get_number(message, 1, nullptr); },
        [&] { return ecrlink_message_count(nullptr, &n); }, [&] { return ecrlink_message_parse(message, nullptr, 4); },
        [&] { return ecrlink_message_dump(nullptr, &byte, 1, nullptr); }, [&] { return ecrlink_proto_open(nullptr, 1); },
        [&] { return ecrlink_proto_use_address(proto, nullptr); }, [&] { return ecrlink_proto_use_channel(proto, &incomplete); },
        [&] { return ecrlink_proto_send_message(proto, nullptr); }, [&] { return ecrlink_proto_recv_message(nullptr, message); },
        [&] { return ecrlink_proto_read_bytes(proto, nullptr, 1); }, [&] { return ecrlink_proto_last_error(nullptr, nullptr, 0, nullptr); },
        [&] { return ecrlink_dialogue_run(proto, message, nullptr); }, [&] { return ecrlink_dialogue_cancel(nullptr); },
        [&] { return ecrlink_dialogue_receipt(nullptr, &byte, 1, nullptr); }};
    for (std::size_t i = 0; i < calls.size(); ++i) EXPECT_EQ(calls[i](), ECRLINK_INVALID_ARGUMENT) << "call " << i;
    EXPECT_EQ(ecrlink_proto_close(proto), 314u) << "no channel: the library's own code";
    EXPECT_EQ(ecrlink_message_receipt_complete(nullptr), 0);
    ecrlink_tag_release(nullptr);
    ecrlink_message_release(nullptr);
    ecrlink_proto_release(nullptr);
    ecrlink_tag_release(tag);
    ecrlink_message_release(message);
    ecrlink_proto_release(proto);
}

TEST(CApi, TextsAndVersion) {
    EXPECT_STREQ(ecrlink_result_text(312), "Status Message received");
    EXPECT_STREQ(ecrlink_result_text(ECRLINK_CANCELLED), "dialogue cancelled");
    EXPECT_STREQ(ecrlink_result_text(ECRLINK_OUT_OF_MEMORY), "out of memory");
    EXPECT_STREQ(ecrlink_result_text(4242), "unknown result code");
    EXPECT_STREQ(ecrlink_version(), ECRLINK_VERSION_STRING);
}

TEST(CApi, MessagesOwnTheirTagsAndCopyOutSafely) {
    ecrlink_message* m = nullptr;
    ecrlink_tag *tag = nullptr, *found = nullptr;
    ASSERT_EQ(ecrlink_message_new(&m), 0u);
    ASSERT_EQ(ecrlink_message_set_number(m, 4, 1250), 0u);
    ASSERT_EQ(ecrlink_message_set_text(m, 2, "OLD"), 0u);
    ASSERT_EQ(ecrlink_tag_new(2, &tag), 0u);
    ASSERT_EQ(ecrlink_tag_set_text(tag, "PURCHASE"), 0u);
    ASSERT_EQ(ecrlink_message_add_tag(m, tag), 0u) << "replaces tag 2; the message owns it now";
    EXPECT_EQ(ecrlink_message_set_text(m, 9, nullptr), 202u) << "the half-made tag is not leaked";
    unsigned int value = 0;
    EXPECT_EQ(ecrlink_message_tag_at(m, 1, &found), 0u);
    EXPECT_EQ(ecrlink_tag_number_value_r(found, &value), 0u);
    EXPECT_EQ(value, 1250u) << "tag 4 comes second";
    EXPECT_EQ(ecrlink_message_tag_at(m, 2, &found), 201u);
    EXPECT_EQ(bytesOf(m, 2), "PURCHASE");

    unsigned char small[4] = {0xAA, 0xAA, 0xAA, 0xAA};
    std::size_t length = 0;
    EXPECT_EQ(ecrlink_message_get_bytes(m, 2, small, sizeof small, &length), 204u);
    EXPECT_EQ(length, 8u);
    EXPECT_EQ(small[0], 0xAA) << "untouched";
    EXPECT_EQ(ecrlink_message_dump(m, nullptr, 0, &length), 204u);
    EXPECT_EQ(length, 28u);
    const Bytes incoming = record(1, hex("0d 00 00 00")); // numbers least significant byte first
    EXPECT_EQ(ecrlink_message_parse(m, incoming.data(), unsigned(incoming.size())), 0u);
    EXPECT_EQ(ecrlink_message_get_number(m, 1, &value), 0u);
    EXPECT_EQ(value, 13u);
    ecrlink_message_release(m);
}

TEST(CApi, DialogueOverAChannelOfTheApplicationsOwn) {
    CChannel channel;
    const std::string receipt = "SHOP\nTOTAL 12.50\n";
    channel.line.play("06")
        .arrive(frame(0x12, record(2, hex("57 41 49 54"))))
        .arrive(frame(0x02, piece(44, 1, 2, receipt.substr(0, 6))))
        .arrive(frame(0x02, piece(44, 2, 2, receipt.substr(6))))
        .arrive(frame(0x02, record(2, hex("41 50 50 52 4f 56 45 44"))));
    ecrlink_proto* proto = nullptr;
    ecrlink_message *request = nullptr, *answer = nullptr;
    ASSERT_EQ(ecrlink_proto_new(&proto), 0u);
    const ecrlink_channel functions = channel.functions();
    ASSERT_EQ(ecrlink_proto_use_channel(proto, &functions), 0u);
    ASSERT_EQ(ecrlink_proto_open(proto, 1), 0u);
    ecrlink_message_new(&request);
    ecrlink_message_new(&answer);
    ecrlink_message_set_number(request, 4, 1250);

    std::pair<std::thread::id, std::string> seen; // the thread and tag 2 of the status message
    ecrlink_dialogue_on_status(proto, [](void* user, ecrlink_message* status) {
        *static_cast<decltype(seen)*>(user) = {std::this_thread::get_id(), bytesOf(status, 2)};
    }, &seen);
    ecrlink_log_drain(nullptr, nullptr);
    ecrlink_log_enable(1);
    EXPECT_EQ(ecrlink_dialogue_run(proto, request, answer), 0u);
    ecrlink_log_enable(0);
    EXPECT_EQ(seen, std::make_pair(std::this_thread::get_id(), std::string("WAIT"))) << "on the caller's thread";
    EXPECT_EQ(bytesOf(answer, 2), "APPROVED");
    char collected[64] = {};
    std::size_t length = 0;
    EXPECT_EQ(ecrlink_dialogue_receipt(proto, reinterpret_cast<unsigned char*>(collected), sizeof collected, &length), 0u);
    EXPECT_EQ(std::string(collected, length), receipt);

    std::vector<std::string> lines;
    EXPECT_EQ(ecrlink_log_wait(0), 1);
    ecrlink_log_drain([](void* user, const char* line, std::size_t) {
        static_cast<std::vector<std::string>*>(user)->push_back(line);
    }, &lines);
    EXPECT_THAT(lines, Contains(HasSubstr(" sending message ok!"))) << "the library's lines reach this consumer";

    // cancelled from another thread while the terminal is quiet
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ecrlink_dialogue_cancel(proto);
    });
    channel.line.play("06");
    EXPECT_EQ(ecrlink_dialogue_run(proto, request, answer), ECRLINK_CANCELLED);
    canceller.join();
    EXPECT_GE(channel.interrupts.load(), 1);
    EXPECT_EQ(channel.line.written.back(), 0x04) << "the terminal is told with EOT";

    // A write that failed is the channel's state until it is opened again, whatever the application's is_opened says.
    channel.line.play("W113");
    EXPECT_EQ(ecrlink_proto_send_byte(proto, 0x06), 113u);
    EXPECT_EQ(ecrlink_proto_is_opened(proto), 113u);
    EXPECT_EQ(ecrlink_proto_open(proto, 1), 0u);
    EXPECT_EQ(ecrlink_proto_is_opened(proto), 0u);

    ecrlink_message_release(request);
    ecrlink_message_release(answer);
    EXPECT_FALSE(channel.released);
    ecrlink_proto_release(proto);
    EXPECT_TRUE(channel.released);
}

TEST(CApi, AddressThatCannotBeUnderstoodTellsWhy) {
    ecrlink_proto* proto = nullptr;
    ASSERT_EQ(ecrlink_proto_new(&proto), 0u);
    EXPECT_EQ(ecrlink_proto_use_address(proto, "carrier-pigeon:12"), 102u);
    char why[200] = "";
    EXPECT_EQ(ecrlink_proto_last_error(proto, why, sizeof why, nullptr), 0u);
    EXPECT_STRNE(why, "");
    EXPECT_EQ(ecrlink_proto_open(proto, 1), 101u);
    ecrlink_proto_release(proto);
}

// A register in C keeps a journal and, after a restart, reads back what became of its transactions.
TEST(CApi, JournalKeepsTheTransactionForRecovery) {
    const std::string path = testing::TempDir() + "capi-" + std::to_string(::getpid()) + ".journal";
    CChannel channel;
    channel.line.play("06")
        .arrive(frame(0x12, record(2, hex("57 41 49 54"))))
        .arrive(frame(0x02, piece(44, 1, 1, "TOTAL 12.50")))
        .arrive(frame(0x02, record(2, hex("41 50 50 52 4f 56 45 44")) + record(7, {})));
    ecrlink_proto* proto = nullptr;
    ecrlink_message *request = nullptr, *answer = nullptr;
    ecrlink_transaction* last = nullptr;
    ASSERT_EQ(ecrlink_proto_new(&proto) + ecrlink_message_new(&request) + ecrlink_message_new(&answer), 0u);
    ASSERT_EQ(ecrlink_transaction_new(&last), 0u);
    ASSERT_EQ(ecrlink_proto_use_journal(proto, path.c_str(), 0), 0u);
    const ecrlink_channel functions = channel.functions();
    ASSERT_EQ(ecrlink_proto_use_channel(proto, &functions), 0u);
    EXPECT_EQ(ecrlink_proto_use_journal(proto, path.c_str(), 0), ECRLINK_INVALID_ARGUMENT) << "after the channel";
    ASSERT_EQ(ecrlink_proto_open(proto, 1), 0u);
    ecrlink_message_set_number(request, 4, 1250);
    EXPECT_EQ(ecrlink_dialogue_run_reference(proto, request, answer, "R-0042"), 0u);
    ecrlink_proto_release(proto);

    unsigned int outcome = 9, result = 9, count = 0;
    char text[64] = "";
    std::size_t length = 0;
    ecrlink_message_set_text(answer, 99, "stale");
    for (const char* reference : {static_cast<const char*>(nullptr), "R-0042"}) {
        ASSERT_EQ(reference ? ecrlink_journal_find(path.c_str(), reference, last) : ecrlink_journal_last(path.c_str(), last), 0u);
        EXPECT_EQ(ecrlink_transaction_outcome(last, &outcome) + ecrlink_transaction_result(last, &result), 0u);
        EXPECT_STREQ(ecrlink_outcome_text(outcome), "answered");
        EXPECT_EQ(result, 0u);
        EXPECT_EQ(ecrlink_transaction_reference(last, text, sizeof text, nullptr) + ecrlink_transaction_answer(last, answer) +
                      ecrlink_message_count(answer, &count), 0u);
        EXPECT_STREQ(text, "R-0042");
        EXPECT_EQ(count, 2u) << "the answer's tags only, the empty one without value";
        EXPECT_EQ(bytesOf(answer, 2), "APPROVED");
        EXPECT_EQ(ecrlink_transaction_receipt(last, reinterpret_cast<unsigned char*>(text), sizeof text, &length), 0u);
        EXPECT_EQ(std::string(text, length), "TOTAL 12.50");
        EXPECT_EQ(ecrlink_transaction_status_count(last, &count) + ecrlink_transaction_status_at(last, 0, answer), 0u);
        EXPECT_EQ(bytesOf(answer, 2), "WAIT");
        EXPECT_EQ(ecrlink_transaction_status_at(last, 1, answer), 201u);
    }
    EXPECT_EQ(ecrlink_journal_find(path.c_str(), "R-0043", last), 0u);
    EXPECT_EQ(ecrlink_transaction_outcome(last, &outcome) + outcome, 0u) << "not found";
    EXPECT_EQ(ecrlink_transaction_answer(last, answer), 205u);
    EXPECT_EQ(ecrlink_transaction_result(last, &result), 205u);
    for (const auto& [file, code] : {std::pair<std::string, unsigned int>{path + ".missing", 103u}, {"/proc/self/exe", 112u}}) {
        char why[512] = "";
        EXPECT_EQ(ecrlink_journal_last(file.c_str(), last), code);
        EXPECT_EQ(ecrlink_transaction_error(last, why, sizeof why, nullptr), 0u);
        EXPECT_THAT(why, testing::StartsWith(file + ": "));
    }
    ecrlink_transaction_release(last);
    ecrlink_message_release(request);
    ecrlink_message_release(answer);
    std::remove(path.c_str());
}
