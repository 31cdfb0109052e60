// The handler of every received packet.
//
// The main loop reads the header and hands the packet here with the ENet channel it came
// on. Each message type has one route with its guards: a packet on the wrong channel or
// from another session is fatal, a packet of a stale epoch (or an older sequence) is
// dropped silently. Every handler parses and checks the whole payload before it changes
// anything, so a thrown error leaves the run state as it was.
//
// Packets to send go to state.outbox and sounds to state.sounds; the main loop carries
// them out after the call. The "Committed sector" line of every applied handoff goes to
// `out` (the main loop passes std::cout).
#pragma once

#include <cstdint>
#include <ostream>

#include "client/run_state.h"
#include "protocol/codec.h"

namespace kestrel {

inline constexpr std::size_t combat_event_size = 16;

void route(RunState& state, const Header& header, Reader& reader, std::uint8_t channel, double now,
           std::ostream& out);

} // namespace kestrel
