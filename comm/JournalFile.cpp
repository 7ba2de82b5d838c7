// SPDX-License-Identifier: MIT
#include "JournalFile.h"

#include "RecordReader.h"
#include "RotatedFiles.h"

#include "ecrlink/Channel.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ecrlink::comm {

using namespace Communication;

namespace {

constexpr int NotOpen = -1, TooLong = -2;

std::uint64_t wallNow() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                          std::chrono::system_clock::now().time_since_epoch())
                                          .count());
}

// 0 when all bytes went out, else the errno; `done` tells how many did.
int writeAll(int fd, const unsigned char* bytes, std::size_t size, std::size_t& done) {
    done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, bytes + done, size - done);
        if (n > 0) done += static_cast<std::size_t>(n);
        else if (n < 0 && errno == EINTR) continue;
        else return n < 0 ? errno : EIO;
    }
    return 0;
}

std::vector<unsigned char> sessionRecord() {
    unsigned char wall[8];
    const std::uint64_t now = wallNow();
    for (int i = 0; i < 8; ++i) wall[i] = static_cast<unsigned char>(now >> (8 * i));
    return encode(Session, 0, 0, 0, wall, sizeof wall);
}

// A new file's start: the magic and the session.
int startFile(int fd) {
    std::vector<unsigned char> start(Magic, Magic + MagicSize);
    const std::vector<unsigned char> session = sessionRecord();
    start.insert(start.end(), session.begin(), session.end());
    std::size_t done = 0;
    return writeAll(fd, start.data(), start.size(), done);
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

} // namespace

JournalFile::JournalFile(std::string k) : kind(std::move(k)) {}

JournalFile::~JournalFile() { closeLocked(); }

int JournalFile::open(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex);
    return openLocked(path);
}

void JournalFile::close() {
    std::lock_guard<std::mutex> lock(mutex);
    closeLocked();
}

bool JournalFile::isOpen() const {
    std::lock_guard<std::mutex> lock(mutex);
    return fd >= 0;
}

std::string JournalFile::path() const {
    std::lock_guard<std::mutex> lock(mutex);
    return filePath;
}

std::string JournalFile::lastError() const {
    std::lock_guard<std::mutex> lock(mutex);
    if (failure.empty()) return "";
    return kind + (filePath.empty() ? "" : " " + filePath) + ": " + failure;
}

void JournalFile::fail(int error) {
    if (pending) return;
    pending = error;
    failure = error == NotOpen ? "not open" : error == TooLong ? "request too long to be recorded" : std::strerror(error);
}

void JournalFile::forgetFailure() {
    std::lock_guard<std::mutex> lock(mutex);
    pending = 0;
}

std::uint64_t JournalFile::sinceStart() const {
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - started).count());
}

