// SPDX-License-Identifier: MIT
#include "ecrlink/TLVTag.h"
#include "ecrlink/TLVMessage.h"

#include "TLVRecord.h"

#include <cstdint>
#include <cstring>

using ecrlink::tlv::RecordHeader;

CTLVTag::CTLVTag(unsigned int type) : type(type), length(0), value(nullptr) {}

CTLVTag::CTLVTag(unsigned int type, const unsigned char* data, unsigned int len) : CTLVTag(type) {
    setValue(data, len);
}

CTLVTag::CTLVTag(unsigned int type, const char* text) : CTLVTag(type) {
    setValue(text);
}

CTLVTag::CTLVTag(unsigned int type, unsigned int number) : CTLVTag(type) {
    setValue(number);
}

CTLVTag::~CTLVTag() {
    type = 0;
    length = 0;
    clearValue();
}

unsigned int CTLVTag::setValue(const unsigned char* data, unsigned int len) {
    if (data == nullptr) return TLVResult::InvalidArgument;
    clearValue();
    // Every byte is copied over at once, so the array is not zero-filled first.
    value = new unsigned char[len];
    length = len;
    if (len != 0) std::memcpy(value, data, len);
    return TLVResult::Ok;
}

unsigned int CTLVTag::setValue(const char* text) {
    if (text == nullptr) return TLVResult::InvalidArgument;
    return setValue(reinterpret_cast<const unsigned char*>(text), static_cast<unsigned int>(std::strlen(text)));
}

unsigned int CTLVTag::setValue(unsigned int number) {
    allocValue(4);
    numToBin(value, number);
    return TLVResult::Ok;
}

void CTLVTag::allocValue(unsigned int size) {
    clearValue();
    // Length is set only once the array exists, so a failed allocation leaves
    // an empty tag rather than one claiming bytes it does not have.
    value = new unsigned char[size]();
    length = size;
}

void CTLVTag::clearValue() {
    delete[] value;
    value = nullptr;
    length = 0;
}

unsigned int CTLVTag::copy(const CTLVTag& source) {
    if (&source == this) return value == nullptr ? TLVResult::InvalidArgument : TLVResult::Ok;
    clearValue();
    type = source.type;
    if (source.value == nullptr) {
        // The copy still ends up with an (empty) array of its own.
        allocValue(0);
        return TLVResult::InvalidArgument;
    }
    return setValue(source.value, source.length);
}

unsigned int CTLVTag::getType(unsigned int& out) const {
    out = type;
    return TLVResult::Ok;
}

unsigned int CTLVTag::getLength(unsigned int& out) const {
    out = length;
    return TLVResult::Ok;
}

unsigned int CTLVTag::getValue(char* buf, unsigned int size) const {
    unsigned int ignored = 0;
    return getValue(reinterpret_cast<unsigned char*>(buf), size, ignored);
}

unsigned int CTLVTag::getValue(unsigned char* buf, unsigned int size, unsigned int& outLen) const {
    if (length == 0) return TLVResult::NoValue;
    if (length > size) return TLVResult::TooSmallBuffer;
    if (buf == nullptr) return TLVResult::InvalidArgument;
    std::memset(buf, 0, size);
    std::memcpy(buf, value, length);
    outLen = length;
    return TLVResult::Ok;
}

unsigned int CTLVTag::getValue(unsigned int& out) const {
    if (length == 0) return TLVResult::NoValue;
    if (length != 4) return TLVResult::InvalidOperation;
    binToNum(value, out);
    return TLVResult::Ok;
}

unsigned int CTLVTag::getValueR(unsigned int& out) const {
    if (length == 0) return TLVResult::NoValue;
    if (length != 4) return TLVResult::InvalidOperation;
    binToNumR(value, out);
    return TLVResult::Ok;
}

unsigned int CTLVTag::getBinLength(unsigned int& out) const {
    if (length == 0) return TLVResult::NoValue;
    out = length + RecordHeader;
    return TLVResult::Ok;
}

unsigned int CTLVTag::getBinData(unsigned char* buf, unsigned int size, unsigned int& outLen) const {
    const unsigned int rc = getBinLength(outLen);
    if (rc != TLVResult::Ok) return rc;
    // Compared in 64 bits: a value within 8 bytes of 4 GiB must not wrap into "fits".
    if (std::uint64_t{length} + RecordHeader > size) return TLVResult::TooSmallBuffer;
    if (buf == nullptr) return TLVResult::InvalidArgument;
    // Zeros only where the record does not write: the same bytes in the end.
    ecrlink::tlv::writeRecord(buf, type, length, value);
    std::memset(buf + outLen, 0, size - outLen);
    return TLVResult::Ok;
}

void CTLVTag::numToBin(unsigned char* out, unsigned int n) {
    if (out == nullptr) return;
    ecrlink::tlv::putBigEndian(out, n);
}

void CTLVTag::binToNum(const unsigned char* in, unsigned int& n) {
    if (in == nullptr) return;
    n = ecrlink::tlv::getLittleEndian(in);
}

void CTLVTag::binToNumR(const unsigned char* in, unsigned int& n) {
    if (in == nullptr) return;
    n = ecrlink::wire::getBigEndian(in);
}
