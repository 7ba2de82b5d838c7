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
using ecrlink_detail::appendEntry;
using ecrlink_detail::lastEntry;
using ecrlink_detail::middleEntry;
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

// Walks the entries from `lo` to `hi` (not before `lo`) inward from both
// ends, one entry from each end per step; the low ones are noted upwards from
// `up`, the high ones downwards before `down`.
struct Pincer {
    std::map<unsigned int, CTLVTag*>::const_iterator lo, hi;
    Noted* up;
    Noted* down;
    bool active;

    template <class Fields>
    void step(Fields fields, unsigned int& sum, bool& noValue) {
        const auto take = [&](Noted* at, const CTLVTag& tag) {
            *at = fields(tag);
            sum += at->length + RecordHeader;
            noValue |= at->length == 0;
        };
        take(up++, *lo->second);
        if (lo == hi) {
            active = false;
            return;
        }
        take(--down, *hi->second);
        lo = nextEntry(lo);
        if (lo == hi) active = false;
        else hi = prevEntry(hi);
    }
};

// As sizeDump for all of a map of at most `room` tags, noted in 2 x `room`
// places as three runs (returned in `runs`, each a begin and an end). The map
// is walked as four chains of loads that do not wait on each other: up to the
// root and down to it, up from beyond it and down to that. A tag without value
// is left to sizeDump, which reports the sum up to it.
template <class Fields>
unsigned int listDump(const std::map<unsigned int, CTLVTag*>& tags, unsigned int& out, Noted* noted,
                      unsigned int room, const Noted* (&runs)[6], Fields fields) {
    out = 0;
    for (auto& run : runs) run = noted;
    if (tags.empty()) return TLVResult::Ok;
    const auto middle = middleEntry(tags);
    const auto last = lastEntry(tags);
    Pincer low{tags.cbegin(), middle, noted, noted + room, true};
    Pincer high{middle, last, noted + room, noted + 2 * room, middle != last};
    if (high.active) high.lo = nextEntry(middle);
    unsigned int sumLow = 0;
    unsigned int sumHigh = 0;
    bool noValue = false;
    while (low.active && high.active) {
        low.step(fields, sumLow, noValue);
        high.step(fields, sumHigh, noValue);
    }
    while (low.active) low.step(fields, sumLow, noValue);
    while (high.active) high.step(fields, sumHigh, noValue);
    if (noValue) return sizeDump(tags, out, nullptr, 0, fields);
    out = sumLow + sumHigh; // the same 32-bit sum in any order
    const Noted* const found[6] = {noted, low.up, low.down, high.up, high.down, noted + 2 * room};
    std::copy(std::begin(found), std::end(found), runs);
    return TLVResult::Ok;
}
} // namespace

unsigned int CTLVMessage::getDumpLength(unsigned int& out) {
    return sizeDump(tags, out, nullptr, 0, [](const CTLVTag& tag) { return Noted{nullptr, 0, tag.length}; });
}

unsigned int CTLVMessage::buildDump(unsigned char* buf, unsigned int size, unsigned int& outLen) {
    if (buf == nullptr) return TLVResult::InvalidArgument;
    constexpr unsigned int Room = 128;
    Noted noted[2 * Room];
    const Noted* runs[6] = {};
    // Up to this many tags a sizing walk and a writing walk are quickest:
    // noting the records first pays off where the walk's chain of loads is long.
    constexpr std::size_t FewTags = 16;
    const auto fields = [](const CTLVTag& tag) { return Noted{tag.value, tag.type, tag.length}; };
    const bool few = tags.size() <= FewTags;
    const bool listed = !few && tags.size() <= Room;
    const unsigned int rc = few      ? sizeDump(tags, outLen, nullptr, 0, fields)
                            : listed ? listDump(tags, outLen, noted, Room, runs, fields)
                                     : sizeDump(tags, outLen, noted, Room, fields);
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
    if (few) {
        for (auto it = tags.cbegin(); it != tags.cend(); it = nextEntry(it))
            if (!put(fields(*it->second))) return TLVResult::GeneralError;
    } else if (listed) {
        for (int run = 0; run < 6; run += 2)
            for (const Noted* record = runs[run]; record != runs[run + 1]; ++record)
                if (!put(*record)) return TLVResult::GeneralError;
    } else {
        for (unsigned int i = 0; i < Room; ++i)
            if (!put(noted[i])) return TLVResult::GeneralError;
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
        // What the destructor does, without two calls through the symbol table.
        static void release(CTLVTag* tag) {
            if (tag == nullptr) return;
            delete[] tag->value;
            ::operator delete(tag, sizeof(CTLVTag));
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
