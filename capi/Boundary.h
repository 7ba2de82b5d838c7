// SPDX-License-Identifier: MIT
#pragma once

// What every function of the C API does at its edge: no exception leaves it,
// handles map onto the library's objects, bytes are copied out one way.

#include "ecrlink/TLVMessage.h"
#include "ecrlink/ecrlink.h"

#include <cstring>
#include <new>

namespace ecrlink::capi {

template <typename Body>
unsigned int guarded(Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return ECRLINK_OUT_OF_MEMORY;
    } catch (...) {
        return ECRLINK_FAILURE;
    }
}

// Message and tag handles are the library's objects themselves.
inline CTLVMessage* asMessage(ecrlink_message* m) { return reinterpret_cast<CTLVMessage*>(m); }
inline const CTLVMessage* asMessage(const ecrlink_message* m) { return reinterpret_cast<const CTLVMessage*>(m); }
inline ecrlink_message* handleOf(CTLVMessage* m) { return reinterpret_cast<ecrlink_message*>(m); }
inline CTLVTag* asTag(ecrlink_tag* t) { return reinterpret_cast<CTLVTag*>(t); }
inline const CTLVTag* asTag(const ecrlink_tag* t) { return reinterpret_cast<const CTLVTag*>(t); }
inline ecrlink_tag* handleOf(CTLVTag* t) { return reinterpret_cast<ecrlink_tag*>(t); }

// Copies `count` bytes out, plus a terminating zero when `text`; 204 leaves the buffer untouched.
inline unsigned int copyOut(const void* data, std::size_t count, void* buffer, std::size_t size, std::size_t* length,
                            bool text = false) {
    if (length) *length = count;
    if (count + (text ? 1 : 0) > size) return ECRLINK_TOO_SMALL_BUFFER;
    if (!buffer) return ECRLINK_INVALID_ARGUMENT;
    if (count) std::memcpy(buffer, data, count);
    if (text) static_cast<char*>(buffer)[count] = '\0';
    return ECRLINK_OK;
}

} // namespace ecrlink::capi
