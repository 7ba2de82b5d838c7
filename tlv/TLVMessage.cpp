// SPDX-License-Identifier: MIT
#include "ecrlink/TLVMessage.h"

#include "TLVRecord.h"
#include "TagWalk.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

const char* const aTLVErrors[7] = {
    "General Error.", "Invalid Argument.", "Invalid Operation.", "Too small buffer.",
    "No Value.", "Invalid Sequence.", "Message Format Broken.",
};

namespace {
using ecrlink_detail::RecordHeader;
using ecrlink_detail::appendEntry;
using ecrlink_detail::lastEntry;
using ecrlink_detail::nextEntry;
using ecrlink_detail::prevEntry;
constexpr unsigned int PieceHeader = 8;
constexpr unsigned int FileTagA = 44;
constexpr unsigned int FileTagB = 85;

// Result of AddToBuff.
constexpr unsigned int PieceLast = 0;
constexpr unsigned int PieceMore = 1;
constexpr unsigned int PieceRefused = 2;

// Inline rather than CTLVTag::binToNum, a call through the symbol table.
unsigned int readLE(const unsigned char* at) {
    return ecrlink_detail::getLittleEndian(at);
}

// Checks that the records tile the dump exactly before anything is created,
// so a refused dump leaves no partial message behind. Only `size` - p is ever
// compared, never p + n, so no sum can wrap.
bool recordsFillDump(const unsigned char* data, unsigned int size) {
    unsigned int p = 0;
    for (;;) {
        const unsigned int remaining = size - p;
        // A trailing tag number with no length field after it cannot be told
        // apart from truncation, so it is refused like any short remainder.
        if (remaining < RecordHeader) return false;
        const unsigned int n = readLE(data + p + 4);
        if (n > remaining - RecordHeader) return false;
        if (n == remaining - RecordHeader) return true;
        p += RecordHeader + n;
    }
}
} // namespace

CTLVMessage::CTLVMessage()
    : fileBuffer(new unsigned char[FileBufferCapacity]()), fileBufferLength(0), fileBufferEnd(false) {}

CTLVMessage::~CTLVMessage() {
    clear();
    delete[] fileBuffer;
}

unsigned int CTLVMessage::addTag(CTLVTag* tag) {
    if (tag == nullptr) return TLVResult::InvalidArgument;
    const unsigned int number = tag->type;
    // Dumps list their tags in ascending order: a number above the last one
    // goes at the end without a search.
    if (!tags.empty() && lastEntry(tags)->first < number) {
        std::unique_ptr<CTLVTag> owned(tag);
        appendEntry(tags, number, tag);
        owned.release();
        return TLVResult::Ok;
    }
    auto found = tags.find(number);
    if (found != tags.end()) {
        if (found->second != tag) {
            delete found->second;
            found->second = tag;
        }
        return TLVResult::Ok;
    }
    // The message owns the tag from here on, even if storing it fails.
    std::unique_ptr<CTLVTag> owned(tag);
    tags.emplace(number, tag);
    owned.release();
    return TLVResult::Ok;
}

unsigned int CTLVMessage::getTag(CTLVTag*& out, unsigned int number) {
    const auto found = tags.find(number);
    if (found == tags.end()) return TLVResult::GeneralError;
    out = found->second;
    return TLVResult::Ok;
}

unsigned int CTLVMessage::getTagNumValue(int number, unsigned int& out) {
    CTLVTag* tag = nullptr;
    const unsigned int rc = getTag(tag, static_cast<unsigned int>(number));
    if (rc != TLVResult::Ok) return rc;
    return tag->getValue(out);
}

bool CTLVMessage::findTag(unsigned int number) {
    return tags.find(number) != tags.end();
}

unsigned int CTLVMessage::getAllTags(std::vector<CTLVTag*>& out) {
    out.clear();
    out.reserve(tags.size());
    for (const auto& entry : tags) out.push_back(entry.second);
    return TLVResult::Ok;
}

void CTLVMessage::clear() {
    for (auto& entry : tags) delete entry.second;
    tags.clear();
}

void CTLVMessage::copy(CTLVMessage& source) {
    if (&source == this) return;
    clear();
    for (const auto& entry : source.tags) {
        auto tag = std::make_unique<CTLVTag>(0u);
        tag->copy(*entry.second);
        addTag(tag.release());
    }
}

