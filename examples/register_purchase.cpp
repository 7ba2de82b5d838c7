// A register asks the terminal for a purchase and collects the answer and the receipt.
//   register_purchase serial:/dev/ttyUSB0?baud=115200 1250
#include <ecrlink/ChannelFactory.h>
#include <ecrlink/ECRProto.h>
#include <ecrlink/TLVMessage.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

static const char* textOf(unsigned int rc) {
    if (const char* text = ecrpErrorText(rc)) return text;
    if (rc >= 201 && rc <= 207) return aTLVErrors[rc - 201];
    return Communication::commErrorText(static_cast<int>(rc));
}

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s ADDRESS AMOUNT_IN_CENTS\n", argv[0]);
        return 2;
    }
    int rc = 0;
    std::string why;
    Communication::Channel* channel = Communication::createChannel(argv[1], rc, why);
    if (!channel) {
        std::fprintf(stderr, "bad address: %s\n", why.c_str());
        return 2;
    }

    CECRProto proto;
    proto.setCommunication(channel); // the protocol object owns the channel from here on
    if (unsigned int r = proto.open(true)) {
        std::fprintf(stderr, "open: %u %s\n", r, textOf(r));
        return 1;
    }

    CTLVMessage request;
    request.addTag(new CTLVTag(1, 1u));                                       // operation: purchase
    request.addTag(new CTLVTag(4, static_cast<unsigned int>(std::atoi(argv[2])))); // amount
    if (unsigned int r = proto.sendMessage(request)) {
        std::fprintf(stderr, "send: %u %s\n", r, textOf(r));
        return 1;
    }

    // One message object for the whole answer, so that receipt pieces collect in it.
    CTLVMessage answer;
    std::string receipt;
    for (;;) {
        unsigned int r = proto.recvMessage(answer);
        if (r == 312) continue; // status message: the terminal is still working
        if (r != 0) {
            std::fprintf(stderr, "receive: %u %s\n", r, textOf(r));
            return 1;
        }
        CTLVTag* file = nullptr;
        if (answer.getTag(file, 44) == 0) { // the last piece: the whole receipt is in the tag
            unsigned int length = 0;
            file->getLength(length);
            receipt.assign(length, '\0');
            if (length) file->getValue(&receipt[0], length);
            continue;
        }
        std::vector<CTLVTag*> tags;
        answer.getAllTags(tags);
        if (!tags.empty()) break; // the final answer
        // no tags: the message only carried a piece of the receipt
    }

    std::printf("receipt:\n%s\n", receipt.c_str());
    std::vector<CTLVTag*> tags;
    answer.getAllTags(tags);
    for (CTLVTag* tag : tags) {
        unsigned int number = 0, length = 0;
        tag->getType(number);
        tag->getLength(length);
        std::printf("tag %u: %u bytes\n", number, length);
    }
    proto.close();
    return 0;
}
