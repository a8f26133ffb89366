// velarix-phone-sim: plays mRouter's local relay and the phone-side server in one process, so
// the viewer can be run and tested without a phone. See README.md and --help.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "Commands.h"
#include "Log.h"
#include "PixelEncoder.h"
#include "Relay.h"
#include "VelarixVersion.h"

namespace {

const char kUsage[] = R"(Usage: velarix-phone-sim [OPTIONS]

Plays the phone's PC Suite relay and the phone server for the Velarix viewer. Listens
on 127.0.0.1, prints "listening on 127.0.0.1:PORT" on standard output, publishes the
port in $XDG_RUNTIME_DIR/mrouter/relay.port (or /tmp/mrouter-<uid>/relay.port) until
it exits, and streams a simulated 208 x 320 phone screen to one viewer at a time.

Options:
  --port N              listen on port N (default: a free port chosen by the system)
  --port-file PATH      publish the port in PATH instead of the default file
  --no-sync             accept viewers but never send anything (a relay whose phone
                        server does not answer)
  --hello-timeout MS    send the sync pattern MS milliseconds after accepting even if
                        the viewer's Hello has not arrived (default 1000; 0 = at once;
                        -1 = only in answer to a Hello)
  --raw                 send FrameRaw (uncompressed) instead of FrameZlib
  --quiet               do not log what is sent (received messages are still logged)
  --static              no animation: the screen changes only on input, so an idle
                        connection carries nothing but pings
  --bench-fullscreen    every sample changes every line (two alternating pictures),
                        for throughput benchmarks
  --ping-interval MS    send a Ping every MS milliseconds (default 5000; 0 = never)
  --timestamps          prefix log lines with CLOCK_MONOTONIC microseconds and log
                        when each frame's last byte is handed to the kernel ("@ frame")
  --exit-on-disconnect  end when the first viewer connection ends
  --after-sync CMDS     run the commands CMDS (separated by ';') once per connection,
                        when the viewer has first acknowledged the sync; repeatable
  --help                show this text
  --version             show the version

Log (standard error): "<-" what the viewer sent, "->" what the phone sends, "--" notes.
Standard input carries commands, one per line; end of input does not end the program.

)";

std::optional<long long> ParseInteger(const char* text, long long min, long long max) {
    errno = 0;
    char* end = nullptr;
    const long long v = std::strtoll(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v < min || v > max) return std::nullopt;
    return v;
}

}  // namespace

int main(int argc, char** argv) {
    using phonesim::RelayConfig;
    RelayConfig config;
    bool timestamps = false;
    bool quiet = false;

    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const auto value = [&](const char* name) -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "velarix-phone-sim: %s needs a value\n", name);
                std::exit(2);
            }
            return argv[++i];
        };
        const auto number = [&](const char* name, long long min, long long max) {
            const char* text = value(name);
            const auto v = ParseInteger(text, min, max);
            if (!v) {
                std::fprintf(stderr, "velarix-phone-sim: %s needs a number from %lld to %lld\n",
                             name, min, max);
                std::exit(2);
            }
            return *v;
        };
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            std::fputs(phonesim::CommandHelp(), stdout);
            return 0;
        } else if (arg == "--version") {
            std::printf("velarix-phone-sim %s\n", VELARIX_VERSION);
            return 0;
        } else if (arg == "--port") {
            config.port = static_cast<std::uint16_t>(number("--port", 0, 65535));
        } else if (arg == "--port-file") {
            config.portFile = value("--port-file");
        } else if (arg == "--no-sync") {
            config.session.noSync = true;
        } else if (arg == "--hello-timeout") {
            config.session.helloTimeout =
                std::chrono::milliseconds(number("--hello-timeout", -1, 3600000));
        } else if (arg == "--raw") {
            config.session.raw = true;
        } else if (arg == "--quiet") {
            quiet = true;
        } else if (arg == "--static") {
            config.animated = false;
        } else if (arg == "--bench-fullscreen") {
            config.session.benchFullscreen = true;
        } else if (arg == "--ping-interval") {
            config.session.pingInterval =
                std::chrono::milliseconds(number("--ping-interval", 0, 3600000));
        } else if (arg == "--timestamps") {
            timestamps = true;
        } else if (arg == "--exit-on-disconnect") {
            config.exitOnDisconnect = true;
        } else if (arg == "--after-sync") {
            for (std::string& line : phonesim::SplitCommandList(value("--after-sync"))) {
                std::string error;
                if (!phonesim::ParseCommand(line, &error) && !error.empty()) {
                    std::fprintf(stderr, "velarix-phone-sim: --after-sync: %s\n", error.c_str());
                    return 2;
                }
                config.afterSync.push_back(std::move(line));
            }
        } else {
            std::fprintf(stderr, "velarix-phone-sim: unknown option %s (see --help)\n", argv[i]);
            return 2;
        }
    }

    const phonesim::Log log(timestamps, quiet);
    if (const std::string problem = phonesim::SelfCheckPixelFormats(); !problem.empty()) {
        log.Info("pixel format self-check failed: " + problem);
        return 1;
    }
    phonesim::Relay relay(config, log);
    return relay.Run();
}
