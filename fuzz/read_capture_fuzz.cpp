// SPDX-License-Identifier: MIT
// Whatever a capture file or a journal holds (a trace sent in by a shop, a
// journal a crash or a power loss left torn), reading it and recovering its
// transactions ends with a documented result, reads nothing outside what it
// was given, and opening it for writing leaves it readable. The input is the
// file.
#include "FuzzCheck.h"
#include "ecrlink/CaptureChannel.h"
#include "ecrlink/Journal.h"

#include <cstdint>
#include <string>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

namespace {

bool documented(int rc) {
    return rc == Communication::CommOk || rc == Communication::CommOpenFailed || rc == Communication::CommBadArgument;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace Communication;
    static const int fd = ::memfd_create("capture", 0);
    static const std::string path = "/proc/self/fd/" + std::to_string(fd);
    CHECK(fd >= 0 && ::ftruncate(fd, 0) == 0 && ::pwrite(fd, data, size, 0) == static_cast<ssize_t>(size));

    std::vector<CaptureEvent> events;
    std::vector<CapturedMessage> messages;
    bool truncated = false;
    std::string error;
    const int read = readCapture(path, events, truncated, error);
    CHECK(documented(read) && documented(readCaptureMessages(path, messages, error)));
    for (const CaptureEvent& e : events) CHECK(e.kind != CaptureEvent::Frame || e.data.size() <= 0xFFFF);
    JournalTransaction last, found;
    CHECK(documented(Journal::lastTransaction(path, last, error)));
    CHECK(documented(Journal::findTransaction(path, last.reference, found, error)));
    CHECK(found.outcome == last.outcome);

    // Appending to it cuts off a torn tail first: what was whole stays whole, and the new transaction is found.
    const bool whole = read == CommOk && !truncated;
    Journal journal;
    if (journal.open(path) == CommOk) {
        journal.beginTransaction("F", data, static_cast<unsigned int>(size < 64 ? size : 64));
        journal.endTransaction(0, TransactionJournal::Ending::NoAnswer);
        journal.close();
        CHECK(readCapture(path, events, truncated, error) == CommOk && (!whole || !truncated));
        CHECK(Journal::lastTransaction(path, last, error) == CommOk && last.reference == "F");
        CHECK(last.outcome == JournalTransaction::SentNoAnswer); // no channel told when the request went out
    }
    return 0;
}
