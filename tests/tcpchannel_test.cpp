// SPDX-License-Identifier: MIT
#include "support/ChannelCheck.h"
#include <arpa/inet.h>
#include <netdb.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/wait.h>

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
static int accepted(Channel& channel, DescriptorChannel& listener) {
    return channel.open() == CommOk ? ::accept(listener.descriptor(), nullptr, nullptr) : -1;
}
static std::string at(unsigned short port, const std::string& options = "?timeout=2000") {
    return "tcp:127.0.0.1:" + std::to_string(port) + options;
}

struct TcpChannelTest : testing::Test {
    void SetUp() override { ASSERT_GE(peer.descriptor(), 0); }
    unsigned short port = 0;
    DescriptorChannel listener{bindLoopback(port, 4)};
    std::unique_ptr<Channel> line = channelAt(at(port));
    Channel& channel = *line;
    DescriptorChannel peer{accepted(channel, listener)};
};

TEST_F(TcpChannelTest, CarriesBytesThenThePeersLastOnesThenNotConnectedNeverSigpipe) {
    std::unique_ptr<Channel> watcher = channelAt(at(port));
    DescriptorChannel(accepted(*watcher, listener)).close();
    checkLink(channel, peer, {0x02, 0x00, 0x03, 0x01, 0x02, 0x04, 0x07}, *watcher, [&] {
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

// "localhost" is looked up (in /etc/hosts, on this machine); when it also names ::1, where nobody listens, the
// refusal there must not stop the connection to 127.0.0.1. A system that does not know the name (a bare
// debootstrap root has no /etc/hosts) gets the lookup's own code. A refusal and a full backlog have theirs too.
TEST(TcpChannelConnect, EveryAddressTriedAndFailuresHaveTheirOwnCodesAndReasons) {
    unsigned short port = 0, refusing = 0, full = 0;
    DescriptorChannel listener(bindLoopback(port, 4)), closed(bindLoopback(refusing, -1)), busy(bindLoopback(full, 0));
    addrinfo* localhost = nullptr;
    const bool known = ::getaddrinfo("localhost", nullptr, nullptr, &localhost) == 0;
    if (known) ::freeaddrinfo(localhost);
    EXPECT_EQ(channelAt("tcp:localhost:" + std::to_string(port) + "?timeout=2000")->open(), known ? CommOk : CommResolveFailed);
    std::unique_ptr<Channel> first = channelAt(at(full)); // fills the listener's queue, which then drops requests
    ASSERT_EQ(first->open(), CommOk);
    const std::tuple<unsigned short, int, std::string> cases[] = {
        {refusing, CommConnectFailed, "127.0.0.1 port " + std::to_string(refusing) + ": Connection refused"},
        {full, CommConnectTimeout, "127.0.0.1 port " + std::to_string(full) + ": no answer in time"}};
    for (const auto& [port, rc, reason] : cases) {
        std::unique_ptr<Channel> channel = channelAt(at(port, "?timeout=300"));
        const auto start = Clock::now();
        EXPECT_EQ(channel->open(), rc) << port;
        EXPECT_LT(msSince(start), 3000);
        EXPECT_EQ(channel->lastError(), reason);
        EXPECT_EQ(channel->isOpened(), CommNotConnected);
    }
}

// A terminal that vanishes without a word: in a network namespace of the test's own, every packet is dropped once
// the connection stands; keepalive must report the loss within its bound instead of a quarter of an hour of 302.
TEST(TcpChannelConnect, VanishedPeerIsNoticedWithinTheKeepaliveBound) {
    const pid_t child = ::fork();
    if (child == 0) {
        if (::unshare(CLONE_NEWNET) != 0 || std::system("ip link set lo up 2>/dev/null") != 0) ::_exit(77);
        unsigned short port = 0;
        DescriptorChannel listener(bindLoopback(port, 4));
        std::unique_ptr<Channel> channel = channelAt(at(port, "?keepalive=3"));
        DescriptorChannel peer(accepted(*channel, listener));
        if (std::system("nft add table inet vanish && nft add chain inet vanish in "
                        "'{ type filter hook input priority 0; policy drop; }' 2>/dev/null") != 0)
            ::_exit(77);
        channel->setReadTimeouts(0, 60000);
        unsigned char byte = 0;
        unsigned int count = 0;
        const auto start = Clock::now();
        ::_exit(channel->read(&byte, 1, count) == CommNotConnected && msSince(start) < 10000 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77) GTEST_SKIP() << "no network namespace or nft here";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(DescriptorChannel, SocketpairAndPipeEndsBehaveAsALine) {
    int fds[2] = {-1, -1}, pipe[2] = {-1, -1};
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) + ::pipe(pipe), 0);
    DescriptorChannel channel(fds[0]), peer(fds[1]), watcher(::dup(fds[0])), toPipe(pipe[1]);
    checkLink(channel, peer, {0x02, 0x00, 0x01, 0x41, 0x41}, watcher, [&] { peer.close(); });
    EXPECT_EQ(channel.open(), CommNotConnected) << "a descriptor cannot be opened again";
    EXPECT_EQ(channel.descriptor(), -1) << "given back once the other end went";
    ::close(pipe[0]);
    unsigned int count = 0;
    EXPECT_EQ(toPipe.write(Bytes{0x06}.data(), 1, count), CommNotConnected) << "not SIGPIPE";
    EXPECT_EQ(toPipe.lastError(), "write: Broken pipe");
}

// A write that failed on a line that is still there is what isOpened() reports, until open() or a write that goes
// out whole: the dialogue asks isOpened() to learn whether the ACK of an answer went out.
TEST(DescriptorChannel, FailedWriteIsReportedUntilOpenOrAWholeWrite) {
    int fds[2] = {-1, -1};
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    DescriptorChannel channel(fds[0]), peer(fds[1]);
    const Bytes lot(1u << 20);
    unsigned int count = 0;
    peer.setReadTimeouts(0, 50);
    for (int round = 0; round < 2; ++round) {
        readThrough(peer, 4u << 20);
        channel.interrupt(); // the peer reads nothing: the first write stops once the line is full, the next takes nothing
        EXPECT_EQ(channel.write(lot.data(), unsigned(lot.size()), count), CommPartialWrite);
        EXPECT_EQ(channel.isOpened(), CommOk) << "part went out; the rest is the caller's";
        EXPECT_EQ(channel.write(lot.data(), unsigned(lot.size()), count), CommInterrupted);
        channel.resume();
        EXPECT_EQ(channel.isOpened(), CommInterrupted);
        if (round == 0) {
            EXPECT_EQ(channel.open(), CommOk);
        } else {
            readThrough(peer, 4u << 20);
            EXPECT_EQ(channel.write(lot.data(), 1, count), CommOk);
        }
        EXPECT_EQ(channel.isOpened(), CommOk);
    }
}
