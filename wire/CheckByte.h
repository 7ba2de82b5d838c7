// SPDX-License-Identifier: MIT
#pragma once

// The frame's check byte: the exclusive-or of the data bytes, start value 0.

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace ecrlink::wire {

typedef std::uint64_t Block16 __attribute__((vector_size(16)));
typedef std::uint64_t Block32 __attribute__((vector_size(32)));

/// Folds the Block at `at` into `lane`: one load, straight into a register.
template <class Block>
__attribute__((always_inline)) inline void fold(Block& lane, const unsigned char* at) {
    Block b;
    std::memcpy(&b, at, sizeof b);
    lane ^= b;
}

/// Exclusive-or of `length` bytes, a Block at a time in eight lanes so that
/// the loads do not wait on each other and the loop runs a quarter as often.
template <class Block>
__attribute__((always_inline)) inline unsigned char xorBlocks(const unsigned char* data, unsigned int length) {
    constexpr std::ptrdiff_t B = sizeof(Block);
    Block l0 = {}, l1 = {}, l2 = {}, l3 = {}, l4 = {}, l5 = {}, l6 = {}, l7 = {};
    const unsigned char* at = data;
    const unsigned char* const end = data + length;
    for (; end - at >= 8 * B; at += 8 * B) {
        fold(l0, at);
        fold(l1, at + B);
        fold(l2, at + 2 * B);
        fold(l3, at + 3 * B);
        fold(l4, at + 4 * B);
        fold(l5, at + 5 * B);
        fold(l6, at + 6 * B);
        fold(l7, at + 7 * B);
    }
    l0 ^= l1 ^ l2 ^ l3 ^ l4 ^ l5 ^ l6 ^ l7;
    for (; end - at >= B; at += B) fold(l0, at);
    std::uint64_t word = 0;
    for (std::size_t k = 0; k < sizeof(Block) / 8; ++k) word ^= l0[k];
    for (int shift = 32; shift >= 8; shift /= 2) word ^= word >> shift;
    auto check = static_cast<unsigned char>(word);
    for (; at < end; ++at) check ^= *at;
    return check;
}

/// The check byte of `length` bytes at `data`; 32 bytes a step where the
/// processor has AVX2, else 16.
unsigned char checkByteOf(const unsigned char* data, unsigned int length);

} // namespace ecrlink::wire
