// SPDX-License-Identifier: MIT
#pragma once

// The file a capture or a journal is written to, shared by a Journal and the
// channels that record into it. Records are appended one write each; a record
// a failed write left torn is cut off before the next one. A failure is kept
// until the next sync reports it, so nothing is acknowledged that is not on
// disk. For a journal it also holds the transaction in progress and rotates
// the file. Every call takes the object's lock. Internal to libecrcomm.

#include "CaptureFormat.h"

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

namespace ecrlink::comm {

class JournalFile {
public:
    /// `kind` names the file in failures: "journal" or "capture".
    explicit JournalFile(std::string kind);
    ~JournalFile();
    JournalFile(const JournalFile&) = delete;
    JournalFile& operator=(const JournalFile&) = delete;

    /// Opens `path` for appending (creating it, or cutting off a torn tail
    /// first) and records a session. 0 or CommOpenFailed; lastError() says why.
    int open(const std::string& path);
    void close();
    bool isOpen() const;
    std::string path() const;
    /// "journal PATH: reason" of the last failure.
    std::string lastError() const;

    /// Appends one record. 0 or the errno of the failure (-1: the file is not open).
    int record(Type type, std::uint32_t arg, std::int32_t value, const unsigned char* payload = nullptr,
               std::uint32_t length = 0);
    /// 0 when every record since the last sync was written and fdatasync
    /// succeeded; otherwise that failure, reported again by every later sync
    /// until forgetFailure().
    int sync();
    void forgetFailure();

    /// A channel records into this file (it writes the sending records).
    void attach();
    void detach();
    /// Rotates when due, records the intent and arms the sending record. 0 or a failure as record().
    int begin(const std::string& reference, const unsigned char* request, std::uint32_t length,
              std::uint64_t rotateBytes, unsigned int keep);
    /// Records the outcome and syncs. 0 or a failure as sync().
    int end(unsigned int result, unsigned int ending);
    /// Before a byte of the request goes out: the sending record, synced,
    /// once per transaction. 0 or a failure as sync().
    int beforeSending();
    /// `count` bytes reached the line.
    void wentOut(unsigned int count);

private:
    int openLocked(const std::string& path);
    void closeLocked();
    int recordLocked(Type type, std::uint32_t arg, std::int32_t value, const unsigned char* payload,
                     std::uint32_t length);
    int syncLocked();
    int sendingLocked();
    void fail(int error);
    void rotateLocked(unsigned int keep);
    std::uint64_t sinceStart() const;

    mutable std::mutex mutex;
    const std::string kind;
    std::string filePath, failure;
    int fd = -1;
    std::chrono::steady_clock::time_point started;
    std::uint64_t goodEnd = 0; // end of the last whole record
    bool torn = false;         // a failed write left part of a record after goodEnd
    int pending = 0;           // first failure since the last sync
    int channels = 0;
    // The transaction in progress.
    bool inTransaction = false, armed = false, requestOut = false;
    std::string reference;
};

} // namespace ecrlink::comm
