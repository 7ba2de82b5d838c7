// SPDX-License-Identifier: MIT
#include "RecordReader.h"

#include "ecrlink/Channel.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ecrlink::comm {

using namespace Communication;

namespace {

// Reading forward takes larger steps than looking back from the end, where
// only the last transaction is wanted.
constexpr std::size_t ForwardBlock = 64 * 1024, BackwardBlock = 16 * 1024;

} // namespace

RecordReader::~RecordReader() {
    if (owned && fd >= 0) ::close(fd);
}

int RecordReader::open(const std::string& path, std::string& error) {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = path + ": " + std::strerror(errno);
        return CommOpenFailed;
    }
    owned = true;
    return start(path, error);
}

int RecordReader::attach(int descriptor, const std::string& name, std::string& error) {
    fd = descriptor;
    owned = false;
    return start(name, error);
}

int RecordReader::start(const std::string& name, std::string& error) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        error = name + ": " + std::strerror(errno);
        return CommOpenFailed;
    }
    if (!S_ISREG(st.st_mode)) {
        error = name + ": " + (S_ISDIR(st.st_mode) ? std::strerror(EISDIR) : "not a regular file");
        return CommOpenFailed;
    }
    length = static_cast<std::uint64_t>(st.st_size);
    const std::size_t head = static_cast<std::size_t>(std::min<std::uint64_t>(length, MagicSize));
    const unsigned char* magic = fetch(0, head, Ahead::Exact);
    if (!magic && readErrno) {
        error = name + ": " + std::strerror(readErrno);
        return CommOpenFailed;
    }
    // A file whose writer stopped before its first record holds no record.
    if (head == 0 || (head < MagicSize && magic && std::memcmp(magic, Magic, head) == 0)) {
        formatVersion = Version2;
        return CommOk;
    }
    if (!magic || head < MagicSize || std::memcmp(magic, Magic, MagicSize - 1) != 0 ||
        (magic[MagicSize - 1] != Version1 && magic[MagicSize - 1] != Version2)) {
        error = name + ": not a capture file of this version";
        return CommBadArgument;
    }
    formatVersion = magic[MagicSize - 1];
    return CommOk;
}

std::string RecordReader::readError() const { return readErrno ? std::strerror(readErrno) : ""; }

const unsigned char* RecordReader::fetch(std::uint64_t offset, std::size_t n, Ahead ahead) {
    if (offset > length || length - offset < n) return nullptr;
    if (offset >= windowStart && offset + n <= windowStart + window.size()) return window.data() + (offset - windowStart);
    const std::size_t block =
        ahead == Ahead::Exact ? n : std::max(n, ahead == Ahead::Backward ? BackwardBlock : ForwardBlock);
    std::uint64_t from = offset;
    if (ahead == Ahead::Backward) from = offset + n > block ? offset + n - block : 0;
    const std::size_t size = static_cast<std::size_t>(std::min<std::uint64_t>(block, length - from));
    window.resize(size);
    windowStart = from;
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got = ::pread(fd, window.data() + done, size - done, static_cast<off_t>(from + done));
        if (got > 0) {
            done += static_cast<std::size_t>(got);
            readTotal += static_cast<std::uint64_t>(got);
        } else if (got < 0 && errno == EINTR) {
            continue;
        } else {
            readErrno = got < 0 ? errno : 0;
            break;
        }
    }
    window.resize(done);
    if (offset < windowStart || offset + n > windowStart + window.size()) return nullptr;
    return window.data() + (offset - windowStart);
}

bool RecordReader::next(std::uint64_t offset, Record& out, std::uint64_t& after) {
    const unsigned char* header = fetch(offset, HeaderSize, Ahead::Forward);
    if (!header) return false;
    const std::uint32_t n = decodeHeader(header, out);
    const std::size_t trailer = formatVersion == Version1 ? 0 : TrailerSize;
    if (n > MaxPayload) return false;
    const unsigned char* whole = fetch(offset, HeaderSize + n + trailer, Ahead::Forward);
    if (!whole) return false;
    if (trailer) {
        const unsigned char* t = whole + HeaderSize + n;
        if (getLE(t, 4) != HeaderSize + n || getLE(t + 4, 4) != crc32(whole, HeaderSize + n)) return false;
    }
    out.payload.assign(whole + HeaderSize, whole + HeaderSize + n);
    after = offset + HeaderSize + n + trailer;
    return true;
}

bool RecordReader::previous(std::uint64_t end, Record& out, std::uint64_t& begin) {
    if (formatVersion != Version2 || end < First + HeaderSize + TrailerSize) return false;
    const unsigned char* t = fetch(end - TrailerSize, TrailerSize, Ahead::Backward);
    if (!t) return false;
    const std::uint64_t size = getLE(t, 4), crc = getLE(t + 4, 4);
    if (size < HeaderSize || size - HeaderSize > MaxPayload || end - TrailerSize - First < size) return false;
    const std::uint64_t at = end - TrailerSize - size;
    const unsigned char* whole = fetch(at, static_cast<std::size_t>(size), Ahead::Backward);
    if (!whole || decodeHeader(whole, out) != size - HeaderSize || crc32(whole, size) != crc) return false;
    out.payload.assign(whole + HeaderSize, whole + size);
    begin = at;
    return true;
}

std::uint64_t RecordReader::wholeEnd(std::uint64_t before) {
    Record record;
    std::uint64_t begin = 0;
    for (std::uint64_t end = std::min(before, length); end >= First + HeaderSize + TrailerSize; --end)
        if (previous(end, record, begin)) return end;
    return First;
}

} // namespace ecrlink::comm