int JournalFile::openLocked(const std::string& path) {
    closeLocked();
    filePath = path;
    pending = 0;
    failure.clear();
    const auto refuse = [&](int file, std::string why) {
        if (file >= 0) ::close(file);
        failure = std::move(why);
        return CommOpenFailed;
    };
    bool fresh = true;
    int file = ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (file < 0 && errno == EEXIST) {
        fresh = false;
        file = ::open(path.c_str(), O_RDWR | O_APPEND | O_CLOEXEC);
    }
    if (file < 0) return refuse(file, std::strerror(errno));
    // Two writers would interleave their records.
    if (::flock(file, LOCK_EX | LOCK_NB) != 0)
        return refuse(file, errno == EWOULDBLOCK ? "in use by another program" : std::strerror(errno));
    struct stat st {};
    if (::fstat(file, &st) != 0) return refuse(file, std::strerror(errno));
    if (!S_ISREG(st.st_mode)) return refuse(file, "not a regular file");
    const std::uint64_t size = static_cast<std::uint64_t>(st.st_size);

    if (size < MagicSize) {
        // Empty, or its start cut short before any record: begun afresh.
        unsigned char head[MagicSize] = {};
        if (::pread(file, head, size, 0) != static_cast<ssize_t>(size) || std::memcmp(head, Magic, size) != 0)
            return refuse(file, "not a capture file of this version");
        if (::ftruncate(file, 0) != 0) return refuse(file, std::strerror(errno));
        fresh = true;
        started = std::chrono::steady_clock::now();
        if (const int error = startFile(file)) return refuse(file, std::strerror(error));
        goodEnd = MagicSize + HeaderSize + 8 + TrailerSize;
    } else {
        RecordReader reader;
        std::string why;
        if (reader.attach(file, path, why) != CommOk) return refuse(file, "not a capture file of this version");
        if (reader.version() != Version2)
            return refuse(file, "written in capture format 1; move it aside to start a new one");
        // A record a crash left torn is cut off, so that appended ones follow whole ones.
        goodEnd = reader.wholeEnd();
        if (!reader.readError().empty()) return refuse(file, reader.readError());
        if (goodEnd < size && (::ftruncate(file, static_cast<off_t>(goodEnd)) != 0 || ::fdatasync(file) != 0))
            return refuse(file, std::strerror(errno));
        started = std::chrono::steady_clock::now();
        const std::vector<unsigned char> session = sessionRecord();
        std::size_t done = 0;
        if (const int error = writeAll(file, session.data(), session.size(), done))
            return refuse(file, std::strerror(error)); // a torn session record is cut off at the next open
        goodEnd += session.size();
    }
    fd = file;
    torn = false;
    if (fresh && (::fdatasync(fd) != 0 || syncDirectory(path) != 0)) {
        const int error = errno;
        closeLocked();
        return refuse(-1, std::strerror(error));
    }
    return CommOk;
}

void JournalFile::closeLocked() {
    if (fd < 0) return;
    if (torn && ::ftruncate(fd, static_cast<off_t>(goodEnd)) == 0) torn = false;
    ::close(fd);
    fd = -1;
}

int JournalFile::record(Type type, std::uint32_t arg, std::int32_t value, const unsigned char* payload,
                        std::uint32_t length) {
    std::lock_guard<std::mutex> lock(mutex);
    return recordLocked(type, arg, value, payload, length);
}

int JournalFile::recordLocked(Type type, std::uint32_t arg, std::int32_t value, const unsigned char* payload,
                              std::uint32_t length) {
    if (fd < 0) {
        fail(NotOpen);
        return NotOpen;
    }
    const std::vector<unsigned char> bytes = encode(type, arg, value, sinceStart(), payload, length);
    int error = 0;
    if (torn) {
        if (::ftruncate(fd, static_cast<off_t>(goodEnd)) == 0) torn = false;
        else error = errno;
    }
    std::size_t done = 0;
    if (!error) error = writeAll(fd, bytes.data(), bytes.size(), done);
    if (!error) {
        goodEnd += bytes.size();
        return 0;
    }
    if (done) torn = true;
    fail(error);
    return error;
}

int JournalFile::sync() {
    std::lock_guard<std::mutex> lock(mutex);
    return syncLocked();
}

int JournalFile::syncLocked() {
    if (fd < 0) {
        fail(NotOpen);
        return NotOpen;
    }
    if (pending) return pending;
    if (::fdatasync(fd) != 0) {
        const int error = errno;
        fail(error);
        return error;
    }
    return 0;
}

void JournalFile::attach() {
    std::lock_guard<std::mutex> lock(mutex);
    ++channels;
}

void JournalFile::detach() {
    std::lock_guard<std::mutex> lock(mutex);
    --channels;
}

