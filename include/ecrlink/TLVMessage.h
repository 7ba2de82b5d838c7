// SPDX-License-Identifier: MIT
#pragma once

#include "ecrlink/Export.h"
#include "ecrlink/TLVTag.h"

#include <map>
#include <vector>

/// Texts of the TLV result codes 201 to 207; the text of code c is aTLVErrors[c - 201].
extern ECRLINK_API const char* const aTLVErrors[7];

/// TLV result codes.
namespace TLVResult {
constexpr unsigned int Ok = 0;
constexpr unsigned int GeneralError = 201;     ///< no such tag
constexpr unsigned int InvalidArgument = 202;  ///< null pointer argument
constexpr unsigned int InvalidOperation = 203; ///< number read from a value that is not 4 bytes
constexpr unsigned int TooSmallBuffer = 204;   ///< destination too small, or file piece refused
constexpr unsigned int NoValue = 205;          ///< tag without value
constexpr unsigned int InvalidSequence = 206;  ///< records do not fill the dump exactly
constexpr unsigned int FormatBroken = 207;     ///< defined for applications; never returned
} // namespace TLVResult

/// A message: tags kept in ascending order of tag number, at most one per number,
/// owned by the message; plus the file buffer that collects receipt pieces.
/// No operation blocks or locks: one thread uses a message at a time; different
/// messages may be used on different threads.
class ECRLINK_API CTLVMessage {
public:
    /// Capacity of the file buffer in bytes.
    static constexpr unsigned int FileBufferCapacity = 204800;

    CTLVMessage();
    ~CTLVMessage();

    CTLVMessage(const CTLVMessage&) = delete;
    CTLVMessage& operator=(const CTLVMessage&) = delete;

    /// Takes ownership of `tag` (created with new). A tag of the same number is
    /// destroyed at once, so pointers to it become invalid; 202 when null.
    unsigned int addTag(CTLVTag* tag);
    /// Sets `out` to the tag with `number` (still owned by the message); 201 if absent.
    unsigned int getTag(CTLVTag*& out, unsigned int number);
    /// Reads the tag's 4-byte value least significant byte first; 201 if absent.
    unsigned int getTagNumValue(int number, unsigned int& out);
    /// True when a tag with `number` is present.
    bool findTag(unsigned int number);
    /// Replaces `out` by the tag pointers in ascending order; always 0.
    unsigned int getAllTags(std::vector<CTLVTag*>& out);
    /// Destroys every tag; the file buffer is kept.
    void clear();
    /// Replaces the tags by copies of the tags of `source`; the file buffer is not copied.
    void copy(CTLVMessage& source);

    /// Size of the outgoing dump; 205 when a tag has no value.
    unsigned int getDumpLength(unsigned int& out);
    /// Writes the outgoing dump (headers most significant byte first); the rest
    /// of `buf` is zero-filled. 202 null buffer, 205 tag without value, 204 too
    /// small (`outLen` then holds the size needed).
    unsigned int buildDump(unsigned char* buf, unsigned int size, unsigned int& outLen);
    /// Replaces the tags by those of an incoming dump (headers least significant
    /// byte first). File-tag pieces are collected in the file buffer. 202 null
    /// data, 206 records not filling the dump, 204 file piece refused.
    unsigned int parseDump(const unsigned char* data, unsigned int size);

    /// True for the file tags 44 and 85.
    static bool isFileTag(int number);
    /// Appends one file-tag piece (8-byte header: piece number, piece count,
    /// least significant byte first). Returns 0 last piece, 1 more to come, 2 refused.
    unsigned int AddToBuff(const unsigned char* piece, unsigned int len, unsigned int capacity);
    /// True once the last piece of a file tag has been received.
    bool isFileBufferEnd() const;
    /// True when more than one byte has been collected in the file buffer.
    bool IsReceiptPresent() const;

private:
    unsigned char* fileBuffer;
    unsigned int fileBufferLength;
    std::map<unsigned int, CTLVTag*> tags;
    bool fileBufferEnd;
};
