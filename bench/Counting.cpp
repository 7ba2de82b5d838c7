// SPDX-License-Identifier: MIT
#include "Counting.h"

#include <cstdarg>
#include <cstdlib>
#include <new>
#include <utility>

#include <dlfcn.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <termios.h>
#include <unistd.h>

namespace {

thread_local bool counting = false;
thread_local bench::Counts counts;
thread_local int hookFd = -1;
thread_local std::function<void()>* hook = nullptr;

template <typename F>
F real(const char* name) {
    return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

void countCall() {
    if (counting) ++counts.systemCalls;
}

// Runs the hook after a write of the watched descriptor, not counting its own calls.
void afterWrite(int fd) {
    if (hook == nullptr || fd != hookFd) return;
    const bool was = std::exchange(counting, false);
    (*hook)();
    counting = was;
}

void* allocate(std::size_t size) {
    if (counting) ++counts.allocations;
    void* p = std::malloc(size ? size : 1);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}

} // namespace

namespace bench {

void startCounting() {
    counts = Counts{};
    counting = true;
}

Counts stopCounting() {
    counting = false;
    return counts;
}

void setWriteHook(int fd, std::function<void()> h) {
    clearWriteHook();
    hookFd = fd;
    hook = new std::function<void()>(std::move(h));
}

void clearWriteHook() {
    delete hook;
    hook = nullptr;
    hookFd = -1;
}

} // namespace bench

// Default visibility: the libraries must reach these, not the C library's.
#pragma GCC visibility push(default)

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return std::malloc(size ? size : 1); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return std::malloc(size ? size : 1); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

extern "C" {

ssize_t read(int fd, void* buffer, size_t size) {
    static const auto next = real<ssize_t (*)(int, void*, size_t)>("read");
    countCall();
    return next(fd, buffer, size);
}

ssize_t readv(int fd, const iovec* parts, int count) {
    static const auto next = real<ssize_t (*)(int, const iovec*, int)>("readv");
    countCall();
    return next(fd, parts, count);
}

ssize_t recv(int fd, void* buffer, size_t size, int flags) {
    static const auto next = real<ssize_t (*)(int, void*, size_t, int)>("recv");
    countCall();
    return next(fd, buffer, size, flags);
}

ssize_t write(int fd, const void* data, size_t size) {
    static const auto next = real<ssize_t (*)(int, const void*, size_t)>("write");
    countCall();
    const ssize_t n = next(fd, data, size);
    afterWrite(fd);
    return n;
}

ssize_t send(int fd, const void* data, size_t size, int flags) {
    static const auto next = real<ssize_t (*)(int, const void*, size_t, int)>("send");
    countCall();
    const ssize_t n = next(fd, data, size, flags);
    afterWrite(fd);
    return n;
}

int poll(pollfd* fds, nfds_t count, int timeout) {
    static const auto next = real<int (*)(pollfd*, nfds_t, int)>("poll");
    countCall();
    return next(fds, count, timeout);
}

int ioctl(int fd, unsigned long request, ...) noexcept {
    static const auto next = real<int (*)(int, unsigned long, void*)>("ioctl");
    va_list args;
    va_start(args, request);
    void* argument = va_arg(args, void*);
    va_end(args);
    countCall();
    return next(fd, request, argument);
}

int tcflush(int fd, int queue) noexcept {
    static const auto next = real<int (*)(int, int)>("tcflush");
    countCall();
    return next(fd, queue);
}

int isatty(int fd) noexcept {
    static const auto next = real<int (*)(int)>("isatty");
    countCall();
    return next(fd);
}

} // extern "C"

#pragma GCC visibility pop
