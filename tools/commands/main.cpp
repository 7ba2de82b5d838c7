// SPDX-License-Identifier: MIT
// The ecrlink command-line program: a simulated payment terminal, the
// register side of a dialogue, the reader of its journal, a frame decoder and a
// self-contained demo.

#include "base/Console.h"
#include "base/SignalWatch.h"
#include "commands/DecodeCommand.h"
#include "commands/DemoCommand.h"
#include "commands/JournalCommand.h"
#include "commands/LogPump.h"
#include "register/RegisterSession.h"
#include "sim/Scenario.h"
#include "sim/ScenarioParser.h"
#include "commands/SimCommand.h"
#include "commands/SendCommand.h"
#include "commands/SoakCommand.h"
#include "commands/CaptureDecode.h"
#if ECRLINK_SERVE
#include "serve/ServeCommand.h"
#endif

#include <CLI/CLI.hpp>

#include <csignal>
#include <map>
#include <memory>


using namespace ecrlink::tool;

namespace {

constexpr int BadArguments = 2;

} // namespace

int main(int argc, char** argv) {
    // A register that hangs up must not kill the simulated terminal.
    std::signal(SIGPIPE, SIG_IGN);

    CLI::App app{"ecrlink: talk to a card payment terminal, or play one"};
    app.require_subcommand(1);
    // A count per command: CLI11 from 2.2 on writes the options of every command back after parsing, the
    // unused ones too, so a count shared between commands would end as the last unused command's 0.
    std::map<const CLI::App*, int> verbosity;
    auto addVerbose = [&](CLI::App* command) {
        command->add_flag("-v,--verbose", verbosity[command], "show the library's log lines on stderr; twice: also the bytes");
    };

    // The dialogue's two time-outs, for every command that runs one.
    auto addTimeouts = [](CLI::App* command, unsigned int& idleMs, unsigned int& overallMs) {
        command->add_option("--wait", idleMs, "idle time-out: milliseconds to keep waiting while the terminal sends nothing")
            ->check(CLI::Range(1, 3600000))
            ->capture_default_str();
        command->add_option("--timeout", overallMs, "overall time-out: milliseconds for the whole dialogue")
            ->check(CLI::Range(1, 86400000))
            ->capture_default_str();
    };

    SimCommand::Options sim;
    bool simPty = false;
    CLI::App* simApp = app.add_subcommand("sim", "simulated payment terminal on a pseudo-terminal or a TCP port");
    simApp->footer(std::string("\nBuilt-in scenarios: ") + Scenario::builtinNames() +
                   "\n(purchase: ACK, a status frame, a status message (tag 1 = 13), a receipt in 3\n"
                   "pieces of file tag 44, then the answer 2=APPROVED 3=A1B2C3 4=<the number in tag 4 of the request>)\n\n" +
                   ScenarioParser::formatHelp());
    CLI::Option* ptyOption = simApp->add_flag("--pty", simPty, "serve on a pseudo-terminal (the default); prints its path");
    simApp->add_option("--tcp", sim.tcpPort, "serve on 127.0.0.1:PORT (0: any free port); prints the port")
        ->check(CLI::Range(0, 65535))
        ->excludes(ptyOption);
    CLI::Option* scenarioOption =
        simApp->add_option("--scenario", sim.scenario, "built-in scenario name or scenario file")->capture_default_str();
    simApp->add_option("--capture", sim.capture, "record the line to a capture FILE");
    CLI::Option* replayOption =
        simApp->add_option("--replay", sim.replay, "play the terminal's side of a capture FILE with its timing")
            ->excludes(scenarioOption);
    simApp->add_option("--speed", sim.speed, "replay this many times faster (0.5: at half speed)")
        ->check(CLI::PositiveNumber)
        ->needs(replayOption);
    simApp->add_flag("--once", sim.once, "exit after one dialogue");
    simApp->add_option("--faults", sim.faults,
                       "noisy line: corrupt=P,length=P,nak=P,silence=P (each optional, P from 0 to 1); "
                       "prints what it did on exit");
    simApp->add_option("--seed", sim.seed, "seed of the faults")->capture_default_str();
    addVerbose(simApp);

    std::vector<std::string> tagTexts;
    RegisterSession::Options send;
    CLI::App* sendApp = app.add_subcommand("send", "send a request to a terminal and receive until its answer");
    sendApp->add_option("address", send.address, "serial:DEVICE[?baud=N] or tcp:HOST:PORT")->required();
    sendApp->add_option("-t,--tag", tagTexts, "NUM=VALUE, each NUM once (a repeated one is refused); VALUE is text, text:TEXT, u32:N (stored most significant byte first, as the library does) or hex:BYTES; numbers decimal or 0x hex")
        ->required()
        ->take_all()
        ->allow_extra_args(false);
    sendApp->add_option("--receipt", send.receiptFile, "save the receipt to FILE");
    addTimeouts(sendApp, send.idleMs, send.overallMs);
    CLI::Option* sendCapture = sendApp->add_option("--capture", send.captureFile, "record the line to a capture FILE");
    CLI::Option* sendJournal =
        sendApp->add_option("--journal", send.journalFile,
                            "keep the transaction in the journal FILE (appended): its intent before the request, the "
                            "line, its outcome; no ACK for an answer that is not on disk")
            ->excludes(sendCapture);
    sendApp->add_option("--reference", send.reference, "the transaction's reference in the journal, e.g. R-0042")
        ->needs(sendJournal);
    std::vector<std::uint32_t> masked;
    CLI::Option* maskOption =
        sendApp->add_option("--mask", masked, "tag numbers whose values the capture or the journal hides, e.g. 5,6")
            ->delimiter(',');
    addVerbose(sendApp);

    std::vector<std::string> hexWords;
    std::string order;
    CLI::App* decodeApp = app.add_subcommand("decode", "explain a frame (02/12 LL LL data check) or a dump given as hex");
    CLI::Option* hexOption = decodeApp->add_option("hex", hexWords, "the bytes in hex; spaces allowed");
    CLI::Option* orderOption =
        decodeApp->add_option("--order", order, "dump byte order: in (terminal to register) or out")
            ->check(CLI::IsMember({"in", "out"}));
    std::string captureFile, htmlFile;
    CLI::Option* decodeCapture =
        decodeApp->add_option("--capture", captureFile, "print the timeline of a capture FILE")
            ->excludes(hexOption)
            ->excludes(orderOption);
    decodeApp->add_option("--html", htmlFile, "write the timeline as a page to OUT.html")->needs(decodeCapture);
    addVerbose(decodeApp);

    SoakCommand::Options soak;
    CLI::App* soakApp = app.add_subcommand("soak", "many purchases through the dialogue against the simulated terminal on a noisy line; a table of the outcome");
    soakApp->add_option("--count", soak.count, "messages to run")->check(CLI::Range(1ul, 100000000ul))->capture_default_str();
    soakApp->add_option("--faults", soak.faults, "faults of the line, as for sim --faults")->capture_default_str();
    soakApp->add_option("--seed", soak.seed, "seed of the faults")->capture_default_str();
    soakApp->add_option("--scenario", soak.scenario, "scenario of the terminal; it must echo tag 4")->capture_default_str();
    addTimeouts(soakApp, soak.idleMs, soak.overallMs);

    std::string journalFile, journalReference;
    CLI::App* journalApp = app.add_subcommand("journal", "what became of the last transaction of a journal FILE (or of the one with --reference)");
    journalApp->add_option("file", journalFile, "the journal, as written by send --journal")->required();
    CLI::Option* journalReferenceOption = journalApp->add_option("--reference", journalReference, "the transaction with this reference");
    journalApp->footer("\nThe first line is the outcome: 'outcome: not sent', 'outcome: sent, no answer' (ask the terminal;\n"
                       "never send the same request again blindly), 'outcome: answered' or\n"
                       "'outcome: answered, acknowledgement not delivered' (check the transaction at the terminal).\n"
                       "Exit status: 0 a transaction found, 1 none, 2 the file cannot be read or is not a journal.");
    addVerbose(journalApp);

    CLI::App* demoApp = app.add_subcommand("demo", "a whole purchase against the simulated terminal, in this process");
    addVerbose(demoApp);

#if ECRLINK_SERVE
    ServeCommand::Options serve;
    std::vector<std::uint32_t> serveMasked;
    CLI::App* serveApp = app.add_subcommand(
        "serve", "hold one terminal and offer it to registers over HTTP and WebSocket on loopback and a unix socket");
    serveApp->footer(
        "\nEvery request carries the token: Authorization: Bearer TOKEN (a browser's WebSocket offers the\n"
        "subprotocols ecrlink.v1 and bearer.TOKEN). The token is made on the first start, 64 hex digits from\n"
        "the system's random source, in a file only this user can read. Requests whose Host is not a loopback\n"
        "name (DNS rebinding) get 421; a browser origin not given with --allow-origin gets 403.\n\n"
        "API (docs/service.md): POST /v1/transactions {\"reference\": \"R-1\", \"tags\": {\"2\": \"PURCHASE\",\n"
        "\"4\": \"u32:1250\"}} starts one (202; 409 while another runs or when the reference was sent before);\n"
        "GET /v1/transactions/REFERENCE[?wait=SECONDS] its outcome (running, not sent, failed, sent, no\n"
        "answer, answered, answered, acknowledgement not delivered), with wait once it has ended;\n"
        "POST /v1/transactions/REFERENCE/cancel; GET /v1/health;\n"
        "GET /metrics (Prometheus); GET /v1/events (WebSocket: events, and the same requests as messages).\n"
        "A request is sent to the terminal once: whatever became of it, it is never sent again.\n\n"
        "Exit status: 0 stopped by SIGINT or SIGTERM (the first lets the running transaction end, a second\n"
        "cancels it); 1 the service cannot start; 2 bad arguments.");
    serveApp->add_option("address", serve.address, "the terminal: serial:DEVICE[?baud=N] or tcp:HOST:PORT")->required();
    serveApp->add_option("--listen", serve.listen, "HOST:PORT to listen on; a HOST beyond loopback is reachable from the network")
        ->capture_default_str();
    serveApp->add_option("--socket", serve.socket,
                         "unix socket PATH (default $RUNTIME_DIRECTORY/serve.sock, else DIR/serve.sock); none: no socket");
    serveApp->add_option("--journal", serve.journalDir,
                         "DIR of the journal, the token and the lock (default $STATE_DIRECTORY, else "
                         "$XDG_STATE_HOME/ecrlink or ~/.local/state/ecrlink)");
    serveApp->add_option("--token-file", serve.tokenFile, "FILE of the token (default DIR/token); made when missing");
    serveApp->add_option("--allow-origin", serve.allowOrigins,
                         "a browser ORIGIN that may use the service, e.g. https://till.example.com (repeatable)")
        ->allow_extra_args(false);
    serveApp->add_option("--mask", serveMasked, "tag numbers whose values never reach the log, the journal or the API, e.g. 5,6")
        ->delimiter(',');
    addTimeouts(serveApp, serve.idleMs, serve.overallMs);
    addVerbose(serveApp);
#endif

    // CLI11 would only say that a command is missing.
    if (argc > 1 && argv[1][0] != '-') {
        bool known = false;
        for (const CLI::App* command : app.get_subcommands({})) known = known || command->check_name(argv[1]);
        if (!known) {
            Console::err(std::string("ecrlink: unknown command '") + argv[1] + "' (commands: sim, send, journal, decode, demo, soak"
#if ECRLINK_SERVE
                         ", serve"
#endif
                         ")\n");
            return BadArguments;
        }
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return BadArguments;
    }

    // Ctrl-C cancels a dialogue or stops the terminal or the service: one
    // thread takes the signal, so every other one leaves it alone.
    bool watchesSignals = sendApp->parsed() || simApp->parsed();
#if ECRLINK_SERVE
    watchesSignals = watchesSignals || serveApp->parsed();
#endif
    if (watchesSignals) SignalWatch::blockHere();
    int verbose = 0;
    for (const auto& [command, count] : verbosity)
        if (command->parsed()) verbose = count;
    std::unique_ptr<LogPump> pump;
    if (verbose) pump = std::make_unique<LogPump>(stderr, verbose > 1 ? 2 : 1);
    if (simApp->parsed()) return SimCommand::run(sim);
    if (soakApp->parsed()) return SoakCommand::run(soak);
    if (journalApp->parsed()) return JournalCommand::run(journalFile, *journalReferenceOption ? &journalReference : nullptr);
    if (sendApp->parsed()) {
        if (*maskOption && !*sendCapture && !*sendJournal) {
            Console::err("ecrlink: send: --mask needs --capture or --journal\n");
            return BadArguments;
        }
        send.masked.insert(masked.begin(), masked.end());
        send.wireTrace = verbose > 1;
        return SendCommand::run(tagTexts, send);
    }
#if ECRLINK_SERVE
    if (serveApp->parsed()) {
        serve.masked.insert(serveMasked.begin(), serveMasked.end());
        serve.wireTrace = verbose > 1;
        return ServeCommand::run(serve);
    }
#endif
    if (decodeApp->parsed()) {
        if (!captureFile.empty()) return CaptureDecode::run(captureFile, htmlFile);
        if (hexWords.empty()) {
            Console::err("ecrlink: decode: give the bytes in hex, or --capture FILE\n");
            return BadArguments;
        }
        std::string hex;
        for (const std::string& word : hexWords) hex += word + " ";
        return DecodeCommand::run(hex, order);
    }
    return DemoCommand::run();
}
