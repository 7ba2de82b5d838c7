#include "ecrlink/TcpChannel.h"
#include "support/ChannelCheck.h"
#include <arpa/inet.h>
#include <sys/socket.h>

// A socket on 127.0.0.1 at a port the system picks; with a negative `backlog` it does not listen, so refuses.
static int bindLoopback(unsigned short& port, int backlog) {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t size = sizeof address;
    ::bind(s, reinterpret_cast<sockaddr*>(&address), size);
    if (backlog >= 0) ::listen(s, backlog);
    ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &size);
    port = ntohs(address.sin_port);
    return s;
}
// Connects `channel` to `listener`: the terminal's end of the connection (it completes in the backlog).
static int accepted(TcpChannel& channel, DescriptorChannel& listener) {
    return channel.open() == CommOk ? ::accept(listener.descriptor(), nullptr, nullptr) : -1;
}

struct TcpChannelTest : testing::Test {
    void SetUp() override { ASSERT_GE(peer.descriptor(), 0); }
    unsigned short port = 0;
    DescriptorChannel listener{bindLoopback(port, 4)};
    TcpChannel channel{"127.0.0.1", port, 2000};
    DescriptorChannel peer{accepted(channel, listener)};
};

TEST_F(TcpChannelTest, CarriesBytesThenThePeersLastOnesThenNotConnectedNeverSigpipe) {
    TcpChannel watcher("127.0.0.1", port, 2000);
    DescriptorChannel(accepted(watcher, listener)).close();
    checkLink(channel, peer, {0x02, 0x00, 0x03, 0x01, 0x02, 0x04, 0x07}, watcher, [&] {
        send(peer, {0x04});
        ::shutdown(peer.descriptor(), SHUT_WR);
        EXPECT_EQ(channel.isOpened(), CommOk) << "a byte is still to be read";
        EXPECT_EQ(readThrough(channel, 1), Bytes{0x04});
    });
    // Connected afresh; the peer closes, our first write draws a reset, a later one ends in 105, not SIGPIPE.
    peer.close();
    DescriptorChannel(accepted(channel, listener)).close();
    unsigned int count = 0;
    int rc = CommOk;
    for (int i = 0; i < 5 && rc == CommOk; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(50)))
        rc = channel.write(Bytes{0x06}.data(), 1, count);
    EXPECT_EQ(rc, CommNotConnected);
}

TEST_F(TcpChannelTest, StalledWriteIsPartialAndTheRestGoesOutLater) {
    Bytes data(32u << 20), received; // far more than the loopback buffers hold
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i * 7 + i / 4096);
    unsigned int first = 0, count = 0;
    ASSERT_EQ(channel.write(data.data(), unsigned(data.size()), first), CommPartialWrite);
    std::thread reader([&] { received = readThrough(peer, data.size()); });
    EXPECT_EQ(channel.write(data.data() + first, unsigned(data.size() - first), count), CommOk);
    reader.join();
    EXPECT_EQ(first + count, data.size());
    EXPECT_TRUE(received == data) << "received " << received.size() << " of " << data.size();
}

TEST(TcpChannelConnect, FailuresHaveTheirOwnCodes) {
    unsigned short refusing = 0, full = 0;
    DescriptorChannel closed(bindLoopback(refusing, -1)), busy(bindLoopback(full, 0));
    TcpChannel first("127.0.0.1", full, 1000); // fills the queue of the listener, which then drops further requests
    ASSERT_EQ(first.open(), CommOk);
    const std::tuple<const char*, unsigned short, int> cases[] = {
        {"127.0.0.1", refusing, CommConnectFailed}, {"", refusing, CommResolveFailed}, {"127.0.0.1", full, CommConnectTimeout}};
    for (const auto& [host, port, rc] : cases) {
        SCOPED_TRACE(std::string(host) + ":" + std::to_string(port));
        TcpChannel channel(host, port, 300);
        const auto start = Clock::now();
        EXPECT_EQ(channel.open(), rc);
        EXPECT_LT(msSince(start), 3000);
        EXPECT_EQ(channel.isOpened(), CommNotConnected);
    }
}

TEST(DescriptorChannel, SocketpairEndBehavesAsALine) {
    int fds[2] = {-1, -1};
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    DescriptorChannel channel(fds[0]), peer(fds[1]), watcher(::dup(fds[0]));
    checkLink(channel, peer, {0x02, 0x00, 0x01, 0x41, 0x41}, watcher, [&] { peer.close(); });
    EXPECT_EQ(channel.open(), CommNotConnected) << "a descriptor cannot be opened again";
}