namespace {
using TagMap = std::map<unsigned int, CTLVTag*>;

// Sums the record lengths into `out` (the sum so far on 205). `lengthOf`
// reads a tag's value length (the message's own lambdas may).
template <class LengthOf>
unsigned int sizeDump(const TagMap& tags, unsigned int& out, LengthOf lengthOf) {
    unsigned int sum = 0; // in a register: `out` may alias what the loop reads
    for (auto it = tags.cbegin(); it != tags.cend(); it = nextEntry(it)) {
        const unsigned int length = lengthOf(*it->second);
        if (length == 0) {
            out = sum;
            return TLVResult::NoValue;
        }
        sum += length + RecordHeader;
    }
    out = sum;
    return TLVResult::Ok;
}

// One record to write, noted while sizing.
struct Noted {
    const unsigned char* value;
    unsigned int type;
    unsigned int length;
};

// Notes the records of a map that is not empty in ascending order and sums
// their lengths into `out`, walking inward from both ends at once: two chains
// of loads that do not wait on each other, where one walk waits at every step.
// `fields` reads a tag. False when a tag has no value, or when the lengths do
// not add up within 32 bits (the caller's checked walk then deals with it).
template <class Fields>
bool listRecords(const TagMap& tags, Noted* list, unsigned int& out, Fields fields) {
    auto lo = tags.cbegin();
    auto hi = lastEntry(tags);
    Noted* up = list;
    Noted* down = list + tags.size();
    std::uint64_t sumLow = 0;
    std::uint64_t sumHigh = 0;
    unsigned int shortest = ~0u;
    for (;;) {
        const Noted low = *up++ = fields(*lo->second);
        sumLow += low.length + std::uint64_t{RecordHeader};
        shortest = std::min(shortest, low.length);
        if (lo == hi) break;
        const Noted high = *--down = fields(*hi->second);
        sumHigh += high.length + std::uint64_t{RecordHeader};
        shortest = std::min(shortest, high.length);
        lo = nextEntry(lo);
        if (lo == hi) break;
        hi = prevEntry(hi);
    }
    const std::uint64_t total = sumLow + sumHigh;
    out = static_cast<unsigned int>(total);
    return shortest != 0 && total == out;
}
} // namespace

unsigned int CTLVMessage::getDumpLength(unsigned int& out) {
    return sizeDump(tags, out, [](const CTLVTag& tag) { return tag.length; });
}

unsigned int CTLVMessage::buildDump(unsigned char* buf, unsigned int size, unsigned int& outLen) {
    if (buf == nullptr) return TLVResult::InvalidArgument;
    // Up to ListRoom records are noted while sizing: writing then reads a list
    // instead of waiting on every step of a second walk, and the noted
    // lengths add up to the total, so every record fits. More are walked twice.
    constexpr std::size_t ListRoom = 128;
    Noted list[ListRoom];
    const auto fields = [](const CTLVTag& tag) { return Noted{tag.value, tag.type, tag.length}; };
    const std::size_t count = tags.size();
    const bool listed = count > 0 && count <= ListRoom && listRecords(tags, list, outLen, fields);
    if (!listed) {
        // Also reports a tag without value, with the sum up to it.
        const unsigned int rc = sizeDump(tags, outLen, [](const CTLVTag& tag) { return tag.length; });
        if (rc != TLVResult::Ok) return rc;
    }
    if (outLen > size) return TLVResult::TooSmallBuffer;
    if (outLen == 0) return TLVResult::Ok; // nothing written, not even zeros
    // Each record is written into exactly its own room, and the rest of the
    // buffer zero-filled once at the end, rather than at every record.
    unsigned char* out = buf;
    if (listed) {
        for (const Noted* record = list; record != list + count; ++record) {
            const Noted r = *record; // the bytes written may alias anything
            ecrlink_detail::writeRecord(out, r.type, r.length, r.value);
            out += r.length + RecordHeader;
        }
    } else {
        unsigned int room = outLen;
        for (auto it = tags.cbegin(); it != tags.cend(); it = nextEntry(it)) {
            const Noted r = fields(*it->second);
            // In 64 bits: a value near 4 GiB must not wrap into "fits".
            if (std::uint64_t{r.length} + RecordHeader > room) return TLVResult::GeneralError;
            ecrlink_detail::writeRecord(out, r.type, r.length, r.value);
            out += r.length + RecordHeader;
            room -= r.length + RecordHeader;
        }
    }
    std::memset(out, 0, size - static_cast<unsigned int>(out - buf));
    return TLVResult::Ok;
}

