// One framed packet on its way to a client, and the name of a connected client.
#pragma once

#include <cstdint>

#include "protocol/codec.h"

namespace kestrel {

// Chosen by the host loop for each ENet peer; never reused within a run.
using PeerId = std::uint32_t;

struct Datagram {
    Bytes bytes;              // header and payload, at most 1000 bytes
    std::uint8_t channel = 0; // 0 control, 1 state, 2 map chunks
    bool reliable = true;
    // Non-zero: the host loop reports it back (ServerCore::confirm) once the peer has
    // acknowledged this packet and every reliable packet sent before it on its channel.
    std::uint32_t receipt = 0;
};

} // namespace kestrel
