#include "ecrlink/TLVMessage.h"

#include "TLVRecord.h"
#include "TagWalk.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <memory>

const char* const aTLVErrors[7] = {
    "General Error.", "Invalid Argument.", "Invalid Operation.", "Too small buffer.",
    "No Value.", "Invalid Sequence.", "Message Format Broken.",
};

namespace {
using ecrlink_detail::RecordHeader;
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
        tags.emplace_hint(tags.end(), number, tag);
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
// One record to write, noted while sizing.
struct Noted {
    const unsigned char* value;
    unsigned int type;
    unsigned int length;
};

// Sums the record lengths into `out` (the sum so far on 205) and notes the
// first `room` records in `noted`, so that writing need not walk the map
// again: each step of a map walk waits for the load before it, a list does not.
template <class Fields>
unsigned int sizeDump(const std::map<unsigned int, CTLVTag*>& tags, unsigned int& out, Noted* noted, unsigned int room,
                      Fields fields) {
    out = 0;
    unsigned int i = 0;
    for (auto it = tags.cbegin(); it != tags.cend(); it = nextEntry(it)) {
        const Noted record = fields(*it->second);
        if (record.length == 0) return TLVResult::NoValue;
        out += record.length + RecordHeader;
        if (i < room) noted[i++] = record;
    }
    return TLVResult::Ok;
}

// As sizeDump for all of a map of at most `room` tags, walking in from both
// ends at once: two chains of loads that do not wait on each other. A tag
// without value is left to sizeDump, which reports the sum up to it.
template <class Fields>
unsigned int listDump(const std::map<unsigned int, CTLVTag*>& tags, unsigned int& out, Noted* noted, Fields fields) {
    out = 0;
    if (tags.empty()) return TLVResult::Ok;
    auto front = tags.cbegin();
    auto back = lastEntry(tags);
    std::size_t i = 0;
    std::size_t j = tags.size() - 1;
    unsigned int sumFront = 0;
    unsigned int sumBack = 0;
    bool noValue = false;
    for (; i < j; ++i, --j) {
        noted[i] = fields(*front->second);
        noted[j] = fields(*back->second);
        sumFront += noted[i].length + RecordHeader;
        sumBack += noted[j].length + RecordHeader;
        noValue |= (noted[i].length == 0) | (noted[j].length == 0);
        front = nextEntry(front);
        back = prevEntry(back);
    }
    if (i == j) {
        noted[i] = fields(*front->second);
        sumFront += noted[i].length + RecordHeader;
        noValue |= noted[i].length == 0;
    }
    if (noValue) return sizeDump(tags, out, nullptr, 0, fields);
    out = sumFront + sumBack; // the same 32-bit sum in any order
    return TLVResult::Ok;
}
} // namespace

unsigned int CTLVMessage::getDumpLength(unsigned int& out) {
    return sizeDump(tags, out, nullptr, 0, [](const CTLVTag& tag) { return Noted{nullptr, 0, tag.length}; });
}

unsigned int CTLVMessage::buildDump(unsigned char* buf, unsigned int size, unsigned int& outLen) {
    if (buf == nullptr) return TLVResult::InvalidArgument;
    constexpr unsigned int Room = 128;
    Noted noted[Room];
    const auto fields = [](const CTLVTag& tag) { return Noted{tag.value, tag.type, tag.length}; };
    const unsigned int rc =
        tags.size() <= Room ? listDump(tags, outLen, noted, fields) : sizeDump(tags, outLen, noted, Room, fields);
    if (rc != TLVResult::Ok) return rc;
    if (outLen > size) return TLVResult::TooSmallBuffer;
    if (outLen == 0) return TLVResult::Ok; // nothing written, not even zeros
    // Each record is written into exactly its own room, and the rest of the
    // buffer zero-filled once at the end, rather than at every record.
    const unsigned int total = outLen;
    unsigned int written = 0;
    const auto put = [&](const Noted& record) {
        // In 64 bits: a value near 4 GiB must not wrap into "fits".
        if (std::uint64_t{record.length} + RecordHeader > total - written) return false;
        ecrlink_detail::writeRecord(buf + written, record.type, record.length, record.value);
        written += record.length + RecordHeader;
        return true;
    };
    const unsigned int count = static_cast<unsigned int>(std::min<std::size_t>(tags.size(), Room));
    for (unsigned int i = 0; i < count; ++i)
        if (!put(noted[i])) return TLVResult::GeneralError;
    if (tags.size() > Room) {
        auto it = tags.cbegin();
        std::advance(it, Room);
        for (; it != tags.cend(); it = nextEntry(it))
            if (!put(fields(*it->second))) return TLVResult::GeneralError;
    }
    std::memset(buf + written, 0, size - written);
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
        void releaseOne() {
            if (next == tags.end()) return;
            delete next->second;
            next = nextEntry(next);
        }
        ~Retired() {
            for (; next != tags.end(); next = nextEntry(next)) delete next->second;
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
            tags.emplace_hint(tags.end(), number, tag.get());
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
