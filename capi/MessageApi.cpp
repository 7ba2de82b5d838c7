// SPDX-License-Identifier: MIT
// Tags and messages: thin calls into CTLVTag and CTLVMessage.

#include "Boundary.h"

#include <climits>
#include <memory>
#include <vector>

using namespace ecrlink::capi;

namespace {

// The value of a tag, copied out; only the value's own bytes are written.
unsigned int valueOut(const CTLVTag& tag, unsigned char* buffer, std::size_t size, std::size_t* length) {
    unsigned int n = 0;
    tag.getLength(n);
    if (n == 0) return TLVResult::NoValue;
    if (length) *length = n;
    if (n > size) return ECRLINK_TOO_SMALL_BUFFER;
    if (!buffer) return ECRLINK_INVALID_ARGUMENT;
    unsigned int copied = 0;
    return tag.getValue(buffer, n, copied);
}

unsigned int setBytes(CTLVTag& tag, const unsigned char* data, unsigned int length) {
    static const unsigned char nothing = 0;
    if (!data && length == 0) data = &nothing; // an empty value is a value
    return tag.setValue(data, length);
}

// Adds a new tag that `fill` gives its value; the message takes it only when filled.
template <typename Fill>
unsigned int addNew(ecrlink_message* message, unsigned int number, Fill&& fill) {
    if (!message) return ECRLINK_INVALID_ARGUMENT;
    return guarded([&] {
        std::unique_ptr<CTLVTag> tag(new CTLVTag(number));
        if (const unsigned int rc = fill(*tag)) return rc;
        return asMessage(message)->addTag(tag.release());
    });
}

} // namespace

