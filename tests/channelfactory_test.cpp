#include "ecrlink/ChannelFactory.h"
#include "ecrlink/SerialChannel.h"
#include "ecrlink/TcpChannel.h"
#include <gmock/gmock.h>
#include <memory>
#include <set>

using namespace Communication;

// Serial rows give "baud flow" in `detail`, failing rows a piece of the one-line reason.
struct AddressCase { const char *address; int rc; const char* detail; };
const AddressCase addressCases[] = {
    {"serial:/dev/ttyS1", CommOk, "115200 none"},
    {"serial:/dev/ttyS1?baud=9600&flow=rtscts", CommOk, "9600 rtscts"},
    {"tcp:192.168.1.20:5000", CommOk, ""},
    {"tcp:[::1]:65535?timeout=250", CommOk, ""},
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
        const auto* serial = dynamic_cast<SerialChannel*>(channel.get());
        const bool isSerial = std::string(c.address).rfind("serial:", 0) == 0;
        EXPECT_EQ(rc, c.rc);
        EXPECT_EQ(error.empty(), rc == CommOk);
        EXPECT_THAT(error, testing::AllOf(testing::HasSubstr(rc ? c.detail : ""), testing::Not(testing::HasSubstr("\n"))));
        EXPECT_EQ(serial != nullptr, rc == CommOk && isSerial);
        EXPECT_EQ(dynamic_cast<TcpChannel*>(channel.get()) != nullptr, rc == CommOk && !isSerial);
        if (serial) {
            EXPECT_EQ(std::to_string(serial->settings().baud) + (serial->settings().hardwareFlowControl ? " rtscts" : " none"), c.detail);
        }
    }
}

TEST(CreateChannel, EveryResultCodeHasItsOwnText) {
    std::set<std::string> texts{commErrorText(-1)};
    for (int code : {CommOk, CommBadAddress, CommOpenFailed, CommConfigFailed, CommNotConnected, CommTimeout, CommIoError,
                     CommBadSpeed, CommConnectFailed, CommConnectTimeout, CommResolveFailed, CommBadArgument,
                     CommWriteTimeout, CommPartialWrite})
        texts.insert(commErrorText(code));
    EXPECT_EQ(texts.size(), 15u) << "14 codes and the unknown one, each its own text";
}
