// SPDX-License-Identifier: MIT
#include "wire/ResultTable.h"

namespace ecrlink::wire {

namespace {
constexpr bool codesUnique() {
    for (const Result& r : Results)
        if (&Results[indexOf(r.code)] != &r) return false;
    return true;
}
static_assert(codesUnique(), "a code stands twice in the result table");
} // namespace

const char* libraryText(unsigned int code) {
    const int i = indexOf(code);
    return i >= 0 && Results[i].space != Space::CApi ? Results[i].text : UnknownResult;
}

const char* channelText(int code) {
    const int i = code < 0 ? -1 : indexOf(static_cast<unsigned int>(code));
    return i >= 0 && (Results[i].space == Space::Channel || Results[i].space == Space::Journal) ? Results[i].text
                                                                                                : UnknownChannelResult;
}

const char* anyText(unsigned int code) {
    const int i = indexOf(code);
    return i >= 0 ? Results[i].text : UnknownResult;
}

} // namespace ecrlink::wire
