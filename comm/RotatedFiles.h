// SPDX-License-Identifier: MIT
#pragma once

// The files a journal rotates into: PATH.1 (the most recent), PATH.2 ...
// Internal to libecrcomm.

#include <string>
#include <utility>
#include <vector>

namespace ecrlink::comm {

/// The rotated files of `path` that exist, most recent first, with their numbers.
std::vector<std::pair<unsigned long, std::string>> rotatedFiles(const std::string& path);

/// Syncs the directory that holds `path`, so that a created, renamed or
/// removed name survives a power loss. 0 or the errno.
int syncDirectory(const std::string& path);

/// True when the file holds a transaction whose outcome is not final (sent
/// with no answer, answered without a delivered ACK), or cannot be read.
bool holdsUnfinished(const std::string& path);

} // namespace ecrlink::comm