int JournalFile::begin(const std::string& ref, const unsigned char* request, std::uint32_t length,
                       std::uint64_t rotateBytes, unsigned int keep) {
    std::lock_guard<std::mutex> lock(mutex);
    inTransaction = armed = false;
    if (fd < 0) {
        fail(NotOpen);
        return NotOpen;
    }
    if (pending) return pending;
    if (rotateBytes && goodEnd >= rotateBytes) rotateLocked(keep);
    if (pending) return pending;
    const std::vector<unsigned char> payload = intentPayload(wallNow(), ref, request, length);
    if (payload.size() > MaxPayload) {
        failure = "request too long to be recorded";
        return TooLong;
    }
    if (const int error = recordLocked(Intent, static_cast<std::uint32_t>(ref.size()), 0, payload.data(),
                                       static_cast<std::uint32_t>(payload.size())))
        return error;
    inTransaction = armed = true;
    requestOut = false;
    reference = ref;
    // Without a channel that records the line, nobody can tell when the
    // request goes out: it counts as sent from here on.
    if (channels > 0) return 0;
    requestOut = true;
    return sendingLocked();
}

int JournalFile::sendingLocked() {
    if (!armed) return 0;
    int error = pending ? pending
                        : recordLocked(Sending, 0, 0, reinterpret_cast<const unsigned char*>(reference.data()),
                                       static_cast<std::uint32_t>(reference.size()));
    if (!error) error = syncLocked();
    recordLocked(Sync, 0, error, nullptr, 0);
    if (!error) armed = false;
    return error;
}

int JournalFile::beforeSending() {
    std::lock_guard<std::mutex> lock(mutex);
    return sendingLocked();
}

void JournalFile::wentOut(unsigned int count) {
    std::lock_guard<std::mutex> lock(mutex);
    if (inTransaction && !armed && count > 0) requestOut = true;
}

int JournalFile::end(unsigned int result, unsigned int ending) {
    std::lock_guard<std::mutex> lock(mutex);
    if (!inTransaction) return 0;
    inTransaction = armed = false;
    const std::uint32_t arg = (ending & 0xFF) | (requestOut ? RequestOut : 0);
    const int error = recordLocked(Outcome, arg, static_cast<std::int32_t>(result),
                                   reinterpret_cast<const unsigned char*>(reference.data()),
                                   static_cast<std::uint32_t>(reference.size()));
    return error ? error : syncLocked();
}

void JournalFile::rotateLocked(unsigned int keep) {
    if (::fdatasync(fd) != 0) {
        fail(errno);
        return;
    }
    // The next file is made whole under another name first, so that the
    // journal always has a current file.
    const std::string next = filePath + ".new";
    const int file = ::open(next.c_str(), O_RDWR | O_APPEND | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (file < 0) return;
    const auto start = std::chrono::steady_clock::now();
    const auto abandon = [&] {
        ::close(file);
        ::unlink(next.c_str());
    };
    if (::flock(file, LOCK_EX | LOCK_NB) != 0 || startFile(file) != 0 || ::fdatasync(file) != 0) return abandon();
    // Older files move up one number, the oldest first, never onto a name in use.
    const auto rotated = rotatedFiles(filePath);
    for (auto it = rotated.rbegin(); it != rotated.rend(); ++it) {
        const std::string up = filePath + "." + std::to_string(it->first + 1);
        if (exists(up) || ::rename(it->second.c_str(), up.c_str()) != 0) return abandon();
    }
    if (exists(filePath + ".1") || ::rename(filePath.c_str(), (filePath + ".1").c_str()) != 0) return abandon();
    if (::rename(next.c_str(), filePath.c_str()) != 0) {
        // The current file goes on under its rotated name, where readers look too.
        abandon();
        return;
    }
    ::close(fd);
    fd = file;
    torn = false;
    started = start;
    struct stat st {};
    goodEnd = ::fstat(fd, &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : MagicSize;
    // Beyond the files kept, a file goes only when every transaction in it is final.
    for (const auto& [number, name] : rotatedFiles(filePath))
        if (number > keep && !holdsUnfinished(name)) ::unlink(name.c_str());
    syncDirectory(filePath);
}

} // namespace ecrlink::comm
