#pragma once

// The frame's check byte: the exclusive-or of the data bytes, start value 0.

#include <cstdint>
#include <cstring>

namespace ecrlink_detail {

typedef std::uint64_t Block16 __attribute__((vector_size(16)));
typedef std::uint64_t Block32 __attribute__((vector_size(32)));

/// Exclusive-or of `length` bytes, a Block at a time in four lanes so that
/// the loads do not wait on each other.
template <class Block>
__attribute__((always_inline)) inline unsigned char xorBlocks(const unsigned char* data, unsigned int length) {
    Block blocks = {}, more[3] = {};
    unsigned int i = 0;
    for (; i + 4 * sizeof(Block) <= length; i += 4 * sizeof(Block)) {
        // One load per lane, each straight into a register.
        Block b0, b1, b2, b3;
        std::memcpy(&b0, data + i, sizeof b0);
        std::memcpy(&b1, data + i + sizeof(Block), sizeof b1);
        std::memcpy(&b2, data + i + 2 * sizeof(Block), sizeof b2);
        std::memcpy(&b3, data + i + 3 * sizeof(Block), sizeof b3);
        blocks ^= b0;
        more[0] ^= b1;
        more[1] ^= b2;
        more[2] ^= b3;
    }
    blocks ^= more[0] ^ more[1] ^ more[2];
    for (; i + sizeof(Block) <= length; i += sizeof(Block)) {
        Block b;
        std::memcpy(&b, data + i, sizeof b);
        blocks ^= b;
    }
    std::uint64_t word = 0;
    for (unsigned int lane = 0; lane < sizeof(Block) / 8; ++lane) word ^= blocks[lane];
    for (int shift = 32; shift >= 8; shift /= 2) word ^= word >> shift;
    auto check = static_cast<unsigned char>(word);
    for (; i < length; ++i) check ^= data[i];
    return check;
}

/// The check byte of `length` bytes at `data`; 32 bytes a step where the
/// processor has AVX2, else 16.
unsigned char checkByteOf(const unsigned char* data, unsigned int length);

} // namespace ecrlink_detail
