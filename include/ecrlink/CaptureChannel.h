// SPDX-License-Identifier: MIT
#pragma once

#include "ecrlink/Channel.h"
#include "ecrlink/Export.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace Communication {

class Journal;

/// A channel that records another: every byte in each direction with a
/// monotonic time stamp, every read time-out set, every result code, open,
/// close and flush, appended to a capture file as it happens (format in
/// docs/capture-format.md; a file cut short reads up to its last complete
/// record). The values of masked tags never reach the file nor the trace:
/// their bytes are written as '*' (the frame's check byte is adjusted so that
/// a good frame still reads as good and a bad one as bad).
///
/// Opening the file appends to it (a session record marks each opening); a
/// record left torn by a crash is cut off first. A file of capture format 1
/// is refused (CommOpenFailed): moved aside, nothing of it is lost.
///
/// In journal mode (Options::journal with a file of its own, or recording
/// into a Journal) nothing is acknowledged that is not on disk: before the ACK
/// for a frame it has just received is passed on, the file is synced
/// (fdatasync). When a record since the last sync or the sync itself failed
/// (disk full, file too large, an I/O error, a read-only file system), the
/// ACK is not written: write() returns CommJournalFailed, and from then on
/// isOpened() answers CommJournalFailed and every write but a lone EOT is
/// refused the same way, until open() is called again; lastError() names the
/// file and the system's reason ("journal /var/lib/register/terminal.journal:
/// No space left on device"). Recording into a Journal, the first byte of a
/// transaction's request goes out only after a sending record is on disk
/// (Journal::beginTransaction), refused in the same way otherwise.
///
/// With `trace` set, each read and write is also logged through the Logger as
/// a hex line at level 2 ("wire <- 02 00 03 …", "wire -> 06").
///
/// Threads and blocking: as the wrapped channel; each call adds one write to
/// the capture file (and in journal mode an fdatasync before an ACK and
/// before a transaction's request).
class ECRLINK_API CaptureChannel : public Channel {
public:
    struct Options {
        std::string path;                  ///< capture file; empty: trace only
        std::set<std::uint32_t> maskedTags; ///< tag numbers whose values are masked
        bool journal = false;              ///< fdatasync before each ACK
        bool trace = false;                ///< hex lines at Logger level 2
    };

    /// Takes ownership of `inner` (destroyed with destroyCommIns).
    CaptureChannel(ICommunication* inner, Options options);
    /// Records into `journal`'s file, in journal mode; `options.path` and
    /// `options.journal` are not used, the journal's masked tags are added to
    /// those of `options`. The file stays open as long as the channel needs
    /// it, even when the journal goes first.
    CaptureChannel(ICommunication* inner, Journal& journal, Options options);
    ~CaptureChannel() override;

    /// Opens the capture file on the first call (CommOpenFailed with
    /// lastError() naming the file when it cannot be written), then the line.
    /// Takes up a journal again after CommJournalFailed.
    int open() override;
    int close() override;
    int read(unsigned char* buffer, unsigned int wanted, unsigned int& count) override;
    int write(const unsigned char* data, unsigned int length, unsigned int& count) override;
    int isOpened() override;
    int setReadTimeouts(unsigned int first, unsigned int milliseconds) override;
    int flush() override;
    int setOpenFlag(bool flag) override;

    /// The wrapped channel's reason, or the capture file's own.
    std::string lastError() const override;
    /// Passed on to the wrapped channel when it can be interrupted.
    void interrupt() override;
    void resume() override;

private:
    struct State;
    std::unique_ptr<State> state;
};

/// One event of a capture, frames already put together from the bytes.
struct CaptureEvent {
    enum Kind {
        Open,     ///< `code`: the result
        Close,    ///< `code`: the result
        Timeout,  ///< a read time-out was set: `value` milliseconds
        Failure,  ///< a read, write or flush failed: `code`, `operation`
        Frame,    ///< a whole frame: `start`, `data`, `checkOk`
        Control,  ///< a single byte outside a frame: `start`; `code` the result of the
                  ///< read or write that carried it
        Synced,   ///< the file was synced before an ACK: `code` of fdatasync
        Partial,  ///< a frame that never ended: `start`, the `data` that came, `value`
                  ///< the length its header announced (0: the length never came)
        Session,  ///< the file was opened (again): `timeNs` is the wall-clock time, ns since
                  ///< 1970 UTC; the times of the events after it count from it
        Intent,   ///< a transaction began: `operation` its reference, `data` the request's
                  ///< dump as sent (masked values as '*')
        Sending,  ///< its request was about to go out (recorded and synced before the first
                  ///< byte): `operation` the reference
        Outcome,  ///< a transaction ended: `operation` the reference, `code` the run's result,
                  ///< `value` how it ended (TransactionJournal::Ending), `checkOk` whether a
                  ///< byte of the request reached the line
    };
    Kind kind = Open;
    bool fromTerminal = false;  ///< direction of a Frame or Control byte
    std::uint64_t timeNs = 0;   ///< since the capture began
    int code = 0;
    std::uint32_t value = 0;
    std::string operation;      ///< "read", "write" or "flush" for a Failure; a reference
    unsigned char start = 0;    ///< start byte of a Frame, or the Control byte
    std::vector<unsigned char> data; ///< the data of a Frame (masked values as '*')
    bool checkOk = false;
};

/// A message found in a capture, with the answer it got.
struct CapturedMessage {
    bool fromTerminal = false;
    std::uint64_t timeNs = 0;
    unsigned char start = 0;         ///< 0x02 data frame, 0x12 status frame
    std::vector<unsigned char> dump; ///< the frame's data: the message's dump
    bool checkOk = false;
    int reply = -1;                  ///< the byte that answered it (ACK, NAK, EOT), -1 none
};

/// Reads a capture file into events. 0 on success, also for a file cut short
/// (`truncated` then tells so); CommOpenFailed when the file cannot be read
/// (missing, a directory, no permission), CommBadArgument when it is not a
/// capture file, each with `error`; never throws but for memory exhaustion.
/// Any thread; reads the whole file a block at a time (memory grows with the
/// events, not with the file).
ECRLINK_API int readCapture(const std::string& path, std::vector<CaptureEvent>& events, bool& truncated,
                            std::string& error);

/// Reads a capture file the way readCapture() does, handing each event to
/// `each` as soon as it is complete instead of keeping them: memory stays
/// that of one record, however long the file. Results as readCapture(); the
/// events already handed over stand when the file turns out to be unreadable
/// part way. Blocks the calling thread (any thread) until the file is read.
ECRLINK_API int streamCapture(const std::string& path, const std::function<void(CaptureEvent&&)>& each,
                              bool& truncated, std::string& error);

/// The messages of a capture, oldest first, so that a register can recover
/// the last answer it acknowledged after a restart. Results as readCapture().
ECRLINK_API int readCaptureMessages(const std::string& path, std::vector<CapturedMessage>& messages,
                                    std::string& error);

} // namespace Communication
