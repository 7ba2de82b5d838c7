// SPDX-License-Identifier: MIT
// Checks shared by the serial and TCP channel tests; the terminal's end is a DescriptorChannel.
#pragma once
#include "ecrlink/ChannelFactory.h"
#include "ecrlink/DescriptorChannel.h"
#include <gmock/gmock.h>
#include <functional>
#include <memory>
#include <thread>

using namespace Communication;
using Bytes = std::vector<unsigned char>;
using Clock = std::chrono::steady_clock;

inline long msSince(Clock::time_point start) { return long((Clock::now() - start) / std::chrono::milliseconds(1)); }
inline void send(Channel& peer, Bytes bytes) { unsigned int n; ASSERT_EQ(peer.write(bytes.data(), unsigned(bytes.size()), n), CommOk); }
// Up to `size` bytes read through `channel`, stopping at the first failure or time-out.
inline Bytes readThrough(Channel& channel, std::size_t size) {
    Bytes out(size);
    unsigned int got = 0, n = 0;
    while (got < size && channel.read(out.data() + got, unsigned(size) - got, n) == CommOk && n > 0) got += n;
    out.resize(got);
    return out;
}

// Bytes both ways, the read time-out, a read that returns what has arrived, flush dropping stale bytes; then,
// once `hangUp` made the peer go away, `channel` notices on reading and `watcher` unasked, neither waiting long.
inline void checkLink(Channel& channel, Channel& peer, const Bytes& frame, Channel& watcher, std::function<void()> hangUp) {
    unsigned char buffer[100];
    unsigned int count = 0;
    EXPECT_EQ(channel.open(), CommOk) << "already open";
    EXPECT_EQ(channel.write(frame.data(), unsigned(frame.size()), count), CommOk);
    EXPECT_EQ(count, frame.size());
    EXPECT_EQ(readThrough(peer, frame.size()), frame);
    send(peer, frame);
    EXPECT_EQ(readThrough(channel, frame.size()), frame);
    ASSERT_EQ(channel.setReadTimeouts(0, 200), CommOk);
    auto start = Clock::now();
    EXPECT_EQ(channel.read(buffer, 1, count), CommTimeout);
    EXPECT_THAT(msSince(start), testing::AllOf(testing::Ge(150), testing::Le(1500)));
    ASSERT_EQ(channel.setReadTimeouts(0, 6000), CommOk);
    EXPECT_EQ(channel.read(buffer, 0, count), CommOk) << "nothing wanted, nothing awaited";
    send(peer, {0x02, 0x00, 0x03});
    start = Clock::now();
    EXPECT_EQ(channel.read(buffer, sizeof buffer, count), CommOk);
    EXPECT_LT(msSince(start), 3000) << "must not wait for a full buffer";
    EXPECT_EQ(count, 3u);
    send(peer, {0x15, 0x15, 0x15});
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(channel.flush(), CommOk);
    send(peer, {0x06});
    EXPECT_EQ(readThrough(channel, 1), Bytes{0x06});
    hangUp();
    start = Clock::now();
    EXPECT_EQ(channel.read(buffer, 1, count), CommNotConnected);
    EXPECT_LT(msSince(start), 3000);
    EXPECT_EQ(watcher.isOpened() + channel.isOpened() + channel.flush(), 3 * CommNotConnected);
}

// A channel made from an address through the factory; the test fails at once on a malformed one.
inline std::unique_ptr<Channel> channelAt(const std::string& address) {
    int rc = 0;
    std::string error;
    std::unique_ptr<Channel> channel(createChannel(address, rc, error));
    EXPECT_EQ(rc, CommOk) << address << ": " << error;
    return channel;
}
