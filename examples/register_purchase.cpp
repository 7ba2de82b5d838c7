// SPDX-License-Identifier: MIT
// A register asks the terminal for a purchase and collects the answer and the receipt.
//   register_purchase serial:/dev/serial/by-id/usb-…-if00-port0?baud=115200 1250
// Ctrl-C cancels the purchase: the terminal is told with EOT.
#include <ecrlink/ChannelFactory.h>
#include <ecrlink/ECRDialogue.h>
#include <ecrlink/ECRProto.h>
#include <ecrlink/TLVMessage.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <pthread.h>

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
        std::fprintf(stderr, "open: %u %s: %s\n", r, ecrlinkResultText(r), channel->lastError().c_str());
        return 1;
    }

    CTLVMessage request;
    request.addTag(new CTLVTag(1, 1u));                                            // operation: purchase
    request.addTag(new CTLVTag(4, static_cast<unsigned int>(std::atoi(argv[2])))); // amount

    CECRDialogue dialogue(proto); // defaults suit card presentation and PIN entry
    dialogue.onStatus([](CTLVMessage& status) {
        CTLVTag* text = nullptr;
        if (status.getTag(text, 2) == 0) { // what the terminal shows the customer
            unsigned int length = 0;
            text->getLength(length);
            std::string shown(length, '\0');
            if (length) text->getValue(&shown[0], length);
            std::printf("terminal: %s\n", shown.c_str());
        }
    });

    // Ctrl-C comes to a thread of its own, which cancels the dialogue.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    std::thread watcher([&dialogue, stop] {
        int signal = 0;
        if (sigwait(&stop, &signal) == 0) dialogue.cancel();
    });

    CTLVMessage answer;
    const unsigned int r = dialogue.run(request, answer);
    pthread_kill(watcher.native_handle(), SIGINT); // ends the watcher; a cancel now changes nothing
    watcher.join();
    if (r != 0) {
        std::fprintf(stderr, "purchase: %u %s\n", r, ecrlinkResultText(r));
        return 1;
    }

    const std::vector<unsigned char>& receipt = dialogue.receipt();
    std::printf("receipt:\n%.*s\n", static_cast<int>(receipt.size()), reinterpret_cast<const char*>(receipt.data()));
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
