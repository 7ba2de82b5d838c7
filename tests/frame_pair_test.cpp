#include "ecrlink/ECRProto.h"
#include "ecrlink/DescriptorChannel.h"
#include "support/LogCapture.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <sys/socket.h>
#include <thread>

using namespace testing_support;

namespace {

// The register's end of the line: it takes at most `chunk` bytes a write (116 for
// the rest, as a slow line does) and may invert the first data byte of its first
// frame, as a noisy line would.
struct RegisterEnd : Communication::DescriptorChannel {
    RegisterEnd(int fd, unsigned int chunk, bool corrupt) : DescriptorChannel(fd), chunk(chunk), corrupt(corrupt) {}
    int write(const unsigned char* data, unsigned int length, unsigned int& count) override {
        std::vector<unsigned char> copy(data, data + length);
        if (corrupt && length > 3) {
            copy[3] ^= 0xFF;
            corrupt = false;
        }
        const unsigned int n = chunk && chunk < length ? chunk : length;
        const int rc = DescriptorChannel::write(copy.data(), n, count);
        return rc == 0 && n < length ? 116 : rc;
    }
    unsigned int chunk;
    bool corrupt;
};

// The register sends with ecrSend on one end of a socketpair; the terminal receives
// with ecrRecv on the other end, on its own thread.
TEST(FramePair, FramesCrossTheLine) {
    struct Row { const char* name; unsigned int size, writeChunk; bool corrupt; unsigned int sendRc, recvRc; };
    for (const Row& r : {Row{"OneByte", 1, 0, false, 0, 0}, Row{"LargestInPieces", 4096, 1000, false, 0, 0},
                         Row{"TooBigAbortedBothWays", 4097, 0, false, 304, 309}, Row{"NakThenAck", 300, 100, true, 0, 0}}) {
        SCOPED_TRACE(r.name);
        LogCapture log;
        int fds[2] = {-1, -1};
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        auto* ecrEnd = new RegisterEnd(fds[0], r.writeChunk, r.corrupt);
        CECRProto ecr, terminal;
        ecr.setCommunication(ecrEnd);
        terminal.setCommunication(new Communication::DescriptorChannel(fds[1]));
        std::vector<unsigned char> payload(r.size);
        unsigned char check = 0, *data = nullptr;
        for (unsigned int i = 0; i < r.size; ++i) check ^= payload[i] = static_cast<unsigned char>(i * 31 + 5);
        unsigned int length = 0, recvRc = 1;
        std::thread receiver([&] { recvRc = terminal.ecrRecv(data, length, 3); });
        EXPECT_EQ(ecr.ecrSend(payload.data(), r.size, check, 3), r.sendRc);
        receiver.join();
        EXPECT_EQ(recvRc, r.recvRc);
        EXPECT_EQ(length, r.size);
        EXPECT_TRUE(r.recvRc ? !data : data && std::equal(payload.begin(), payload.end(), data)) << "data handed out";
        delete[] data;
        const auto texts = log.texts();
        EXPECT_EQ(std::count(texts.begin(), texts.end(), "NAK is received"), r.corrupt ? 1 : 0);
        EXPECT_EQ(std::count(texts.begin(), texts.end(), "STX is received"), r.corrupt ? 2 : 1);
        if (r.recvRc) continue;
        terminal.close();  // a peer that hung up is reported as gone
        EXPECT_EQ(ecrEnd->read(&check, 1, length), 105);
        EXPECT_EQ(ecr.isOpened(), 105u);
    }
}

} // namespace
