// SPDX-License-Identifier: MIT
#include "serve/TokenFile.h"

#include "wire/Bytes.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ecrlink::tool {
namespace TokenFile {

namespace {

constexpr std::size_t SecretBytes = 32;
constexpr std::size_t TokenLength = SecretBytes * 2;

std::string reason(const std::string& path, const char* what) {
    return path + ": " + what + ": " + std::strerror(errno);
}

bool randomBytes(unsigned char* out, std::size_t size, std::string& error) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::getrandom(out + done, size - done, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = std::string("no random bytes from the system: ") + std::strerror(errno);
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool create(const std::string& path, std::string& token, std::string& error) {
    unsigned char secret[SecretBytes];
    if (!randomBytes(secret, sizeof secret, error)) return false;
    std::string hex = toHex(secret, sizeof secret);
    hex.erase(std::remove(hex.begin(), hex.end(), ' '), hex.end());
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        error = reason(path, "cannot create the token file");
        return false;
    }
    // A file cut short by a crash is refused at the next start rather than
    // trusted, so the token is synced before it is used.
    const bool written = writeAll(fd, hex + "\n") && ::fsync(fd) == 0;
    ::close(fd);
    if (!written) {
        error = reason(path, "cannot write the token file");
        ::unlink(path.c_str());
        return false;
    }
    token = hex;
    return true;
}

bool load(const std::string& path, std::string& token, std::string& error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        error = reason(path, "cannot read the token file");
        return false;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        error = path + ": the token file is not a regular file";
        return false;
    }
    if ((status.st_mode & 077) != 0 || status.st_uid != ::geteuid()) {
        ::close(fd);
        error = path + ": the token file must belong to this user and be readable by it alone (chmod 600)";
        return false;
    }
    char buffer[TokenLength + 2];
    ssize_t n = 0;
    do n = ::read(fd, buffer, sizeof buffer);
    while (n < 0 && errno == EINTR);
    ::close(fd);
    std::string text(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    Bytes bytes;
    std::string why;
    if (text.size() != TokenLength || !parseHex(text, bytes, why)) {
        error = path + ": the token file does not hold 64 hex digits (delete it to have a new token made)";
        return false;
    }
    token = text;
    return true;
}

} // namespace

bool loadOrCreate(const std::string& path, std::string& token, bool& created, std::string& error) {
    created = false;
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) {
        if (errno != ENOENT) {
            error = reason(path, "cannot read the token file");
            return false;
        }
        if (create(path, token, error)) {
            created = true;
            return true;
        }
        // Another process made it first: take that one.
        if (errno != EEXIST) return false;
    }
    return load(path, token, error);
}

bool sameSecret(const std::string& given, const std::string& expected) {
    if (given.size() != expected.size()) return false;
    unsigned char differ = 0;
    for (std::size_t i = 0; i < given.size(); ++i)
        differ |= static_cast<unsigned char>(given[i] ^ expected[i]);
    return differ == 0;
}

} // namespace TokenFile
} // namespace ecrlink::tool
