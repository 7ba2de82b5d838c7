#include "ecrlink/TcpChannel.h"

#include <gmock/gmock.h>

#include <chrono>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace Communication;
using Bytes = std::vector<unsigned char>;
using Clock = std::chrono::steady_clock;

namespace {

long msSince(Clock::time_point start) {
    return long(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// A socket on 127.0.0.1 with a port the system picks; a negative `backlog`
// binds without listening, so that connecting to it is refused.
int bindLoopback(unsigned short& port, int backlog) {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ::bind(s, reinterpret_cast<sockaddr*>(&address), size);
    if (backlog >= 0) ::listen(s, backlog);
    ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &size);
    port = ntohs(address.sin_port);
    return s;
}

// The terminal's end: a listener, and the connection the channel made to it.
class TcpChannelTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(channel.open(), CommOk); // completes in the backlog, before accept
        peer = ::accept(listener, nullptr, nullptr);
        ASSERT_GE(peer, 0);
    }
    void TearDown() override {
        ::close(peer);
        ::close(listener);
    }
    void send(const Bytes& bytes) { ASSERT_EQ(::write(peer, bytes.data(), bytes.size()), ssize_t(bytes.size())); }
    // What the channel sent, up to `size` bytes or until 2 s of silence.
    Bytes receive(std::size_t size) {
        Bytes out(size);
        std::size_t got = 0;
        for (pollfd p{peer, POLLIN, 0}; got < size && ::poll(&p, 1, 2000) == 1;) {
            const ssize_t n = ::read(peer, out.data() + got, size - got);
            if (n <= 0) break;
            got += std::size_t(n);
        }
        out.resize(got);
        return out;
    }

    unsigned short port = 0;
    int listener = bindLoopback(port, 4), peer = -1;
    TcpChannel channel{"127.0.0.1", port, 2000};
};

TEST_F(TcpChannelTest, CarriesBytesReturnsEarlyTimesOutAndFlushes) {
    EXPECT_EQ(channel.open(), CommOk) << "already open";
    const Bytes frame = {0x02, 0x00, 0x03, 0x01, 0x02, 0x04, 0x07};
    unsigned int count = 0;
    EXPECT_EQ(channel.write(frame.data(), unsigned(frame.size()), count), CommOk);
    EXPECT_EQ(count, frame.size());
    EXPECT_EQ(receive(frame.size()), frame);

    ASSERT_EQ(channel.setReadTimeouts(0, 6000), CommOk);
    send({0x06, 0x15});
    unsigned char buffer[64];
    auto start = Clock::now();
    EXPECT_EQ(channel.read(buffer, sizeof buffer, count), CommOk);
    EXPECT_LT(msSince(start), 3000) << "must not wait for all 64 bytes";
    EXPECT_EQ(count, 2u);

    ASSERT_EQ(channel.setReadTimeouts(0, 200), CommOk);
    start = Clock::now();
    EXPECT_EQ(channel.read(buffer, 1, count), CommTimeout);
    EXPECT_EQ(count, 0u);
    EXPECT_GE(msSince(start), 150);
    EXPECT_LE(msSince(start), 1500);

    send({0x15, 0x15});
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(channel.flush(), CommOk);
    send({0x06});
    EXPECT_EQ(channel.read(buffer, sizeof buffer, count), CommOk);
    EXPECT_EQ(Bytes(buffer, buffer + count), Bytes{0x06});
}

TEST_F(TcpChannelTest, PeerThatClosesLeavesItsLastBytesThenNotConnected) {
    ASSERT_EQ(channel.setReadTimeouts(0, 6000), CommOk);
    send({0x04});
    ::shutdown(peer, SHUT_WR);
    unsigned char buffer[8];
    unsigned int count = 0;
    EXPECT_EQ(channel.isOpened(), CommOk) << "a byte is still to be read";
    EXPECT_EQ(channel.read(buffer, sizeof buffer, count), CommOk);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(channel.isOpened(), CommNotConnected);
    const auto start = Clock::now();
    EXPECT_EQ(channel.read(buffer, sizeof buffer, count), CommNotConnected);
    EXPECT_LT(msSince(start), 3000);
    EXPECT_EQ(channel.flush(), CommNotConnected);

    // Reconnect; the peer closes and we write: the first write draws a reset,
    // a later one must end in 105, not in SIGPIPE.
    ASSERT_EQ(channel.open(), CommOk);
    ::close(peer);
    ::close(::accept(listener, nullptr, nullptr));
    int rc = CommOk;
    for (int i = 0; i < 5 && rc == CommOk; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        rc = channel.write(buffer, 1, count);
    }
    EXPECT_EQ(rc, CommNotConnected);
    EXPECT_EQ(channel.isOpened(), CommNotConnected);
    peer = -1;
}

TEST_F(TcpChannelTest, StalledWriteIsPartialAndTheRestGoesOutLater) {
    Bytes data(32u << 20); // far more than the loopback buffers hold
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i * 7 + i / 4096);
    unsigned int count = 0;
    ASSERT_EQ(channel.write(data.data(), unsigned(data.size()), count), CommPartialWrite);
    ASSERT_GT(count, 0u);
    const unsigned int first = count;
    Bytes received;
    std::thread reader([&] { received = receive(data.size()); });
    EXPECT_EQ(channel.write(data.data() + first, unsigned(data.size() - first), count), CommOk);
    reader.join();
    EXPECT_EQ(first + count, data.size());
    EXPECT_TRUE(received == data) << "received " << received.size() << " of " << data.size();
}

TEST(TcpChannelConnect, FailuresHaveTheirOwnCodes) {
    unsigned short refusing = 0, full = 0;
    const int closed = bindLoopback(refusing, -1), busy = bindLoopback(full, 0);
    TcpChannel first("127.0.0.1", full, 1000); // fills the queue of the listener,
    ASSERT_EQ(first.open(), CommOk);            // which then drops further requests
    const struct {
        const char* host;
        unsigned short port;
        int rc;
    } cases[] = {{"127.0.0.1", refusing, CommConnectFailed},
                 {"", refusing, CommResolveFailed},
                 {"127.0.0.1", full, CommConnectTimeout}};
    for (const auto& c : cases) {
        TcpChannel channel(c.host, c.port, 300);
        const auto start = Clock::now();
        EXPECT_EQ(channel.open(), c.rc) << c.host << ":" << c.port;
        EXPECT_LT(msSince(start), 3000);
        EXPECT_EQ(channel.isOpened(), CommNotConnected);
    }
    ::close(closed);
    ::close(busy);
}

} // namespace
