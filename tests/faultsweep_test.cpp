// SPDX-License-Identifier: MIT
// Every channel call of an operation fails once, in each way a channel can fail; the operation must end with
// one of its documented results and write nothing but its frame and single control bytes. Leaks show under ASan.
#include "ecrlink/Channel.h"
#include "ecrlink/ECRDialogue.h"
#include "support/Wire.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <set>

using namespace testing_support;

enum class Fault { None, Code, Timeout, Lost, Partial, TooMany };

// A terminal that answers from a script; call number `at` (counting every call) fails with `fault`.
struct SweepLine : Communication::Channel {
    SweepLine(Bytes terminal, int at, Fault fault) : pending(std::move(terminal)), at(at), fault(fault) {}
    int open() override { return plain(); }
    int close() override { return plain(); }
    int isOpened() override { return plain(); }
    int setReadTimeouts(unsigned int, unsigned int) override { return plain(); }
    int flush() override { return plain(); }
    int setOpenFlag(bool) override { return plain(); }
    int read(unsigned char* buffer, unsigned int wanted, unsigned int& count) override {
        count = 0;
        const Fault f = next();
        if (f == Fault::Code || f == Fault::Timeout || f == Fault::Lost) return failure(f);
        const unsigned int n = std::min<std::size_t>({wanted, pending.size(), f == Fault::Partial ? 1u : ~0u});
        if (n == 0) return 106; // nothing more from the terminal
        std::memcpy(buffer, pending.data(), n);
        pending.erase(pending.begin(), pending.begin() + n);
        count = f == Fault::TooMany ? wanted + 1 : n;
        return 0;
    }
    int write(const unsigned char* data, unsigned int length, unsigned int& count) override {
        count = 0;
        const Fault f = next();
        if (f == Fault::Code || f == Fault::Timeout || f == Fault::Lost) return failure(f);
        count = f == Fault::Partial ? length / 2 : f == Fault::TooMany ? length + 5 : length;
        writes.emplace_back(data, data + std::min(count, length));
        return f == Fault::None ? 0 : 116;
    }
    Fault next() { return gone ? Fault::Lost : calls++ == at ? fault : Fault::None; }
    int failure(Fault f) {
        gone = gone || f == Fault::Lost;
        return f == Fault::Code ? 107 : f == Fault::Timeout ? 106 : 105;
    }
    int plain() { const Fault f = next(); return f == Fault::None ? 0 : failure(f == Fault::Partial || f == Fault::TooMany ? Fault::Code : f); }

    Bytes pending;
    int at, calls = 0;
    Fault fault;
    bool gone = false;
    std::vector<Bytes> writes;
};

TEST(FaultSweep, EveryCallFailingOnceEndsInADocumentedResult) {
    static CTLVMessage request;
    static unsigned int idleMs = 0;
    request.addTag(new CTLVTag(4, 1250u));
    const Bytes requestFrame = frame(0x02, hex("00 00 00 04 00 00 00 04 00 00 04 e2"));
    const Bytes answer = frame(0x02, record(2, {'O', 'K'}));
    const Bytes purchase = Bytes{0x06} + frame(0x12, record(2, {'P'})) + frame(0x02, piece(44, 1, 2, "AB")) +
                           frame(0x02, piece(44, 2, 2, "C")) + answer;
    const std::set<unsigned int> sending{0, 303, 304, 306, 307},
        receiving{0, 105, 202, 204, 206, 302, 303, 304, 305, 308, 309, 310, 311, 312, 315, 317},
        dialogue{0, 105, 202, 204, 206, 302, 303, 304, 305, 306, 307, 308, 309, 310, 311, 312, 315, 317, 320, 321, 323};
    struct Operation { const char* name; Bytes terminal; std::set<unsigned int> results; std::function<unsigned int(CECRProto&)> run; };
    const Operation operations[] = {
        {"open", {}, {0}, [](CECRProto& p) { return p.open(true); }},
        {"sendAbort", {}, {0}, [](CECRProto& p) { return p.sendAbort(); }},
        {"sendMessage", {0x06}, sending, [](CECRProto& p) { return p.sendMessage(request); }},
        {"recvMessage", answer, receiving, [](CECRProto& p) { CTLVMessage m; return p.recvMessage(m); }},
        {"purchase", purchase, dialogue, [](CECRProto& p) {
             CECRDialogue d(p);
             d.setIdleTimeout(idleMs);
             CTLVMessage m;
             return d.run(request, m);
         }},
    };
    for (const Operation& op : operations) {
        auto* clean = new SweepLine(op.terminal, -1, Fault::None);
        CECRProto reference;
        reference.setCommunication(clean);
        // The clean run ends with the answer and never waits the idle time-out out: a long one keeps a slow
        // machine (an emulator) from ending it early. A faulty run may have to wait, and 320 is among its results.
        idleMs = 60000;
        ASSERT_EQ(op.run(reference), 0u) << op.name;
        idleMs = 20;
        for (int at = 0; at < clean->calls; ++at)
            for (Fault fault : {Fault::Code, Fault::Timeout, Fault::Lost, Fault::Partial, Fault::TooMany}) {
                SCOPED_TRACE(std::string(op.name) + " call " + std::to_string(at) + " fault " + std::to_string(int(fault)));
                auto* line = new SweepLine(op.terminal, at, fault);
                CECRProto proto;
                proto.setCommunication(line);
                const unsigned int rc = op.run(proto);
                EXPECT_TRUE(op.results.count(rc) || rc == 105 || rc == 106 || rc == 107 || rc == 116) << rc;
                for (const Bytes& w : line->writes) {
                    const bool control = w.size() == 1 && (w[0] == 0x06 || w[0] == 0x15 || w[0] == 0x04);
                    EXPECT_TRUE(control || std::search(requestFrame.begin(), requestFrame.end(), w.begin(), w.end()) !=
                                               requestFrame.end()) << "wrote " << toHex(w);
                }
            }
    }
}
