// SPDX-License-Identifier: MIT
#include "ecrlink/ChannelFactory.h"

#include "SerialChannel.h"
#include "TcpChannel.h"

#include <limits>
#include <cstdio>
#include <vector>

namespace Communication {

using ecrlink::comm::SerialChannel;
using ecrlink::comm::TcpChannel;

namespace {

// The text in double quotes, with anything unprintable escaped so that the
// reason stays on one line.
std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c >= 0x20 && c < 0x7f && c != '"' && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
            out += escaped;
        }
    }
    return out + "\"";
}

// Plain decimal digits only: no sign, no blanks, no overflow.
bool parseNumber(const std::string& text, unsigned long long max, unsigned long long& value) {
    if (text.empty() || text.size() > 20) return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        const unsigned digit = static_cast<unsigned>(c - '0');
        if (value > (max - digit) / 10) return false;
        value = value * 10 + digit;
    }
    return true;
}

struct Option {
    std::string key, value;
};

// "a=1&b=2" -> options; false with `error` on an empty or key-less option or
// a key given twice.
bool parseOptions(const std::string& query, std::vector<Option>& options, std::string& error) {
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = query.find('&', start);
        const std::string item = query.substr(start, end == std::string::npos ? std::string::npos : end - start);
        const std::size_t eq = item.find('=');
        if (item.empty() || eq == 0 || eq == std::string::npos) {
            error = "option " + quoted(item) + " is not of the form key=value";
            return false;
        }
        Option option{item.substr(0, eq), item.substr(eq + 1)};
        for (const Option& o : options) {
            if (o.key == option.key) {
                error = "option " + quoted(option.key) + " is given twice";
                return false;
            }
        }
        options.push_back(std::move(option));
        if (end == std::string::npos) return true;
        start = end + 1;
    }
}

struct Failure {
    int rc;
    std::string text;
};

Channel* makeSerial(const std::string& rest, Failure& failure) {
    const std::size_t q = rest.find('?');
    SerialChannel::Settings settings;
    settings.device = rest.substr(0, q);
    if (settings.device.empty()) {
        failure.text = "serial address has no device (expected serial:/dev/ttyUSB0?baud=115200)";
        return nullptr;
    }
    std::vector<Option> options;
    if (q != std::string::npos && !parseOptions(rest.substr(q + 1), options, failure.text)) return nullptr;
    for (const Option& o : options) {
        if (o.key == "baud") {
            unsigned long long baud = 0;
            if (!parseNumber(o.value, std::numeric_limits<unsigned int>::max(), baud)) {
                failure.text = "baud " + quoted(o.value) + " is not a number";
                return nullptr;
            }
            if (!SerialChannel::isSupportedSpeed(static_cast<unsigned int>(baud))) {
                failure.rc = CommBadSpeed;
                failure.text = "line speed " + quoted(o.value) + " is not supported by this system";
                return nullptr;
            }
            settings.baud = static_cast<unsigned int>(baud);
        } else if (o.key == "flow") {
            if (o.value != "rtscts" && o.value != "none") {
                failure.text = "flow " + quoted(o.value) + " is not rtscts or none";
                return nullptr;
            }
            settings.hardwareFlowControl = o.value == "rtscts";
        } else {
            failure.text = "unknown option " + quoted(o.key) + " in serial address (known: baud, flow)";
            return nullptr;
        }
    }
    return new SerialChannel(std::move(settings));
}

Channel* makeTcp(const std::string& rest, Failure& failure) {
    const std::size_t q = rest.find('?');
    const std::string hostPort = rest.substr(0, q);
    std::string host, port;
    if (!hostPort.empty() && hostPort[0] == '[') { // [IPv6]:port
        const std::size_t close = hostPort.find(']');
        if (close == std::string::npos || close + 1 >= hostPort.size() || hostPort[close + 1] != ':') {
            failure.text = "tcp address " + quoted(hostPort) + " is not [IPV6]:PORT";
            return nullptr;
        }
        host = hostPort.substr(1, close - 1);
        port = hostPort.substr(close + 2);
    } else {
        const std::size_t colon = hostPort.rfind(':');
        if (colon == std::string::npos) {
            failure.text = "tcp address " + quoted(hostPort) + " has no port (expected tcp:HOST:PORT)";
            return nullptr;
        }
        host = hostPort.substr(0, colon);
        port = hostPort.substr(colon + 1);
        if (host.find(':') != std::string::npos) {
            failure.text = "IPv6 address " + quoted(host) + " must be written in brackets (tcp:[::1]:5000)";
            return nullptr;
        }
    }
    if (host.empty()) {
        failure.text = "tcp address has no host (expected tcp:HOST:PORT)";
        return nullptr;
    }
    unsigned long long portNumber = 0;
    if (!parseNumber(port, 65535, portNumber) || portNumber == 0) {
        failure.text = "port " + quoted(port) + " is not a number from 1 to 65535";
        return nullptr;
    }
    unsigned long long timeout = 5000, keepalive = 30;
    std::vector<Option> options;
    if (q != std::string::npos && !parseOptions(rest.substr(q + 1), options, failure.text)) return nullptr;
    for (const Option& o : options) {
        if (o.key == "timeout") {
            if (!parseNumber(o.value, std::numeric_limits<unsigned int>::max(), timeout) || timeout == 0) {
                failure.text = "timeout " + quoted(o.value) + " is not a number of milliseconds above 0";
                return nullptr;
            }
        } else if (o.key == "keepalive") {
            // The kernel counts these in whole seconds; a day is far beyond any use.
            if (!parseNumber(o.value, 86400, keepalive) || keepalive == 1) {
                failure.text = "keepalive " + quoted(o.value) + " is not 0 (off) or a number of seconds from 2 to 86400";
                return nullptr;
            }
        } else {
            failure.text = "unknown option " + quoted(o.key) + " in tcp address (known: timeout, keepalive)";
            return nullptr;
        }
    }
    return new TcpChannel(host, static_cast<unsigned short>(portNumber), static_cast<unsigned int>(timeout),
                          static_cast<unsigned int>(keepalive));
}

} // namespace

Channel* createChannel(const std::string& address, int& rc, std::string& error) {
    Failure failure{CommBadAddress, {}};
    Channel* channel = nullptr;
    const std::size_t colon = address.find(':');
    const std::string scheme = address.substr(0, colon);
    if (colon == std::string::npos || colon == 0) {
        failure.text = "address " + quoted(address) + " has no scheme (expected serial:DEVICE or tcp:HOST:PORT)";
    } else if (scheme == "serial") {
        channel = makeSerial(address.substr(colon + 1), failure);
    } else if (scheme == "tcp") {
        channel = makeTcp(address.substr(colon + 1), failure);
    } else {
        failure.text = "unknown scheme " + quoted(scheme) + " (expected serial or tcp)";
    }
    rc = channel ? CommOk : failure.rc;
    error = channel ? std::string() : failure.text;
    return channel;
}

} // namespace Communication
