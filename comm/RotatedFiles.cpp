// SPDX-License-Identifier: MIT
#include "RotatedFiles.h"

#include "RecordReader.h"
#include "TransactionBuilder.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace ecrlink::comm {

using namespace Communication;

namespace {

std::pair<std::string, std::string> split(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return {".", path};
    return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

bool unfinished(const JournalTransaction& t) {
    return t.outcome == JournalTransaction::SentNoAnswer || t.outcome == JournalTransaction::AnsweredNotAcknowledged;
}

} // namespace

std::vector<std::pair<unsigned long, std::string>> rotatedFiles(const std::string& path) {
    std::vector<std::pair<unsigned long, std::string>> files;
    const auto [directory, base] = split(path);
    DIR* dir = ::opendir(directory.c_str());
    if (!dir) return files;
    const std::string prefix = base + ".";
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) continue;
        const std::string digits = name.substr(prefix.size());
        if (digits.size() > 9 || digits[0] == '0' || digits.find_first_not_of("0123456789") != std::string::npos)
            continue;
        files.emplace_back(std::strtoul(digits.c_str(), nullptr, 10), path + "." + digits);
    }
    ::closedir(dir);
    std::sort(files.begin(), files.end());
    return files;
}

int syncDirectory(const std::string& path) {
    const int fd = ::open(split(path).first.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return errno;
    const int rc = ::fsync(fd) == 0 ? 0 : errno;
    ::close(fd);
    return rc;
}

bool holdsUnfinished(const std::string& path) {
    RecordReader reader;
    std::string error;
    if (reader.open(path, error) != 0) return true;
    Record record;
    std::unique_ptr<TransactionBuilder> transaction;
    JournalTransaction t;
    std::uint64_t at = RecordReader::First, after = 0;
    while (reader.next(at, record, after)) {
        at = after;
        if (transaction && transaction->feed(record)) continue;
        if (transaction) {
            transaction->finish(t);
            if (unfinished(t)) return true;
            transaction.reset();
        }
        if (record.type != Intent) continue;
        transaction.reset(new TransactionBuilder);
        transaction->feed(record);
    }
    if (!reader.readError().empty()) return true;
    if (!transaction) return false;
    transaction->finish(t);
    return unfinished(t);
}

} // namespace ecrlink::comm
