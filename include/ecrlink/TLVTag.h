// SPDX-License-Identifier: MIT
#pragma once

#include "ecrlink/Export.h"

/// One tagged value of a message: a 32-bit tag number and a value held as raw
/// bytes. Results are the TLV result codes of TLVMessage.h (0 for success).
/// No operation blocks or locks: one thread uses a tag at a time.
class ECRLINK_API CTLVTag {
public:
    /// Empty tag with the given number.
    explicit CTLVTag(unsigned int type);
    /// Tag holding a copy of `len` bytes; empty when `data` is null.
    CTLVTag(unsigned int type, const unsigned char* data, unsigned int len);
    /// Tag holding a text (without its terminator); empty when `text` is null.
    CTLVTag(unsigned int type, const char* text);
    /// Tag holding a number as 4 bytes, most significant first.
    CTLVTag(unsigned int type, unsigned int number);
    ~CTLVTag();

    CTLVTag(const CTLVTag&) = delete;
    CTLVTag& operator=(const CTLVTag&) = delete;

    /// Replaces the value by `len` bytes; 202 (tag unchanged) when `data` is null.
    unsigned int setValue(const unsigned char* data, unsigned int len);
    /// Replaces the value by a zero-terminated text; 202 when `text` is null.
    unsigned int setValue(const char* text);
    /// Replaces the value by a number, 4 bytes most significant first; always 0.
    unsigned int setValue(unsigned int number);
    /// Replaces the value by `size` zero bytes.
    void allocValue(unsigned int size);
    /// Releases the value; the tag number stays.
    void clearValue();
    /// Copies number and value of `source`; 202 when `source` has no value array.
    unsigned int copy(const CTLVTag& source);

    /// Tag number; always 0.
    unsigned int getType(unsigned int& out) const;
    /// Value length in bytes; always 0.
    unsigned int getLength(unsigned int& out) const;
    /// Copies the value into `buf`, zero-filled first; 205 when empty, 204 when
    /// longer than `size` (buffer untouched). Zero-terminated only if shorter.
    unsigned int getValue(char* buf, unsigned int size) const;
    /// As above, and stores the value length in `outLen` on success.
    unsigned int getValue(unsigned char* buf, unsigned int size, unsigned int& outLen) const;
    /// Reads a 4-byte value least significant byte first; 205 empty, 203 not 4 bytes.
    unsigned int getValue(unsigned int& out) const;
    /// Reads a 4-byte value most significant byte first; 205 empty, 203 not 4 bytes.
    unsigned int getValueR(unsigned int& out) const;
    /// Length of the tag record (value length + 8); 205 when empty.
    unsigned int getBinLength(unsigned int& out) const;
    /// Writes the tag record (number, length, both most significant byte first,
    /// then the value) after zero-filling all `size` bytes; 205 when empty, 204
    /// when it does not fit. `outLen` gets the record length whenever the tag has a value.
    unsigned int getBinData(unsigned char* buf, unsigned int size, unsigned int& outLen) const;

    /// Writes `n` into 4 bytes, most significant byte first.
    static void numToBin(unsigned char* out, unsigned int n);
    /// Reads 4 bytes, least significant byte first.
    static void binToNum(const unsigned char* in, unsigned int& n);
    /// Reads 4 bytes, most significant byte first.
    static void binToNumR(const unsigned char* in, unsigned int& n);

private:
    // The message writes its dump straight from the fields.
    friend class CTLVMessage;

    unsigned int type;
    unsigned int length;
    unsigned char* value;
};
