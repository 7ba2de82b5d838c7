// SPDX-License-Identifier: MIT
#include "ecrlink/ChannelFactory.h"
#include <gmock/gmock.h>
#include <memory>

using namespace Communication;

// Failing rows give a piece of the one-line reason; the settings of good ones are checked on a line.
struct AddressCase { const char *address; int rc; const char* detail; };
const AddressCase addressCases[] = {
    {"serial:/dev/ttyS1", CommOk, ""}, {"serial:/dev/ttyS1?baud=9600&flow=rtscts", CommOk, ""},
    {"tcp:host:5000?keepalive=0&timeout=9", CommOk, ""}, {"tcp:host:5000?keepalive=1", CommBadAddress, "keepalive \"1\""},
    {"tcp:192.168.1.20:5000", CommOk, ""}, {"tcp:[::1]:65535?timeout=250", CommOk, ""},
    {"/dev/ttyUSB0", CommBadAddress, "no scheme"}, {"usb:/dev/ttyUSB0", CommBadAddress, "unknown scheme \"usb\""},
    {"serial:?baud=9600", CommBadAddress, "no device"}, {"serial:/dev/ttyS1?baud=abc", CommBadAddress, "baud \"abc\""},
    {"serial:/dev/ttyS1?baud=123", CommBadSpeed, "line speed \"123\" is not supported"},
    {"serial:/dev/ttyS1?parity=even", CommBadAddress, "unknown option \"parity\""},
    {"tcp:10.0.0.1", CommBadAddress, "no port"}, {"tcp:::1:5000", CommBadAddress, "brackets"},
    {"tcp:host:0", CommBadAddress, "port \"0\""}, {"tcp:host:70000", CommBadAddress, "port \"70000\""},
    {"tcp:host:5000?timeout=0", CommBadAddress, "timeout \"0\""},
    {"tcp:host:5000?retries=3", CommBadAddress, "unknown option \"retries\""},
    {"tcp:host:5000?timeout=1\n", CommBadAddress, "\"1\\x0a\""},
};

TEST(CreateChannel, BuildsTheRightChannelOrSaysWhyNot) {
    for (const AddressCase& c : addressCases) {
        SCOPED_TRACE(c.address);
        int rc = -1;
        std::string error = "stale";
        std::unique_ptr<Channel> channel(createChannel(c.address, rc, error));
        EXPECT_EQ(rc, c.rc);
        EXPECT_EQ(error.empty(), rc == CommOk);
        EXPECT_THAT(error, testing::AllOf(testing::HasSubstr(rc ? c.detail : ""), testing::Not(testing::HasSubstr("\n"))));
        EXPECT_EQ(channel != nullptr, rc == CommOk);
    }
}
