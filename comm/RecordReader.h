// SPDX-License-Identifier: MIT
#pragma once

// Reading the records of a capture file, forward from its start or (version 2)
// backward from its end, a bounded window at a time. Internal to libecrcomm.

#include "CaptureFormat.h"

#include <cstdint>
#include <string>
#include <vector>

namespace ecrlink::comm {

class RecordReader {
public:
    RecordReader() = default;
    ~RecordReader();
    RecordReader(const RecordReader&) = delete;
    RecordReader& operator=(const RecordReader&) = delete;

    /// Opens a capture file. 0; CommOpenFailed when it cannot be read,
    /// CommBadArgument when it is not a capture of a known version; `error`
    /// then says so, naming the file.
    int open(const std::string& path, std::string& error);
    /// Reads through a descriptor that stays the caller's; results as open(),
    /// `name` stands for the file in `error`.
    int attach(int fd, const std::string& name, std::string& error);

    unsigned char version() const { return formatVersion; }
    std::uint64_t size() const { return length; }
    /// Offset of the first record.
    static constexpr std::uint64_t First = MagicSize;

    /// The record at `offset` and the offset after it; false at the end of the
    /// file, on a record cut short or damaged, or when reading failed.
    bool next(std::uint64_t offset, Record& out, std::uint64_t& after);
    /// Version 2: the whole record that ends at `end`, and where it begins.
    bool previous(std::uint64_t end, Record& out, std::uint64_t& begin);
    /// Version 2: the end of the last whole record that ends at or before
    /// `end` (by default the file's end), looking back past a record left torn
    /// by a crash or a stretch a power loss left unwritten; First when none.
    std::uint64_t wholeEnd(std::uint64_t end = ~std::uint64_t(0));

    /// The system's reason when a read failed (empty otherwise).
    std::string readError() const;
    /// Bytes read from the file so far.
    std::uint64_t bytesRead() const { return readTotal; }

private:
    int start(const std::string& name, std::string& error);
    enum class Ahead { Forward, Backward, Exact }; // which way to read beyond what is asked
    const unsigned char* fetch(std::uint64_t offset, std::size_t n, Ahead ahead);

    int fd = -1;
    bool owned = false;
    std::uint64_t length = 0;
    unsigned char formatVersion = 0;
    std::vector<unsigned char> window;
    std::uint64_t windowStart = 0;
    std::uint64_t readTotal = 0;
    int readErrno = 0;
};

} // namespace ecrlink::comm
