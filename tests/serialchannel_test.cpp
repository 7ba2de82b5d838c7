#include "ecrlink/SerialChannel.h"
#include "support/ChannelCheck.h"
#include <cstring>
#include <fcntl.h>
#include <termios.h>

static int openMaster(std::string& slave) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0) slave = ::ptsname(master);
    return master;
}
static termios settingsOf(const DescriptorChannel& line) { termios t{}; ::tcgetattr(line.descriptor(), &t); return t; }

// The terminal holds the master of a pseudo-terminal; the channel opens the slave, `watcher` looks at its settings.
struct SerialChannelTest : testing::Test {
    void SetUp() override { ASSERT_GE(watcher.descriptor(), 0); ASSERT_EQ(channel.open(), CommOk); }
    std::string slave;
    DescriptorChannel master{openMaster(slave)}, watcher{::open(slave.c_str(), O_RDWR | O_NOCTTY)};
    const termios before = settingsOf(watcher);
    SerialChannel channel{{slave, 19200, true}};
};

TEST_F(SerialChannelTest, CarriesEveryByteValueAndNoticesTheDeviceVanish) {
    Bytes all(256); // CR, LF, XON, ^C … pass raw
    for (int i = 0; i < 256; ++i) all[i] = static_cast<unsigned char>(i);
    SerialChannel other({slave, 9600, false});
    ASSERT_EQ(other.open(), CommOk);
    checkLink(channel, master, all, other, [&] { master.close(); });
}

TEST_F(SerialChannelTest, LineIsRawWhileOpenAndRestoredOnClose) {
    const termios during = settingsOf(watcher);
    EXPECT_EQ(channel.close(), CommOk);
    const termios after = settingsOf(watcher);
    EXPECT_EQ(::cfgetospeed(&during), speed_t(B19200));
    EXPECT_EQ(during.c_cflag & (CSIZE | PARENB | CSTOPB | CLOCAL | CREAD | CRTSCTS), tcflag_t(CS8 | CLOCAL | CREAD | CRTSCTS));
    EXPECT_EQ((during.c_lflag & (ICANON | ECHO | ISIG)) | (during.c_iflag & (ICRNL | IXON)) | (during.c_oflag & OPOST), 0u);
    EXPECT_EQ(std::memcmp(&after, &before, sizeof before), 0) << "previous settings restored";
}

TEST(SerialChannel, FailedOpenLeavesAClosedChannel) {
    const std::pair<SerialChannel::Settings, int> cases[] = {
        {{"/nonexistent/tty", 9600}, CommOpenFailed}, {{"/dev/null", 9600}, CommConfigFailed}, {{"/dev/null", 123}, CommBadSpeed}};
    for (const auto& [settings, rc] : cases) {
        SCOPED_TRACE(settings.device + " " + std::to_string(settings.baud));
        SerialChannel channel(settings);
        EXPECT_EQ(channel.open(), rc);
        EXPECT_EQ(channel.isOpened(), CommNotConnected);
    }
}
