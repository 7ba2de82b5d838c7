// SPDX-License-Identifier: MIT
// Fuzz what people type into the ecrlink program: tag values, hex, numbers,
// scenario files, channel addresses and fault lists. Every parser either
// accepts or gives a reason; what it accepts stays within what it was given.

#include "FuzzCheck.h"
#include "ecrlink/ChannelFactory.h"
#include "sim/FaultPlan.h"
#include "sim/ScenarioParser.h"
#include "wire/Bytes.h"
#include "wire/TagSpec.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>

using namespace ecrlink::tool;

namespace {

bool isNumberText(const std::string& text) {
    const bool hex = text.size() > 1 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::size_t from = hex ? 2 : 0;
    if (text.size() == from) return false;
    for (std::size_t i = from; i < text.size(); ++i)
        if (!(hex ? std::isxdigit(static_cast<unsigned char>(text[i])) : std::isdigit(static_cast<unsigned char>(text[i]))))
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::string error;
    switch (data[0] % 6) {
    case 0: { // a tag of `send`, or one of a scenario
        TagSpec parsed;
        const bool echo = data[0] & 0x80;
        if (TagSpec::parse(text, echo ? ByteOrder::LsbFirst : ByteOrder::MsbFirst, echo, parsed, error))
            require(parsed.tag.value.size() <= text.size() && (echo || !parsed.echo), "tag value beyond its text");
        else
            require(!error.empty(), "tag refused without a reason");
        break;
    }
    case 1: {
        Bytes bytes, again;
        if (parseHex(text, bytes, error)) {
            require(bytes.size() * 2 <= text.size(), "more bytes than hex digits");
            require(parseHex(toHex(bytes), again, error) && again == bytes, "hex does not read back");
        } else {
            require(!error.empty(), "hex refused without a reason");
        }
        break;
    }
    case 2: {
        std::uint64_t value = 0;
        const std::uint64_t max = data[0] & 0x80 ? 0xFFFFFFFFull : 0xFFFFull;
        if (parseNumber(text, max, value)) require(value <= max && isNumberText(text), "number not as written");
        break;
    }
    case 3: {
        Scenario scenario;
        if (ScenarioParser::parse(text, "in", scenario, error))
            require(!scenario.steps.empty(), "scenario without steps");
        else
            require(error.rfind("in:", 0) == 0, "scenario error without its place");
        break;
    }
    case 4: {
        int rc = -1;
        Communication::Channel* channel = Communication::createChannel(text, rc, error);
        require((channel != nullptr) == (rc == 0), "address result");
        require(channel || (!error.empty() && error.find('\n') == std::string::npos), "address refused without one line");
        Communication::destroyCommIns(channel);
        break;
    }
    case 5: {
        FaultPlan::Rates r;
        if (FaultPlan::parse(text, r, error)) {
            for (double rate : {r.corrupt, r.length, r.nak, r.silence}) require(rate >= 0 && rate <= 1, "rate out of range");
        } else {
            require(!error.empty(), "faults refused without a reason");
        }
        break;
    }
    }
    return 0;
}
