// SPDX-License-Identifier: MIT
#pragma once

#include <string>

namespace ecrlink::tool {

/// `ecrlink journal FILE [--reference REF]`: what became of the last
/// transaction of a journal, or of the latest one with REF, for a register
/// that restarts or a person at its side. Reads only the journal's end.
namespace JournalCommand {

/// Prints the outcome on the first line ("outcome: answered"), then the
/// reference, the request, the run's result when recorded, the answer and
/// the receipt. 0 a transaction found; 1 none (none with REF); 2 the file
/// cannot be read or is not a journal.
int run(const std::string& path, const std::string* reference);

} // namespace JournalCommand

} // namespace ecrlink::tool
