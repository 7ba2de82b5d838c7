// SPDX-License-Identifier: MIT
#include "wire/ResultTable.h"

namespace ecrlink::wire {

namespace {
constexpr bool codesUnique() {
    for (const Result& a : Results)
        if (findResult(a.code) != &a) return false;
    return true;
}
static_assert(codesUnique(), "a code stands twice in the result table");
} // namespace

const char* libraryText(unsigned int code) {
    const Result* r = findResult(code);
    return r && r->space != Space::CApi ? r->text : UnknownResult;
}

const char* channelText(int code) {
    const Result* r = code < 0 ? nullptr : findResult(static_cast<unsigned int>(code));
    return r && (r->space == Space::Channel || r->space == Space::Journal) ? r->text : UnknownChannelResult;
}

const char* anyText(unsigned int code) {
    const Result* r = findResult(code);
    return r ? r->text : UnknownResult;
}

} // namespace ecrlink::wire
