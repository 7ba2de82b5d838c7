#include "ecrlink/ECRProto.h"
#include "support/FdChannel.h"
#include "support/LogCapture.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <poll.h>
#include <thread>
#include <tuple>
#include <unistd.h>

using testing::ElementsAre;
using namespace testing_support;

namespace {

std::vector<unsigned char> pattern(unsigned int size) {
    std::vector<unsigned char> data(size);
    for (unsigned int i = 0; i < size; ++i) data[i] = static_cast<unsigned char>(i * 31 + 5);
    return data;
}

unsigned char xorOf(const std::vector<unsigned char>& data) {
    unsigned char check = 0;
    for (unsigned char b : data) check ^= b;
    return check;
}

// A register and a terminal, each with its own protocol object, on the two
// ends of a socketpair; the terminal receives on its own thread.
struct Link {
    CECRProto ecr, terminal;
    FdChannel* ecrEnd;
    FdChannel* terminalEnd;
    unsigned char* data = nullptr;
    unsigned int length = 0;
    unsigned int recvRc = 0;
    std::thread receiver;

    Link() {
        std::tie(ecrEnd, terminalEnd) = FdChannel::socketPair();
        ecr.setCommunication(ecrEnd);
        terminal.setCommunication(terminalEnd);
    }
    ~Link() { delete[] data; }
    void receive() {
        receiver = std::thread([this] { recvRc = terminal.ecrRecv(data, length, 3); });
    }
    unsigned int send(const std::vector<unsigned char>& payload) {
        const unsigned int rc = ecr.ecrSend(payload.data(), static_cast<unsigned int>(payload.size()), xorOf(payload), 3);
        receiver.join();
        return rc;
    }
};

TEST(FramePair, FramesUpToTheLargestArriveIntact) {
    for (unsigned int size : {1u, 3u, 300u, 4096u}) {
        Link link;
        link.ecrEnd->setWriteChunk(1000);  // large frames leave in pieces (116)
        link.receive();
        const auto payload = pattern(size);
        EXPECT_EQ(link.send(payload), 0u) << size;
        EXPECT_EQ(link.recvRc, 0u) << size;
        ASSERT_EQ(link.length, size);
        ASSERT_NE(link.data, nullptr);
        EXPECT_TRUE(std::equal(payload.begin(), payload.end(), link.data)) << size;
    }
}

TEST(FramePair, OversizeFrameIsAbortedAndTheSenderAnswersTheAbort) {
    Link link;
    link.receive();
    EXPECT_EQ(link.send(pattern(5000)), 304u);
    EXPECT_EQ(link.recvRc, 309u);
    EXPECT_EQ(link.length, 5000u);
    EXPECT_EQ(link.data, nullptr);
}

TEST(FramePair, FrameCorruptedOnceIsRefusedThenAccepted) {
    LogCapture log;
    auto [ecrEnd, relayIn] = FdChannel::socketPair();
    auto [relayOut, terminalEnd] = FdChannel::socketPair();
    CECRProto ecr, terminal;
    ecr.setCommunication(ecrEnd);
    terminal.setCommunication(terminalEnd);
    const auto payload = pattern(200);
    const std::size_t checkByteAt = payload.size() + 3;
    const int inFd = relayIn->fd(), outFd = relayOut->fd();

    // Forwards both ways, flipping the check byte of the first frame only.
    std::atomic<bool> stop{false};
    std::vector<unsigned char> replies;
    std::thread relay([&] {
        std::size_t forwarded = 0;
        pollfd fds[2] = {{inFd, POLLIN, 0}, {outFd, POLLIN, 0}};
        unsigned char buffer[512];
        while (!stop && ::poll(fds, 2, 20) >= 0) {
            if (fds[0].revents & POLLIN) {
                const ssize_t n = ::read(fds[0].fd, buffer, sizeof buffer);
                for (ssize_t i = 0; i < n; ++i, ++forwarded)
                    if (forwarded == checkByteAt) buffer[i] ^= 0xFF;
                if (n > 0) {
                    EXPECT_EQ(::write(fds[1].fd, buffer, static_cast<std::size_t>(n)), n);
                }
            }
            if (fds[1].revents & POLLIN) {
                const ssize_t n = ::read(fds[1].fd, buffer, sizeof buffer);
                if (n > 0) {
                    replies.insert(replies.end(), buffer, buffer + n);
                    EXPECT_EQ(::write(fds[0].fd, buffer, static_cast<std::size_t>(n)), n);
                }
            }
        }
    });

    unsigned char* data = nullptr;
    unsigned int length = 0;
    unsigned int recvRc = 1;
    std::thread receiver([&] { recvRc = terminal.ecrRecv(data, length, 3); });
    EXPECT_EQ(ecr.ecrSend(payload.data(), 200, xorOf(payload), 3), 0u);
    receiver.join();
    stop = true;
    relay.join();
    delete relayIn;
    delete relayOut;

    EXPECT_EQ(recvRc, 0u);
    ASSERT_EQ(length, 200u);
    EXPECT_TRUE(std::equal(payload.begin(), payload.end(), data));
    delete[] data;
    EXPECT_THAT(replies, ElementsAre(CECRProto::NAK, CECRProto::ACK));
    const auto texts = log.texts();
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "NAK is received"), 1);
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "STX is received"), 2);
}

TEST(FdChannelSupport, ReadWaitsForTheTimeoutFlushDropsInputCloseEndsTheLine) {
    auto [a, b] = FdChannel::socketPair();
    unsigned char buffer[8];
    unsigned int count = 9;
    a->setReadTimeouts(0, 100);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(a->read(buffer, 8, count), 106);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(80));
    EXPECT_EQ(count, 0u);

    const unsigned char bytes[] = {1, 2, 3};
    EXPECT_EQ(b->write(bytes, 3, count), 0);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(a->flush(), 0);
    EXPECT_EQ(a->read(buffer, 8, count), 106);

    b->setWriteChunk(2);
    EXPECT_EQ(b->write(bytes, 3, count), 116);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(a->read(buffer, 8, count), 0);
    EXPECT_EQ(count, 2u);

    EXPECT_EQ(b->close(), 0);
    EXPECT_EQ(b->isOpened(), 105);
    EXPECT_EQ(a->read(buffer, 8, count), 105);
    delete a;
    delete b;
}

} // namespace
