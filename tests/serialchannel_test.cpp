#include "ecrlink/SerialChannel.h"

#include <gmock/gmock.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

using namespace Communication;
using Bytes = std::vector<unsigned char>;
using Clock = std::chrono::steady_clock;

namespace {

long msSince(Clock::time_point start) {
    return long(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

int openMaster(std::string& slave) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0) slave = ::ptsname(master);
    return master;
}

// The terminal holds the master of a pseudo-terminal; the channel opens the slave.
class SerialChannelTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_GE(master, 0);
        ASSERT_EQ(channel.open(), CommOk);
    }
    void TearDown() override {
        if (master >= 0) ::close(master);
    }
    void send(const Bytes& bytes) { ASSERT_EQ(::write(master, bytes.data(), bytes.size()), ssize_t(bytes.size())); }
    // Reads through the channel until `size` bytes or a failure.
    Bytes readThrough(std::size_t size) {
        Bytes out(size);
        unsigned int got = 0, n = 0;
        while (got < size && channel.read(out.data() + got, unsigned(size) - got, n) == CommOk) got += n;
        out.resize(got);
        return out;
    }

    std::string slave;
    int master = openMaster(slave);
    SerialChannel channel{{slave, 19200, true}};
};

TEST_F(SerialChannelTest, CarriesEveryByteValueBothWaysUnchanged) {
    Bytes all(256), seen(256);
    for (int i = 0; i < 256; ++i) all[i] = static_cast<unsigned char>(i); // CR, LF, XON, ^C … pass raw
    unsigned int count = 0;
    EXPECT_EQ(channel.open(), CommOk) << "already open";
    EXPECT_EQ(channel.write(all.data(), 256, count), CommOk);
    EXPECT_EQ(count, 256u);
    ssize_t got = 0, n = 0;
    for (pollfd p{master, POLLIN, 0}; got < 256 && ::poll(&p, 1, 2000) == 1 && n >= 0; got += n)
        n = ::read(master, seen.data() + got, 256 - size_t(got));
    EXPECT_EQ(seen, all);
    send(all);
    EXPECT_EQ(readThrough(256), all);
}

TEST_F(SerialChannelTest, ReadReturnsEarlyOrTimesOutAndFlushDropsStaleBytes) {
    unsigned char buffer[100];
    unsigned int count = 99;
    EXPECT_EQ(channel.read(buffer, 0, count), CommOk);
    EXPECT_EQ(count, 0u);

    ASSERT_EQ(channel.setReadTimeouts(0, 6000), CommOk);
    send({0x02, 0x00, 0x03});
    auto start = Clock::now();
    EXPECT_EQ(channel.read(buffer, sizeof buffer, count), CommOk);
    EXPECT_LT(msSince(start), 3000) << "must not wait for all 100 bytes";
    EXPECT_EQ(count, 3u);

    ASSERT_EQ(channel.setReadTimeouts(0, 200), CommOk);
    start = Clock::now();
    EXPECT_EQ(channel.read(buffer, 1, count), CommTimeout);
    EXPECT_EQ(count, 0u);
    EXPECT_GE(msSince(start), 150);
    EXPECT_LE(msSince(start), 1500);

    send({0x15, 0x15, 0x15}); // stale: flush drops it, not what comes after
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(channel.flush(), CommOk);
    send({0x06});
    EXPECT_EQ(readThrough(1), Bytes{0x06});
}

TEST_F(SerialChannelTest, VanishedDeviceIsNotConnectedAndNeverHangs) {
    ASSERT_EQ(channel.setReadTimeouts(0, 6000), CommOk);
    EXPECT_EQ(channel.isOpened(), CommOk);
    ::close(master);
    master = -1;
    unsigned char byte = 0x06;
    unsigned int count = 0;
    const auto start = Clock::now();
    EXPECT_EQ(channel.read(&byte, 1, count), CommNotConnected);
    EXPECT_EQ(channel.write(&byte, 1, count), CommNotConnected);
    EXPECT_EQ(channel.flush(), CommNotConnected);
    EXPECT_EQ(channel.isOpened(), CommNotConnected);
    EXPECT_LT(msSince(start), 3000);
    EXPECT_EQ(channel.close(), CommOk);

    // isOpened notices on its own, before any read.
    std::string otherSlave;
    const int otherMaster = openMaster(otherSlave);
    SerialChannel other({otherSlave, 9600, false});
    ASSERT_EQ(other.open(), CommOk);
    ::close(otherMaster);
    EXPECT_EQ(other.isOpened(), CommNotConnected);
}

TEST(SerialChannel, LineIsRawWhileOpenAndRestoredOnClose) {
    std::string slave;
    const int master = openMaster(slave);
    const int watcher = ::open(slave.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(watcher, 0);
    termios before{}, during{}, after{};
    ::tcgetattr(watcher, &before);
    {
        SerialChannel channel({slave, 19200, true});
        ASSERT_EQ(channel.open(), CommOk);
        ::tcgetattr(watcher, &during);
    } // the destructor closes
    ::tcgetattr(watcher, &after);
    ::close(watcher);
    ::close(master);

    EXPECT_EQ(::cfgetospeed(&during), speed_t(B19200));
    EXPECT_EQ(during.c_cflag & (CSIZE | PARENB | CSTOPB | CLOCAL | CREAD | CRTSCTS), tcflag_t(CS8 | CLOCAL | CREAD | CRTSCTS));
    EXPECT_EQ(during.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ((during.c_iflag & (ICRNL | IXON)) | (during.c_oflag & OPOST), 0u);
    EXPECT_EQ(std::memcmp(&after, &before, sizeof before), 0) << "previous settings restored";
}

TEST(SerialChannel, FailedOpenLeavesAClosedChannel) {
    const std::pair<SerialChannel::Settings, int> cases[] = {{{"/nonexistent/tty", 9600, false}, CommOpenFailed},
                                                             {{"/dev/null", 9600, false}, CommConfigFailed},
                                                             {{"/dev/null", 123, false}, CommBadSpeed}};
    for (const auto& [settings, rc] : cases) {
        SerialChannel channel(settings);
        EXPECT_EQ(channel.open(), rc) << settings.device << " " << settings.baud;
        unsigned char byte = 0;
        unsigned int count = 5;
        EXPECT_EQ(channel.read(&byte, 1, count), CommNotConnected);
        EXPECT_EQ(count, 0u);
        EXPECT_EQ(channel.isOpened(), CommNotConnected);
    }
}

} // namespace
