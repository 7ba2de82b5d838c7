// SPDX-License-Identifier: MIT
#include "wire/CheckByte.h"

namespace ecrlink::wire {

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
namespace {

const bool haveAvx2 = [] {
    __builtin_cpu_init(); // may run before the feature table's own initialiser
    return __builtin_cpu_supports("avx2") != 0;
}();

__attribute__((target("avx2"))) unsigned char checkByteAvx2(const unsigned char* data, unsigned int length) {
    return xorBlocks<Block32>(data, length);
}

} // namespace

unsigned char checkByteOf(const unsigned char* data, unsigned int length) {
    return haveAvx2 ? checkByteAvx2(data, length) : xorBlocks<Block16>(data, length);
}
#else
unsigned char checkByteOf(const unsigned char* data, unsigned int length) {
    return xorBlocks<Block16>(data, length);
}
#endif

} // namespace ecrlink::wire
