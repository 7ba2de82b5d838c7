// SPDX-License-Identifier: MIT
#pragma once

#include "ecrlink/CaptureChannel.h"

#include <string>
#include <vector>

namespace ecrlink::tool {

/// Whether the terminal certainly refused a transaction's request, told from
/// what the journal recorded on the line: the outcome "failed" is given only
/// where the terminal itself said no, never where the outcome is unknown.
namespace RequestRefusal {

/// True when the last transaction `reference` in `events` sent its request,
/// ended with 303 after the terminal answered each of the three frames with
/// NAK, or with 304 after it answered a frame with EOT (NAKs before it), and
/// the terminal sent nothing else: no ACK, no frame. False on anything else,
/// a crash in between included.
bool refused(const std::vector<Communication::CaptureEvent>& events, const std::string& reference);

/// The same for the journal file `file`; false when it cannot be read. Any
/// thread; reads the whole file.
bool refusedIn(const std::string& file, const std::string& reference);

} // namespace RequestRefusal

} // namespace ecrlink::tool
