// SPDX-License-Identifier: MIT
// A register asks the terminal for a purchase for each amount given, one customer after another, and
// collects each answer and receipt.
//   register_purchase serial:/dev/serial/by-id/usb-…-if00-port0?baud=115200 1250 [899 ...]
// Every purchase has a reference of its own and is kept in the journal ($REGISTER_JOURNAL, else
// ./register.journal) before anything goes to the terminal; at start-up the register asks the journal what
// became of its last purchase, so a crash or a power cut never loses an approved payment nor pays twice.
// Ctrl-C cancels the purchase in progress: the terminal is told with EOT. A cancel belongs to the purchase
// in progress; one that comes between customers does nothing, so it never stops the next customer's.
#include <ecrlink/CaptureChannel.h>
#include <ecrlink/ChannelFactory.h>
#include <ecrlink/ECRDialogue.h>
#include <ecrlink/ECRProto.h>
#include <ecrlink/Journal.h>
#include <ecrlink/TLVMessage.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include <pthread.h>

// What became of the last purchase before this start, and what to do about it.
static void recover(const std::string& journal) {
    Communication::JournalTransaction last;
    std::string error;
    if (Communication::Journal::lastTransaction(journal, last, error) != 0) {
        std::fprintf(stderr, "journal: %s\n", error.c_str());
        return;
    }
    if (last.outcome == Communication::JournalTransaction::NotFound) return;
    std::printf("last transaction %s: %s\n", last.reference.c_str(), Communication::journalOutcomeText(last.outcome));
    if (last.outcome == Communication::JournalTransaction::SentNoAnswer)
        // The terminal may have taken the payment: look it up there. Sending it again could charge twice.
        std::printf("  ask the terminal what became of %s; it is not sent again\n", last.reference.c_str());
    else if (last.outcome == Communication::JournalTransaction::AnsweredNotAcknowledged)
        std::printf("  the answer came but the terminal may not know: check %s at the terminal\n", last.reference.c_str());
}

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s ADDRESS AMOUNT_IN_CENTS...\n", argv[0]);
        return 2;
    }
    const char* named = std::getenv("REGISTER_JOURNAL");
    const std::string path = named ? named : "register.journal";
    Communication::Journal journal; // outlives the protocol object and its channel
    if (journal.open(path) != 0) {   // creates it, or mends what a crash left torn
        std::fprintf(stderr, "%s\n", journal.lastError().c_str()); // nothing goes to the terminal without it
        return 1;
    }
    recover(path); // before the first customer
    int rc = 0;
    std::string why;
    Communication::Channel* line = Communication::createChannel(argv[1], rc, why);
    if (!line) {
        std::fprintf(stderr, "bad address: %s\n", why.c_str());
        return 2;
    }
    // The line records into the journal: an answer is acknowledged only once it is on disk.
    Communication::Channel* channel = new Communication::CaptureChannel(line, journal, {});

    CECRProto proto;
    proto.setCommunication(channel); // the protocol object owns the channel from here on
    if (unsigned int r = proto.open(true)) {
        std::fprintf(stderr, "open: %u %s: %s\n", r, ecrlinkResultText(r), channel->lastError().c_str());
        return 1;
    }

    CECRDialogue dialogue(proto); // defaults suit card presentation and PIN entry
    dialogue.setJournal(&journal);
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
        // One reference per purchase (a real register takes its receipt number): the journal finds it again.
        const std::string reference = "R-" + std::to_string(std::time(nullptr)) + "-" + std::to_string(customer - 1);
        const unsigned int r = dialogue.run(request, answer, reference);
        if (r == ECRPResult::AnswerNotAcknowledged) {
            // The terminal may take the purchase for failed: never hand out goods on this answer alone.
            std::fprintf(stderr, "purchase: the answer arrived but the terminal did not get its ACK: check the terminal\n");
            status = 1;
        } else if (r != 0) {
            // A journal that cannot keep the purchase (117) stops the register: nothing is sent without it.
            std::fprintf(stderr, "purchase %s: %u %s %s\n", reference.c_str(), r, ecrlinkResultText(r),
                         r == Communication::CommJournalFailed ? journal.lastError().c_str() : "");
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
