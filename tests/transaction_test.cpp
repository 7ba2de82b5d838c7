// SPDX-License-Identifier: MIT
// Transactions end to end: the register's dialogue (C++ and through the C API) against the simulated terminal
// over a pseudo-terminal, with the faults met in shops.
#include "ecrlink/ChannelFactory.h"
#include "ecrlink/DescriptorChannel.h"
#include "ecrlink/ECRDialogue.h"
#include "ecrlink/ecrlink.h"
#include "support/ScriptedChannel.h"
#include "support/SimProcess.h"

#include <functional>
#include <stdexcept>

using namespace testing_support;

namespace {

// The register's end of the pseudo-terminal; it calls `afterAck` once it has written a lone ACK.
struct AckHookedLine : Communication::DescriptorChannel {
    AckHookedLine(const std::string& device, std::function<void()> hook)
        : DescriptorChannel(::open(device.c_str(), O_RDWR | O_NOCTTY)), afterAck(std::move(hook)) {}
    int write(const unsigned char* data, unsigned int length, unsigned int& count) override {
        const int rc = DescriptorChannel::write(data, length, count);
        if (length == 1 && data[0] == 0x06) afterAck();
        return rc;
    }
    std::function<void()> afterAck;
};

struct Register {
    explicit Register(const std::string& address) : address(address) {
        int rc = 0;
        std::string why;
        proto.setCommunication(Communication::createChannel(address, rc, why));
        EXPECT_EQ(proto.open(true), 0u) << why;
        request.addTag(new CTLVTag(2, "PURCHASE"));
        request.addTag(new CTLVTag(4, 1250u));
    }
    unsigned int run() { return dialogue.run(request, answer); }
    std::string address;
    CECRProto proto;
    CECRDialogue dialogue{proto};
    CTLVMessage request, answer;
};

} // namespace

TEST(Transaction, FieldFaultsAgainstTheSimulatedTerminal) {
    enum Eot { NotHeard, Heard, Unchecked };
    struct Row {
        const char* name;
        std::string scenario;
        std::function<unsigned int(Register&)> act;
        unsigned int rc;
        Eot eot;
    };
    const Row rows[] = {
        {"a cancel that lands after the final answer's ACK changes nothing", "ack\nsend 2=APPROVED\n",
         [](Register& r) {
             r.proto.setCommunication(new AckHookedLine(r.address.substr(7), [&r] { r.dialogue.cancel(); }));
             EXPECT_EQ(r.proto.open(true), 0u);
             return r.run();
         },
         0, NotHeard},
        {"a cancel between customers reaches nobody", "purchase",
         [](Register& r) {
             r.dialogue.cancel();
             return r.run();
         },
         0, NotHeard},
        {"a status handler that throws leaves nothing behind", "purchase",
         [](Register& r) {
             r.dialogue.onStatus([](CTLVMessage&) { throw std::runtime_error("display gone"); });
             EXPECT_THROW(r.run(), std::runtime_error);
             r.proto.setCommunication(new ScriptedChannel);
             r.dialogue.cancel();
             return 0u;
         },
         0, Heard},
        {"the line dropped while the request is written", "nak\ndrop\n",
         [](Register& r) {
             r.request.addTag(new CTLVTag(9, std::vector<unsigned char>(60000, 'x').data(), 60000));
             return r.run();
         },
         105, Unchecked},
        {"a terminal sending one byte every 700 ms", "ack\nslow 700\nsend 2=APPROVED 3=A1B2C3\n",
         [](Register& r) {
             r.dialogue.setOverallTimeout(2000);
             const auto start = std::chrono::steady_clock::now();
             const unsigned int rc = r.run();
             EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(3500));
             return rc;
         },
         ECRPResult::OverallTimeout, Unchecked},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const bool isFile = row.scenario.find('\n') != std::string::npos;
        const std::string scenario = isFile ? tempFile("scenario.txt", row.scenario) : row.scenario;
        Sim sim({"sim", "--pty", "--once", "--scenario", scenario});
        {
            Register r("serial:" + sim.address);
            EXPECT_EQ(row.act(r), row.rc);
        }
        if (row.eot != Unchecked) {
            const std::string log = sim.log({row.eot == Heard ? "<- EOT" : "-- dialogue complete"});
            EXPECT_EQ(log.find("<- EOT") != std::string::npos, row.eot == Heard) << log;
        }
        if (isFile) std::remove(scenario.c_str());
    }
}

// A register in C keeps one answer handle for every customer; six purchases, each with a 40,000-byte receipt,
// each get their own receipt and their own amount back.
TEST(Transaction, OneAnswerHandleForSixCustomersWithLongReceipts) {
    const std::string receipt(40000, 'R');
    const std::string scenario = tempFile("receipt.txt", "ack\nreceipt 44 \"" + receipt + "\" 10\nsend 2=APPROVED 4=u32:echo\n");
    Sim sim({"sim", "--pty", "--scenario", scenario});
    ecrlink_proto* proto = nullptr;
    ecrlink_message* answer = nullptr;
    ASSERT_EQ(ecrlink_proto_new(&proto) + ecrlink_message_new(&answer), 0u);
    ASSERT_EQ(ecrlink_proto_use_address(proto, ("serial:" + sim.address).c_str()), 0u);
    ASSERT_EQ(ecrlink_proto_open(proto, 1), 0u);
    for (unsigned int customer = 1; customer <= 6; ++customer) {
        SCOPED_TRACE(customer);
        ecrlink_message* request = nullptr;
        ecrlink_message_new(&request);
        ecrlink_message_set_number(request, 4, customer * 100);
        ecrlink_message_clear(answer);
        EXPECT_EQ(ecrlink_dialogue_run(proto, request, answer), 0u);
        std::size_t length = 0;
        unsigned int amount = 0;
        EXPECT_EQ(ecrlink_dialogue_receipt(proto, nullptr, 0, &length), ECRLINK_TOO_SMALL_BUFFER);
        EXPECT_EQ(length, receipt.size());
        EXPECT_EQ(ecrlink_message_get_number(answer, 4, &amount), 0u);
        EXPECT_EQ(amount, customer * 100);
        ecrlink_message_release(request);
    }
    ecrlink_message_release(answer);
    ecrlink_proto_release(proto);
    std::remove(scenario.c_str());
}
