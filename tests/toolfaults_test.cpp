// SPDX-License-Identifier: MIT
// The noisy line of the simulated terminal: what --faults accepts, and what
// each fault does to a frame or a reply.

#include "sim/FaultPlan.h"

#include <gmock/gmock.h>

using ecrlink::tool::Bytes;
using ecrlink::tool::FaultPlan;
using Fault = FaultPlan::Fault;

TEST(FaultPlan, ParsesExactly) {
    FaultPlan::Rates rates;
    std::string error;
    ASSERT_TRUE(FaultPlan::parse("corrupt=0.01,length=0.001,nak=1,silence=0", rates, error)) << error;
    EXPECT_EQ(rates.corrupt, 0.01);
    EXPECT_EQ(rates.length, 0.001);
    EXPECT_EQ(rates.nak, 1.0);
    for (const char* bad : {"", "nak", "nak=", "nak=1.5", "nak=-0.1", "nak=1e-3", "nak=.5", "nak=1.", "nak=0.1,",
                            ",nak=0.1", "nak=0.1,nak=0.2", "noise=0.1", "nak=0.1 "}) {
        error.clear();
        EXPECT_FALSE(FaultPlan::parse(bad, rates, error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
}

TEST(FaultPlan, EachFaultChangesOnlyItsPart) {
    const Bytes frame{0x02, 0x00, 0x03, 0x00, 0x00, 0x00, 0x00};
    auto changed = [&](const Bytes& wire, std::size_t from, std::size_t to) {
        int n = 0;
        for (std::size_t i = 0; i < wire.size(); ++i) {
            if (wire[i] == frame[i]) continue;
            ++n;
            if (i < from || i >= to) return -1;
        }
        return n;
    };
    FaultPlan corrupt({1, 0, 0, 0}, 7), length({0, 1, 0, 0}, 7), silence({1, 1, 1, 1}, 7);
    for (int i = 0; i < 200; ++i) {
        Bytes a = frame, b = frame, c = frame;
        ASSERT_EQ(corrupt.onFrame(a), Fault::Corrupt);
        EXPECT_EQ(changed(a, 3, 7), 1); // a data or the check byte
        ASSERT_EQ(length.onFrame(b), Fault::Length);
        EXPECT_EQ(changed(b, 1, 3), 1);
        ASSERT_EQ(silence.onFrame(c), Fault::Silence);
        EXPECT_EQ(c, frame);
    }
    // Of the 510 ways to change one length byte of 00 03, lengths 1 and 2 pass the check of zero data.
    EXPECT_NEAR(length.counts().lengthExpected, 200 * 2 / 510.0, 1e-9);

    FaultPlan nak({0, 0, 1, 0}, 7);
    std::uint8_t ack = 0x06, refusal = 0x15;
    EXPECT_EQ(nak.onReply(ack), Fault::Nak);
    EXPECT_EQ(ack, 0x15);
    EXPECT_EQ(nak.onReply(refusal), Fault::None);
}

TEST(FaultPlan, RatesHoldAndASeedRepeatsItsRun) {
    FaultPlan a({0.01, 0.02, 0, 0.03}, 42), b({0.01, 0.02, 0, 0.03}, 42);
    Bytes first, second;
    for (int i = 0; i < 100000; ++i) {
        Bytes x{0x02, 0x00, 0x01, 0x41, 0x41}, y = x;
        a.onFrame(x);
        b.onFrame(y);
        first.insert(first.end(), x.begin(), x.end());
        second.insert(second.end(), y.begin(), y.end());
    }
    EXPECT_EQ(first, second);
    EXPECT_NEAR(a.counts().corrupt, 1000, 150);
    EXPECT_NEAR(a.counts().length, 2000, 200);
    EXPECT_NEAR(a.counts().silentFrames, 3000, 250);
}