extern "C" {

unsigned int ecrlink_tag_new(unsigned int number, ecrlink_tag** out) {
    if (!out) return ECRLINK_INVALID_ARGUMENT;
    return guarded([&] {
        *out = handleOf(new CTLVTag(number));
        return ECRLINK_OK;
    });
}

void ecrlink_tag_release(ecrlink_tag* tag) { delete asTag(tag); }

unsigned int ecrlink_tag_number(const ecrlink_tag* tag, unsigned int* number) {
    return tag && number ? asTag(tag)->getType(*number) : ECRLINK_INVALID_ARGUMENT;
}

unsigned int ecrlink_tag_length(const ecrlink_tag* tag, unsigned int* length) {
    return tag && length ? asTag(tag)->getLength(*length) : ECRLINK_INVALID_ARGUMENT;
}

unsigned int ecrlink_tag_set_bytes(ecrlink_tag* tag, const unsigned char* data, unsigned int length) {
    if (!tag) return ECRLINK_INVALID_ARGUMENT;
    return guarded([&] { return setBytes(*asTag(tag), data, length); });
}

unsigned int ecrlink_tag_set_text(ecrlink_tag* tag, const char* text) {
    if (!tag) return ECRLINK_INVALID_ARGUMENT;
    return guarded([&] { return asTag(tag)->setValue(text); });
}

unsigned int ecrlink_tag_set_number(ecrlink_tag* tag, unsigned int number) {
    if (!tag) return ECRLINK_INVALID_ARGUMENT;
    return guarded([&] { return asTag(tag)->setValue(number); });
}

unsigned int ecrlink_tag_clear(ecrlink_tag* tag) {
    if (!tag) return ECRLINK_INVALID_ARGUMENT;
    asTag(tag)->clearValue();
    return ECRLINK_OK;
}

unsigned int ecrlink_tag_copy(ecrlink_tag* tag, const ecrlink_tag* source) {
    if (!tag || !source) return ECRLINK_INVALID_ARGUMENT;
    if (tag == source) return ECRLINK_OK;
    return guarded([&] { return asTag(tag)->copy(*asTag(source)); });
}

unsigned int ecrlink_tag_bytes(const ecrlink_tag* tag, unsigned char* buffer, std::size_t size, std::size_t* length) {
    return tag ? valueOut(*asTag(tag), buffer, size, length) : ECRLINK_INVALID_ARGUMENT;
}

unsigned int ecrlink_tag_number_value(const ecrlink_tag* tag, unsigned int* value) {
    return tag && value ? asTag(tag)->getValue(*value) : ECRLINK_INVALID_ARGUMENT;
}

unsigned int ecrlink_tag_number_value_r(const ecrlink_tag* tag, unsigned int* value) {
    return tag && value ? asTag(tag)->getValueR(*value) : ECRLINK_INVALID_ARGUMENT;
}

unsigned int ecrlink_message_new(ecrlink_message** out) {
    if (!out) return ECRLINK_INVALID_ARGUMENT;
    return guarded([&] {
        *out = handleOf(new CTLVMessage);
        return ECRLINK_OK;
    });
}

void ecrlink_message_release(ecrlink_message* message) { delete asMessage(message); }

unsigned int ecrlink_message_add_tag(ecrlink_message* message, ecrlink_tag* tag) {
    if (!message || !tag) return ECRLINK_INVALID_ARGUMENT;
    return guarded([&] { return asMessage(message)->addTag(asTag(tag)); });
}

unsigned int ecrlink_message_set_bytes(ecrlink_message* message, unsigned int number, const unsigned char* data,
                                       unsigned int length) {
    return addNew(message, number, [&](CTLVTag& tag) { return setBytes(tag, data, length); });
}

unsigned int ecrlink_message_set_text(ecrlink_message* message, unsigned int number, const char* text) {
    return addNew(message, number, [&](CTLVTag& tag) { return tag.setValue(text); });
}

unsigned int ecrlink_message_set_number(ecrlink_message* message, unsigned int number, unsigned int value) {
    return addNew(message, number, [&](CTLVTag& tag) { return tag.setValue(value); });
}

unsigned int ecrlink_message_get_tag(ecrlink_message* message, unsigned int number, ecrlink_tag** out) {
    if (!message || !out) return ECRLINK_INVALID_ARGUMENT;
    CTLVTag* tag = nullptr;
    const unsigned int rc = asMessage(message)->getTag(tag, number);
    if (rc == ECRLINK_OK) *out = handleOf(tag);
    return rc;
}

unsigned int ecrlink_message_get_bytes(ecrlink_message* message, unsigned int number, unsigned char* buffer,
                                       std::size_t size, std::size_t* length) {
    ecrlink_tag* tag = nullptr;
    const unsigned int rc = ecrlink_message_get_tag(message, number, &tag);
    return rc ? rc : valueOut(*asTag(tag), buffer, size, length);
}

unsigned int ecrlink_message_get_number(ecrlink_message* message, unsigned int number, unsigned int* value) {
    if (!message || !value) return ECRLINK_INVALID_ARGUMENT;
    if (number > INT_MAX) return TLVResult::GeneralError; // no tag can be found under a number the call cannot take
    return asMessage(message)->getTagNumValue(static_cast<int>(number), *value);
}

unsigned int ecrlink_message_count(ecrlink_message* message, unsigned int* count) {
    if (!message || !count) return ECRLINK_INVALID_ARGUMENT;
    return guarded([&] {
        std::vector<CTLVTag*> tags;
        asMessage(message)->getAllTags(tags);
        *count = static_cast<unsigned int>(tags.size());
        return ECRLINK_OK;
    });
}

unsigned int ecrlink_message_tag_at(ecrlink_message* message, unsigned int index, ecrlink_tag** out) {
    if (!message || !out) return ECRLINK_INVALID_ARGUMENT;
    return guarded([&] {
        std::vector<CTLVTag*> tags;
        asMessage(message)->getAllTags(tags);
        if (index >= tags.size()) return TLVResult::GeneralError;
        *out = handleOf(tags[index]);
        return ECRLINK_OK;
    });
}

unsigned int ecrlink_message_clear(ecrlink_message* message) {
    if (!message) return ECRLINK_INVALID_ARGUMENT;
    asMessage(message)->clear();
    return ECRLINK_OK;
}

unsigned int ecrlink_message_copy(ecrlink_message* message, ecrlink_message* source) {
    if (!message || !source) return ECRLINK_INVALID_ARGUMENT;
    if (message == source) return ECRLINK_OK;
    return guarded([&] {
        asMessage(message)->copy(*asMessage(source));
        return ECRLINK_OK;
    });
}

unsigned int ecrlink_message_dump(ecrlink_message* message, unsigned char* buffer, std::size_t size,
                                  std::size_t* length) {
    if (!message) return ECRLINK_INVALID_ARGUMENT;
    return guarded([&] {
        unsigned int n = 0;
        if (const unsigned int rc = asMessage(message)->getDumpLength(n)) return rc;
        if (length) *length = n;
        if (n > size) return ECRLINK_TOO_SMALL_BUFFER;
        if (!buffer) return n ? ECRLINK_INVALID_ARGUMENT : ECRLINK_OK;
        return asMessage(message)->buildDump(buffer, n, n);
    });
}

unsigned int ecrlink_message_parse(ecrlink_message* message, const unsigned char* data, unsigned int length) {
    if (!message) return ECRLINK_INVALID_ARGUMENT;
    return guarded([&] { return asMessage(message)->parseDump(data, length); });
}

int ecrlink_message_receipt_complete(const ecrlink_message* message) {
    return message && asMessage(message)->isFileBufferEnd() ? 1 : 0;
}

int ecrlink_message_receipt_present(const ecrlink_message* message) {
    return message && asMessage(message)->IsReceiptPresent() ? 1 : 0;
}

} // extern "C"
