#include "ecrlink/ChannelFactory.h"
#include "ecrlink/SerialChannel.h"
#include "ecrlink/TcpChannel.h"

#include <gmock/gmock.h>

#include <iterator>
#include <memory>
#include <set>

using namespace Communication;

namespace {

struct AddressCase {
    const char* address;
    int rc;
    char kind;             // 's' serial, 't' tcp, '-' none
    const char* detail;    // serial: "baud flow"; failure: a piece of the reason
};

class CreateChannel : public testing::TestWithParam<AddressCase> {};

TEST_P(CreateChannel, BuildsTheRightChannelOrSaysWhyNot) {
    const AddressCase c = GetParam();
    int rc = -1;
    std::string error = "stale";
    std::unique_ptr<Channel> channel(createChannel(c.address, rc, error));
    EXPECT_EQ(rc, c.rc);
    if (c.kind == '-') {
        EXPECT_EQ(channel, nullptr);
        EXPECT_THAT(error, testing::HasSubstr(c.detail));
        EXPECT_EQ(error.find('\n'), std::string::npos) << "one line: " << error;
    } else if (c.kind == 't') {
        EXPECT_EQ(error, "");
        EXPECT_NE(dynamic_cast<TcpChannel*>(channel.get()), nullptr);
    } else {
        auto* serial = dynamic_cast<SerialChannel*>(channel.get());
        ASSERT_NE(serial, nullptr);
        EXPECT_EQ(std::to_string(serial->settings().baud) + (serial->settings().hardwareFlowControl ? " rtscts" : " none"),
                  c.detail);
        EXPECT_EQ(serial->isOpened(), CommNotConnected) << "created, not opened";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Addresses, CreateChannel,
    testing::Values(AddressCase{"serial:/dev/ttyUSB0?baud=115200", 0, 's', "115200 none"},
                    AddressCase{"serial:/dev/ttyS1", 0, 's', "115200 none"},
                    AddressCase{"serial:/dev/ttyS1?baud=9600&flow=rtscts", 0, 's', "9600 rtscts"},
                    AddressCase{"tcp:192.168.1.20:5000", 0, 't', ""},
                    AddressCase{"tcp:[::1]:65535", 0, 't', ""},
                    AddressCase{"/dev/ttyUSB0", CommBadAddress, '-', "no scheme"},
                    AddressCase{"usb:/dev/ttyUSB0", CommBadAddress, '-', "unknown scheme \"usb\""},
                    AddressCase{"serial:?baud=9600", CommBadAddress, '-', "no device"},
                    AddressCase{"serial:/dev/ttyS1?baud=abc", CommBadAddress, '-', "baud \"abc\""},
                    AddressCase{"serial:/dev/ttyS1?baud=0", CommBadSpeed, '-', "not supported"},
                    AddressCase{"serial:/dev/ttyS1?baud=123", CommBadSpeed, '-', "not supported"},
                    AddressCase{"serial:/dev/ttyS1?parity=even", CommBadAddress, '-', "unknown option \"parity\""},
                    AddressCase{"tcp:10.0.0.1", CommBadAddress, '-', "no port"},
                    AddressCase{"tcp:host:0", CommBadAddress, '-', "port \"0\""},
                    AddressCase{"tcp:host:70000", CommBadAddress, '-', "port \"70000\""},
                    AddressCase{"tcp:host:x?timeout=250", CommBadAddress, '-', "port \"x\""},
                    AddressCase{"tcp:::1:5000", CommBadAddress, '-', "brackets"},
                    AddressCase{"tcp:host:5000?timeout=0", CommBadAddress, '-', "timeout \"0\""},
                    AddressCase{"tcp:host:5000?retries=3", CommBadAddress, '-', "unknown option \"retries\""},
                    AddressCase{"tcp:host:5000?timeout=1\n", CommBadAddress, '-', "\\x0a"}));

TEST(CreateChannel, EveryResultCodeHasItsOwnText) {
    const int codes[] = {CommOk, CommBadAddress, CommOpenFailed, CommConfigFailed, CommNotConnected,
                         CommTimeout, CommIoError, CommBadSpeed, CommConnectFailed, CommConnectTimeout,
                         CommResolveFailed, CommBadArgument, CommWriteTimeout, CommPartialWrite};
    std::set<std::string> texts;
    for (int code : codes) texts.insert(commErrorText(code));
    EXPECT_EQ(texts.size(), std::size(codes));
    EXPECT_EQ(texts.count(commErrorText(-1)), 0u);
}

} // namespace
