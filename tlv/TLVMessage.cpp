// SPDX-License-Identifier: MIT
#include "ecrlink/TLVMessage.h"

#include "TLVRecord.h"
#include "wire/ResultTable.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <memory>

namespace {
using ecrlink::wire::Space;
using ecrlink::wire::textIn;
using namespace TLVResult;
static_assert(ecrlink::wire::allIn({GeneralError, InvalidArgument, InvalidOperation, TooSmallBuffer, NoValue,
                                    InvalidSequence, FormatBroken},
                                   Space::Tlv));
} // namespace

const char* const aTLVErrors[7] = {
    textIn(GeneralError, Space::Tlv), textIn(InvalidArgument, Space::Tlv), textIn(InvalidOperation, Space::Tlv),
    textIn(TooSmallBuffer, Space::Tlv), textIn(NoValue, Space::Tlv), textIn(InvalidSequence, Space::Tlv),
    textIn(FormatBroken, Space::Tlv),
};

namespace {
using ecrlink::tlv::RecordHeader;
using TagMap = std::map<unsigned int, CTLVTag*>;
constexpr unsigned int PieceHeader = 8;
constexpr unsigned int FileTagA = 44;
constexpr unsigned int FileTagB = 85;

// Result of AddToBuff.
constexpr unsigned int PieceLast = 0;
constexpr unsigned int PieceMore = 1;
constexpr unsigned int PieceRefused = 2;

// Inline rather than CTLVTag::binToNum, a call through the symbol table.
unsigned int readLE(const unsigned char* at) {
    return ecrlink::tlv::getLittleEndian(at);
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

// Stores `tag` under `number` (its own); a tag stored under it before is
// destroyed. With the end as hint, a number above all others (a dump lists its
// tags in ascending order) goes there after one comparison; any other is
// searched for once, and nothing is allocated when the number is present.
void putTag(TagMap& tags, unsigned int number, CTLVTag* tag) {
    // The message owns the tag from here on, even if storing it fails.
    std::unique_ptr<CTLVTag> owned(tag);
    const auto at = tags.try_emplace(tags.cend(), number, tag);
    owned.release();
    if (at->second != tag) {
        delete at->second;
        at->second = tag;
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
    putTag(tags, tag->type, tag);
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
// Sums the record lengths into `out` (the sum so far on 205). `lengthOf`
// reads a tag's value length (the message's own lambdas may).
template <class LengthOf>
unsigned int sizeDump(const TagMap& tags, unsigned int& out, LengthOf lengthOf) {
    unsigned int sum = 0; // in a register: `out` may alias what the loop reads
    for (auto it = tags.cbegin(); it != tags.cend(); ++it) {
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

// What is written of a tag: its record's fields.
struct Fields {
    const unsigned char* value;
    unsigned int type;
    unsigned int length;
};

// Room for a dump written in the walk that sizes it (see buildDump): a page,
// more than nearly every message needs.
constexpr std::size_t DraftRoom = 4096;

// Writes the records of a map that is not empty to `draft`, walking it inward
// from both ends at once: the lower records from the draft's front, the upper
// ones back from its end. Every step of a walk is a call into the C++ library;
// two walks that do not wait on each other, with the records written beside
// them, cost less than sizing first and then walking again to write. `fieldsOf`
// reads a tag. Sets the bytes written at the front and at the back; false
// when a tag has no value or the records do not fit the draft.
template <class FieldsOf>
bool draftRecords(const TagMap& tags, unsigned char* draft, std::size_t& front, std::size_t& back, FieldsOf fieldsOf) {
    unsigned char* low = draft;
    unsigned char* high = draft + DraftRoom;
    // Checked before each record, so that neither end passes the other.
    const auto fits = [&low, &high](unsigned int length) {
        return length != 0 && std::size_t{length} + RecordHeader <= static_cast<std::size_t>(high - low);
    };
    auto lo = tags.cbegin();
    auto hi = std::prev(tags.cend());
    for (;;) {
        const Fields first = fieldsOf(*lo->second);
        if (!fits(first.length)) return false;
        ecrlink::tlv::writeRecord(low, first.type, first.length, first.value);
        low += first.length + RecordHeader;
        if (lo == hi) break;
        const Fields last = fieldsOf(*hi->second);
        if (!fits(last.length)) return false;
        high -= last.length + RecordHeader;
        ecrlink::tlv::writeRecord(high, last.type, last.length, last.value);
        if (++lo == hi) break;
        --hi;
    }
    front = static_cast<std::size_t>(low - draft);
    back = static_cast<std::size_t>(draft + DraftRoom - high);
    return true;
}
} // namespace

unsigned int CTLVMessage::getDumpLength(unsigned int& out) {
    return sizeDump(tags, out, [](const CTLVTag& tag) { return tag.length; });
}

unsigned int CTLVMessage::buildDump(unsigned char* buf, unsigned int size, unsigned int& outLen) {
    if (buf == nullptr) return TLVResult::InvalidArgument;
    // A dump that fits the draft is written there by the walk that sizes it,
    // and copied out once it is known to fit: `buf` is written only when the
    // whole dump goes in.
    const auto fieldsOf = [](const CTLVTag& tag) { return Fields{tag.value, tag.type, tag.length}; };
    // The draft stands half a page away from `buf`, modulo the page size: a
    // copy between addresses a multiple of 4 KiB apart stalls on the
    // processor's check of loads against earlier stores, and where the stack
    // falls against the heap is chance (the same process ran at 8x or at 15x
    // its floor).
    alignas(64) unsigned char space[DraftRoom + 4096];
    const std::uintptr_t apart = reinterpret_cast<std::uintptr_t>(buf) + 2048 - reinterpret_cast<std::uintptr_t>(space);
    unsigned char* const draft = space + (apart & 4095 & ~std::uintptr_t{63});
    std::size_t front = 0;
    std::size_t back = 0;
    if (!tags.empty() && draftRecords(tags, draft, front, back, fieldsOf)) {
        outLen = static_cast<unsigned int>(front + back);
        if (outLen > size) return TLVResult::TooSmallBuffer;
        std::memcpy(buf, draft, front);
        std::memcpy(buf + front, draft + DraftRoom - back, back);
        std::memset(buf + outLen, 0, size - outLen);
        return TLVResult::Ok;
    }
    // A larger dump, or one with a tag without value, is sized first (which
    // also reports that tag, with the sum up to it) and then written.
    const unsigned int rc = sizeDump(tags, outLen, [](const CTLVTag& tag) { return tag.length; });
    if (rc != TLVResult::Ok) return rc;
    if (outLen > size) return TLVResult::TooSmallBuffer;
    if (outLen == 0) return TLVResult::Ok; // nothing written, not even zeros
    // Each record is written into exactly its own room, and the rest of the
    // buffer zero-filled once at the end, rather than at every record.
    unsigned char* out = buf;
    unsigned int room = outLen;
    for (auto it = tags.cbegin(); it != tags.cend(); ++it) {
        const Fields r = fieldsOf(*it->second);
        // In 64 bits: a value near 4 GiB must not wrap into "fits".
        if (std::uint64_t{r.length} + RecordHeader > room) return TLVResult::GeneralError;
        ecrlink::tlv::writeRecord(out, r.type, r.length, r.value);
        out += r.length + RecordHeader;
        room -= r.length + RecordHeader;
    }
    std::memset(out, 0, size - static_cast<unsigned int>(out - buf));
    return TLVResult::Ok;
}

// Flattened: the map's insertion runs inside the loop, not as calls per tag.
__attribute__((flatten)) unsigned int CTLVMessage::parseDump(const unsigned char* data, unsigned int size) {
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
            ++next;
        }
        ~Retired() {
            for (; next != tags.end(); ++next) release(next->second);
        }
    } retired;
    retired.tags.swap(tags);
    retired.next = retired.tags.begin();
    if (size == 0) return TLVResult::Ok;
    if (!recordsFillDump(data, size)) return TLVResult::InvalidSequence;

    // Tags are made and stored here, not through the exported constructor,
    // setValue and addTag, each a call through the symbol table.
    const auto store = [this, &retired](unsigned int number, const unsigned char* bytes, unsigned int n) {
        retired.releaseOne();
        std::unique_ptr<CTLVTag> tag(new CTLVTag(number));
        if (n != 0) {
            tag->value = new unsigned char[n];
            tag->length = n;
            ecrlink::tlv::copyBytes(tag->value, bytes, n);
        }
        putTag(tags, number, tag.release());
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
