// SPDX-License-Identifier: MIT
#pragma once

#include <cstdio>
#include <string>

namespace ecrlink::tool {

/// Whole lines to stdout or stderr from several threads without mixing them;
/// every write is flushed at once so that a reader on a pipe sees it.
namespace Console {

void write(std::FILE* stream, const std::string& text);
inline void out(const std::string& text) { write(stdout, text); }
inline void err(const std::string& text) { write(stderr, text); }

} // namespace Console

} // namespace ecrlink::tool
