// SPDX-License-Identifier: MIT
// A register asks the terminal for a purchase for each amount given, one customer after another, and
// collects each answer and receipt.
//   register_purchase serial:/dev/serial/by-id/usb-…-if00-port0?baud=115200 1250 [899 ...]
// Ctrl-C cancels the purchase in progress: the terminal is told with EOT. A cancel belongs to the purchase
// in progress; one that comes between customers does nothing, so it never stops the next customer's.
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
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s ADDRESS AMOUNT_IN_CENTS...\n", argv[0]);
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

    // Ctrl-C comes to a thread of its own, for the whole program; SIGUSR1 ends it.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::thread watcher([&dialogue, signals] {
        int signal = 0;
        while (sigwait(&signals, &signal) == 0 && signal == SIGINT) dialogue.cancel(); // the run in progress, if any
    });

    int status = 0;
    for (int customer = 2; customer < argc && status == 0; ++customer) {
        CTLVMessage request, answer; // the dialogue hands over this customer's answer only; new ones make that plain
        request.addTag(new CTLVTag(1, 1u));                                                   // operation: purchase
        request.addTag(new CTLVTag(4, static_cast<unsigned int>(std::atoi(argv[customer])))); // amount
        const unsigned int r = dialogue.run(request, answer);
        if (r == ECRPResult::AnswerNotAcknowledged) {
            // The terminal may take the purchase for failed: never hand out goods on this answer alone.
            std::fprintf(stderr, "purchase: the answer arrived but the terminal did not get its ACK: check the terminal\n");
            status = 1;
        } else if (r != 0) {
            std::fprintf(stderr, "purchase: %u %s\n", r, ecrlinkResultText(r));
            status = 1;
            break;
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
    }
    pthread_kill(watcher.native_handle(), SIGUSR1);
    watcher.join();
    proto.close();
    return status;
}
