// SPDX-License-Identifier: MIT
#include "serve/ServeCommand.h"

#include "base/Console.h"
#include "base/SignalWatch.h"
#include "serve/AccessPolicy.h"
#include "serve/Api.h"
#include "serve/EventHub.h"
#include "serve/Listener.h"
#include "serve/Metrics.h"
#include "serve/ServeContext.h"
#include "serve/TerminalWorker.h"
#include "serve/TokenFile.h"
#include "wire/Bytes.h"

#include "ecrlink/ChannelFactory.h"

#include <boost/asio.hpp>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace ecrlink::tool {
namespace ServeCommand {

namespace {

namespace net = boost::asio;
using Local = net::local::stream_protocol;

constexpr int Failed = 1;
constexpr int BadArguments = 2;

void say(const std::string& line) {
    Console::out(line + "\n");
}

int fail(int status, const std::string& reason) {
    Console::err("ecrlink: serve: " + reason + "\n");
    return status;
}

std::string firstOf(const char* paths) {
    const std::string text = paths ? paths : "";
    return text.substr(0, text.find(':'));
}

bool splitListen(const std::string& listen, net::ip::address& address, unsigned short& port, std::string& error) {
    const std::size_t colon = listen.rfind(':');
    error = "--listen '" + listen + "' is not HOST:PORT with HOST an address, e.g. 127.0.0.1:" + std::to_string(DefaultPort);
    if (colon == std::string::npos) return false;
    std::string host = listen.substr(0, colon);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    boost::system::error_code bad;
    address = net::ip::make_address(host, bad);
    const std::string digits = listen.substr(colon + 1);
    std::uint64_t number = 0;
    if (bad || digits.find_first_not_of("0123456789") != std::string::npos || !parseNumber(digits, 65535, number))
        return false;
    port = static_cast<unsigned short>(number);
    return true;
}

// One service per journal: the lock is held for as long as the process runs.
bool lockJournal(const std::string& dir, std::string& error) {
    const std::string path = dir + "/serve.lock";
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        error = dir + " is in use by another ecrlink serve";
        return false;
    }
    return true;
}

bool makeJournalDir(const std::string& dir, std::string& error) {
    std::error_code failure;
    if (std::filesystem::create_directories(dir, failure))
        std::filesystem::permissions(dir, std::filesystem::perms::owner_all, failure);
    if (failure || !std::filesystem::is_directory(dir)) {
        error = "--journal " + dir + ": " + (failure ? failure.message() : "not a directory");
        return false;
    }
    if (::access(dir.c_str(), W_OK) != 0) {
        error = "--journal " + dir + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

// A socket left behind by a service that died is taken over; one that
// answers belongs to a service still running.
bool clearSocket(const std::string& path, std::string& error) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) return true;
    if (!S_ISSOCK(status.st_mode)) {
        error = "--socket " + path + " exists and is not a socket";
        return false;
    }
    net::io_context probe;
    Local::socket client(probe);
    boost::system::error_code refused;
    client.connect(Local::endpoint(path), refused);
    if (!refused) {
        error = "--socket " + path + ": another service listens there";
        return false;
    }
    ::unlink(path.c_str());
    return true;
}

} // namespace

std::string defaultJournalDir() {
    if (const char* state = std::getenv("STATE_DIRECTORY"); state && *state) return firstOf(state);
    if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg && *xdg) return std::string(xdg) + "/ecrlink";
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : ".") + "/.local/state/ecrlink";
}

