// Program entry of the reference server. Every error ends here as one "server: " line and
// exit status 1; a normal end (time limit or an interrupt) prints the summary line.
#include <atomic>
#include <csignal>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "server/options.h"
#include "server/server.h"

namespace {

std::atomic<bool> stop_requested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void request_stop(int) {
    stop_requested.store(true);
}

} // namespace

int main(int argc, char** argv) {
    try {
        const std::vector<std::string> arguments(argv + 1, argv + argc);
        const kestrel::ServerOptions options = kestrel::parse_server_options(arguments);
        if (options.help) {
            std::cout << kestrel::server_usage();
            return 0;
        }
        std::signal(SIGINT, request_stop);
        std::signal(SIGTERM, request_stop);
        const kestrel::ServerRun run = kestrel::run_server(options, stop_requested);
        std::cout << kestrel::summary_line(run) << std::flush;
        return 0;
    } catch (const std::exception& error) {
        std::cerr << "server: " << error.what() << "\n";
        return 1;
    }
}
