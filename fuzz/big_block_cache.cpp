// SPDX-License-Identifier: MIT
// Linked into every fuzz target. Each message holds a 200 KiB file buffer;
// under ASan every such block is mapped afresh and faults in page by page,
// which took most of the time of an input. Array allocations of that size
// are served from a few blocks kept here instead, with the same checks:
// redzones around the block and the whole block poisoned while it is free,
// so an overflow or a use after release still stops the run. Other sizes,
// and every scalar new and delete, stay with ASan (so a delete that does not
// match its new is still reported). A block kept here is never reported as
// leaked, so the targets count the blocks in use instead.
#include "FuzzCheck.h"

#include <sanitizer/asan_interface.h>

#include <cstdlib>
#include <new>

namespace {

#if __has_feature(address_sanitizer) // the targets are built with clang only
constexpr bool Keep = true;
#else
constexpr bool Keep = false; // without ASan (under valgrind) every block is the system's
#endif
constexpr std::size_t Cached = 204800; // CTLVMessage::FileBufferCapacity
constexpr std::size_t Redzone = 64;
constexpr int Kept = 8;

struct Block {
    unsigned char* base = nullptr;
    bool inUse = false;
};
Block blocks[Kept];
std::size_t lastArray = 0;

unsigned char* payload(const Block& b) { return b.base + Redzone; }

} // namespace

void* operator new[](std::size_t size) {
    if (Keep && size == Cached) {
        for (Block& b : blocks) {
            if (b.inUse) continue;
            if (!b.base) {
                b.base = static_cast<unsigned char*>(std::malloc(Cached + 2 * Redzone));
                if (!b.base) throw std::bad_alloc();
                ASAN_POISON_MEMORY_REGION(b.base, Cached + 2 * Redzone);
            }
            b.inUse = true;
            ASAN_UNPOISON_MEMORY_REGION(payload(b), Cached);
            return payload(b);
        }
    }
    lastArray = size;
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}

void operator delete[](void* p) noexcept {
    for (Block& b : blocks) {
        if (b.inUse && p == payload(b)) {
            ASAN_POISON_MEMORY_REGION(payload(b), Cached);
            b.inUse = false;
            return;
        }
    }
    std::free(p);
}

void operator delete[](void* p, std::size_t) noexcept { operator delete[](p); }

std::size_t bigBlocksInUse() {
    std::size_t n = 0;
    for (const Block& b : blocks) n += b.inUse;
    return n;
}

std::size_t lastArraySize() { return lastArray; }
