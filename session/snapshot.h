// One complete world snapshot as the server sent it, the viewer's own record first.
#pragma once

#include <cstdint>
#include <vector>

#include "protocol/entity.h"

namespace kestrel {

struct Snapshot {
    std::uint32_t id = 0;
    std::uint32_t tick = 0;
    std::uint32_t input_ack = 0;
    std::uint32_t revision = 0;
    std::uint32_t viewer = 0;
    std::uint32_t epoch = 0;
    std::uint64_t sector = 0;
    std::vector<ReplicatedEntity> entities;
};

} // namespace kestrel
