// Whatever a terminal sends, receiving must end with a known result, release
// every buffer and never read or write outside one. The input is the line:
// before each read one control byte says how the read goes (0xFF: nothing
// arrives; otherwise up to (byte % 16) + 1 of the following bytes arrive).
#include "ecrlink/Channel.h"
#include "ecrlink/ECRProto.h"
#include "ecrlink/Logger.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

class FuzzLine : public Communication::Channel {
public:
    FuzzLine(const std::uint8_t* data, std::size_t size) : at(data), end(data + size) {}
    bool exhausted() const { return at >= end; }

    int read(unsigned char* buffer, unsigned int wanted, unsigned int& count) override {
        count = 0;
        if (exhausted()) return Communication::CommTimeout;
        const std::uint8_t control = *at++;
        if (control == 0xFF) return Communication::CommTimeout;
        const std::size_t n = std::min<std::size_t>({wanted, control % 16u + 1u, static_cast<std::size_t>(end - at)});
        std::memcpy(buffer, at, n);
        at += n;
        count = static_cast<unsigned int>(n);
        return 0;
    }
    int write(const unsigned char*, unsigned int length, unsigned int& count) override {
        count = length;
        return 0;
    }
    int isOpened() override { return exhausted() ? Communication::CommNotConnected : 0; }
    int open() override { return 0; }
    int close() override { return 0; }
    int setReadTimeouts(unsigned int, unsigned int) override { return 0; }
    int flush() override { return 0; }
    int setOpenFlag(bool) override { return 0; }

private:
    const std::uint8_t* at;
    const std::uint8_t* end;
};

bool known(unsigned int rc) {
    switch (rc) {
    case 0: case 105: case 106: case 202: case 204: case 206:
    case 302: case 303: case 304: case 305: case 308: case 309: case 310: case 311: case 312: case 315: case 317:
        return true;
    default:
        return false;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Logger::get().enable(Logger::Level(1)); // the log texts are built on every path
    auto* line = new FuzzLine(data, size);
    CECRProto proto;
    proto.setCommunication(line);
    CTLVMessage message; // one object for the whole dialogue, as a register collects a receipt
    for (int i = 0; i < 64 && !line->exhausted(); ++i) {
        const unsigned int rc = proto.recvMessage(message);
        if (!known(rc)) std::abort();
        std::vector<CTLVTag*> tags;
        message.getAllTags(tags);
        unsigned int previous = 0;
        for (std::size_t t = 0; t < tags.size(); ++t) {
            unsigned int number = 0;
            tags[t]->getType(number);
            if (t > 0 && number <= previous) std::abort();
            previous = number;
        }
    }
    Logger::get().drain();
    return 0;
}
