// SPDX-License-Identifier: MIT
#pragma once

#include <string>

namespace ecrlink::tool {

/// The secret every request to the service carries: 32 bytes from the
/// system's random source, kept as 64 hex digits in a file that only the
/// service's user may read.
namespace TokenFile {

/// Reads the token from `path`, or, when the file does not exist yet, creates
/// it (mode 0600, never replacing a file that appears meanwhile) with a new
/// token; `created` tells which. False with a one-line `error` when the file
/// cannot be made or read, holds no token, or can be read or written by the
/// group or others (a token others could read is no secret).
bool loadOrCreate(const std::string& path, std::string& token, bool& created, std::string& error);

/// Compares two secrets in a time that depends on their lengths only.
bool sameSecret(const std::string& given, const std::string& expected);

} // namespace TokenFile

} // namespace ecrlink::tool
