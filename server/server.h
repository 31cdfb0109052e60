// The host loop: one ENet host, the core ticking at 30 Hz, and the link hooks between them.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "server/core.h"
#include "server/options.h"

namespace kestrel {

struct ServerRun {
    ServerCounters counters;
    std::uint64_t lost = 0; // packets the loss hook dropped
};

// Listens on options.bind:options.port (UDP, up to 8 clients, 3 channels) and serves until
// options.seconds have passed (when set) or `stop` becomes true. Between ticks it waits in
// ENet's service call, never spinning. Throws "ENet initialization failed", "cannot resolve
// bind address ADDR" or "cannot listen on ADDR:PORT (UDP)".
ServerRun run_server(const ServerOptions& options, const std::atomic<bool>& stop);

// "Server stopped: clients=... handoffs=... aborts=... snapshots=... inputs=... skipped=...
// rejected=... errors=... faults=... lost=..." and a line break.
std::string summary_line(const ServerRun& run);

} // namespace kestrel
