// SPDX-License-Identifier: MIT
#include "support/ChannelCheck.h"
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <termios.h>
#include <unistd.h>

static int openMaster(std::string& slave) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0) slave = ::ptsname(master);
    return master;
}
static termios settingsOf(const DescriptorChannel& line) { termios t{}; ::tcgetattr(line.descriptor(), &t); return t; }
// True while some descriptor of this process still holds `device`.
static bool held(const std::string& device) {
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        if (std::filesystem::read_symlink(entry.path(), ec) == device) return true;
    }
    return false;
}

// The terminal holds the master of a pseudo-terminal; the channel opens the slave, `watcher` looks at its settings.
struct SerialChannelTest : testing::Test {
    void SetUp() override { ASSERT_GE(watcher.descriptor(), 0); ASSERT_EQ(channel->open(), CommOk); }
    std::string slave;
    DescriptorChannel master{openMaster(slave)}, watcher{::open(slave.c_str(), O_RDWR | O_NOCTTY)};
    const termios before = settingsOf(watcher);
    std::unique_ptr<Channel> channel = channelAt("serial:" + slave + "?baud=19200&flow=rtscts");
};

TEST_F(SerialChannelTest, CarriesEveryByteValueAndNoticesTheDeviceVanish) {
    Bytes all(256); // CR, LF, XON, ^C … pass raw
    for (int i = 0; i < 256; ++i) all[i] = static_cast<unsigned char>(i);
    DescriptorChannel other(::open(slave.c_str(), O_RDWR | O_NOCTTY));
    checkLink(*channel, master, all, other, [&] { master.close(); });
    EXPECT_THAT(channel->lastError(), testing::StartsWith("read: "));
}

// Raw and exclusive while open; a second opener gets in, and the previous settings are back, once it is closed.
TEST_F(SerialChannelTest, LineIsRawAndExclusiveWhileOpen) {
    const termios during = settingsOf(watcher);
    EXPECT_EQ(::cfgetospeed(&during), speed_t(B19200));
    EXPECT_EQ(during.c_cflag & (CSIZE | PARENB | CSTOPB | CLOCAL | CREAD | CRTSCTS), tcflag_t(CS8 | CLOCAL | CREAD | CRTSCTS));
    EXPECT_EQ((during.c_lflag & (ICANON | ECHO | ISIG)) | (during.c_iflag & (ICRNL | IXON)) | (during.c_oflag & OPOST), 0u);
    std::unique_ptr<Channel> second = channelAt("serial:" + slave);
    EXPECT_EQ(second->open(), CommInUse);
    EXPECT_THAT(second->lastError(), testing::AnyOf("locked by another program", testing::HasSubstr("held exclusively")));
    EXPECT_EQ(second->isOpened(), CommNotConnected);
    EXPECT_EQ(channel->close(), CommOk);
    const termios after = settingsOf(watcher);
    EXPECT_EQ(std::memcmp(&after, &before, sizeof before), 0) << "previous settings restored";
    EXPECT_EQ(second->open(), CommOk);
    EXPECT_EQ(second->lastError(), "");
}

// A USB adapter pulled and plugged back: the device node behind a stable name goes away and comes back.
TEST(SerialChannel, HangUpGivesNotConnectedAtOnceAndTheSameAddressOpensAgain) {
    const std::string link = testing::TempDir() + "ecrlink-tty-" + std::to_string(::getpid());
    std::string first, second;
    DescriptorChannel master(openMaster(first));
    ASSERT_EQ(::symlink(first.c_str(), link.c_str()), 0);
    std::unique_ptr<Channel> channel = channelAt("serial:" + link);
    ASSERT_EQ(channel->open(), CommOk);
    channel->setReadTimeouts(0, 6000);
    std::thread unplug([&] { std::this_thread::sleep_for(std::chrono::milliseconds(200)); master.close(); });
    unsigned char byte = 0;
    unsigned int count = 0;
    const auto start = Clock::now();
    EXPECT_EQ(channel->read(&byte, 1, count), CommNotConnected);
    EXPECT_LT(msSince(start), 1200);
    unplug.join();
    EXPECT_FALSE(held(first)) << "a hung-up line gives its descriptor back at once";
    DescriptorChannel replugged(openMaster(second));
    ::unlink(link.c_str());
    ASSERT_EQ(::symlink(second.c_str(), link.c_str()), 0);
    EXPECT_EQ(channel->open(), CommOk);
    send(replugged, {0x06});
    EXPECT_EQ(readThrough(*channel, 1), Bytes{0x06});
    ::unlink(link.c_str());
}

TEST(SerialChannel, FailedOpenKeepsTheSystemsReason) {
    const std::tuple<const char*, int, const char*> cases[] = {
        {"serial:/nonexistent/tty", CommOpenFailed, "No such file or directory"},
        {"serial:/dev/null", CommConfigFailed, "not a serial line: Inappropriate ioctl for device"}};
    for (const auto& [address, rc, reason] : cases) {
        std::unique_ptr<Channel> channel = channelAt(address);
        EXPECT_EQ(channel->open(), rc) << address;
        EXPECT_EQ(channel->lastError(), reason);
        EXPECT_EQ(channel->isOpened(), CommNotConnected);
    }
}