int run(Options options) {
    std::string error;
    for (const std::string& origin : options.allowOrigins)
        if (!AccessPolicy::validOrigin(origin, error)) return fail(BadArguments, "--allow-origin: " + error);
    net::ip::address listenAddress;
    unsigned short port = 0;
    if (!splitListen(options.listen, listenAddress, port, error)) return fail(BadArguments, error);
    int rc = 0;
    Communication::Channel* channel = Communication::createChannel(options.address, rc, error);
    if (!channel) return fail(BadArguments, "bad address '" + options.address + "': " + error);
    std::unique_ptr<Communication::Channel> owned(channel);

    if (options.journalDir.empty()) options.journalDir = defaultJournalDir();
    if (options.tokenFile.empty()) options.tokenFile = options.journalDir + "/token";
    if (options.socket.empty()) {
        const std::string runtime = firstOf(std::getenv("RUNTIME_DIRECTORY"));
        options.socket = (runtime.empty() ? options.journalDir : runtime) + "/serve.sock";
    }
    if (!makeJournalDir(options.journalDir, error) || !lockJournal(options.journalDir, error)) return fail(Failed, error);
    std::string token;
    bool created = false;
    if (!TokenFile::loadOrCreate(options.tokenFile, token, created, error)) return fail(Failed, error);
    say(std::string("token: ") + (created ? "made a new one in " : "") + options.tokenFile);

    EventHub events;
    Metrics metrics;
    TerminalWorker::Options terminalOptions{options.address, options.journalDir, options.masked, options.idleMs,
                                            options.overallMs, options.wireTrace};
    TerminalWorker terminal(terminalOptions, owned.release(), events, metrics, say);
    if (!terminal.openJournal(error)) return fail(Failed, error);
    Api api(terminal, metrics, options.masked, say);
    std::optional<AccessPolicy> policy;
    std::optional<ServeContext> context;
    bool socketMade = false;
    {
        // The I/O and all it holds live in here: the handlers it destroys last
        // still find what they use.
        net::io_context io;
        net::ip::tcp::acceptor tcp(io);
        boost::system::error_code failure;
        const net::ip::tcp::endpoint where(listenAddress, port);
        tcp.open(where.protocol(), failure);
        if (!failure) tcp.set_option(net::socket_base::reuse_address(true), failure);
        if (!failure) tcp.bind(where, failure);
        if (!failure) tcp.listen(net::socket_base::max_listen_connections, failure);
        if (failure) return fail(Failed, "cannot listen on " + options.listen + ": " + failure.message());
        port = tcp.local_endpoint().port();
        policy.emplace(token, std::set<std::string>(options.allowOrigins.begin(), options.allowOrigins.end()),
                       listenAddress.to_string(), port);
        context.emplace(ServeContext{*policy, api, events, metrics, say});

        std::shared_ptr<Listener<Local>> localListener;
        if (options.socket != "none") {
            if (options.socket.size() >= sizeof(sockaddr_un::sun_path))
                return fail(BadArguments, "--socket " + options.socket + ": longer than a unix socket's path may be");
            if (!clearSocket(options.socket, error)) return fail(Failed, error);
            Local::acceptor local(io);
            local.open(Local(), failure);
            if (!failure) local.bind(Local::endpoint(options.socket), failure);
            if (!failure) local.listen(net::socket_base::max_listen_connections, failure);
            if (failure) return fail(Failed, "cannot listen on " + options.socket + ": " + failure.message());
            socketMade = true;
            ::chmod(options.socket.c_str(), 0660);
            localListener = std::make_shared<Listener<Local>>(std::move(local), *context, true);
            localListener->run();
        }
        auto tcpListener = std::make_shared<Listener<net::ip::tcp>>(std::move(tcp), *context, false);
        tcpListener->run();
        const std::string shownHost =
            listenAddress.is_v6() ? "[" + listenAddress.to_string() + "]" : listenAddress.to_string();
        say("listening on " + shownHost + ":" + std::to_string(port) +
            (localListener ? " and unix:" + options.socket : std::string()));
        say("journal: " + options.journalDir + "/journal");
        terminal.start();

        net::steady_timer poll(io);
        int caught = 0;
        std::function<void()> waitForEnd = [&] {
            if (terminal.finished()) {
                tcpListener->stop();
                if (localListener) localListener->stop();
                io.stop();
                return;
            }
            poll.expires_after(std::chrono::milliseconds(100));
            poll.async_wait([&](boost::system::error_code) { waitForEnd(); });
        };
        // The first signal lets the running transaction end; a second cancels it.
        const auto onSignal = [&] {
            if (++caught == 1) {
                const std::string running = terminal.health().running;
                say(running.empty() ? "stopping"
                                    : "stopping once transaction " + running + " has ended (signal again to cancel it)");
                terminal.shutdown(false);
                waitForEnd();
            } else {
                say("stopping: cancelling the transaction running");
                terminal.shutdown(true);
            }
        };
        const SignalWatch signals([&](int) { net::post(io, onSignal); });
        io.run();
        // No event may be published into an I/O that is gone.
        terminal.join();
    }
    if (socketMade) ::unlink(options.socket.c_str());
    say("stopped");
    return 0;
}

} // namespace ServeCommand
} // namespace ecrlink::tool