unsigned int CTLVMessage::parseDump(const unsigned char* data, unsigned int size) {
    if (data == nullptr) return TLVResult::InvalidArgument;
    // The earlier tags go one at a time as the new ones are made, so the
    // allocator hands each freed block straight back from its small
    // per-thread cache instead of spilling them into its slower bins and
    // fetching them from there again. Their map nodes go together at the end
    // (an erase each would rebalance the tree); so does whatever is left.
    struct Retired {
        std::map<unsigned int, CTLVTag*> tags;
        std::map<unsigned int, CTLVTag*>::iterator next;
        // What the destructor does, without two calls through the symbol table.
        static void release(CTLVTag* tag) {
            if (tag == nullptr) return;
            delete[] tag->value;
            ::operator delete(static_cast<void*>(tag));
        }
        void releaseOne() {
            if (next == tags.end()) return;
            release(next->second);
            next = nextEntry(next);
        }
        ~Retired() {
            for (; next != tags.end(); next = nextEntry(next)) release(next->second);
        }
    } retired;
    retired.tags.swap(tags);
    retired.next = retired.tags.begin();
    if (size == 0) return TLVResult::Ok;
    if (!recordsFillDump(data, size)) return TLVResult::InvalidSequence;

    // Tags are made and stored here, not through the exported constructor,
    // setValue and addTag, each a call through the symbol table; a dump lists
    // its tags in ascending order, so each one normally goes to the end.
    const auto store = [this, &retired](unsigned int number, const unsigned char* bytes, unsigned int n) {
        retired.releaseOne();
        std::unique_ptr<CTLVTag> tag(new CTLVTag(number));
        if (n != 0) {
            tag->value = new unsigned char[n];
            tag->length = n;
            ecrlink_detail::copyBytes(tag->value, bytes, n);
        }
        if (tags.empty() || lastEntry(tags)->first < number) {
            appendEntry(tags, number, tag.get());
            tag.release();
        } else {
            addTag(tag.release());
        }
    };
    for (unsigned int p = 0; p < size;) {
        const unsigned int number = readLE(data + p);
        const unsigned int n = readLE(data + p + 4);
        const unsigned char* value = data + p + RecordHeader;
        p += RecordHeader + n;

        if (number != FileTagA && number != FileTagB) {
            store(number, value, n);
            continue;
        }
        const unsigned int piece = AddToBuff(value, n, FileBufferCapacity);
        if (piece == PieceRefused) return TLVResult::TooSmallBuffer;
        if (piece == PieceLast) {
            store(number, fileBuffer, fileBufferLength);
            fileBufferEnd = true;
            // The file tag closes the message: what follows it is not read.
            return TLVResult::Ok;
        }
    }
    return TLVResult::Ok;
}

bool CTLVMessage::isFileTag(int number) {
    return number == static_cast<int>(FileTagA) || number == static_cast<int>(FileTagB);
}

unsigned int CTLVMessage::AddToBuff(const unsigned char* piece, unsigned int len, unsigned int capacity) {
    if (piece == nullptr || len < PieceHeader) return PieceRefused;
    const unsigned int number = readLE(piece);
    const unsigned int count = readLE(piece + 4);
    if (number > count) return PieceRefused;
    if (number == 0 && count == 0) return PieceLast;
    // Never trust a capacity larger than the buffer really is.
    const std::uint64_t limit = std::min(capacity, FileBufferCapacity);
    const unsigned int payload = len - PieceHeader;
    if (std::uint64_t{fileBufferLength} + payload > limit) return PieceRefused;
    std::memcpy(fileBuffer + fileBufferLength, piece + PieceHeader, payload);
    fileBufferLength += payload;
    return number < count ? PieceMore : PieceLast;
}

bool CTLVMessage::isFileBufferEnd() const {
    return fileBufferEnd;
}

bool CTLVMessage::IsReceiptPresent() const {
    return fileBufferLength > 1;
}
