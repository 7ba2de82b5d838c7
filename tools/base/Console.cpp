// SPDX-License-Identifier: MIT
#include "base/Console.h"

#include <mutex>

namespace ecrlink::tool {
namespace Console {

namespace {
std::mutex& lock() {
    static std::mutex m;
    return m;
}
} // namespace

void write(std::FILE* stream, const std::string& text) {
    std::lock_guard<std::mutex> guard(lock());
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

} // namespace Console
} // namespace ecrlink::tool
