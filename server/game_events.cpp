#include "server/game_events.h"

#include <stdexcept>

namespace kestrel {

Writer CombatEvent::write() const {
    Writer out;
    out.u32(tick);
    out.u32(subject);
    out.u16(x);
    out.u16(y);
    out.u8(kind);
    out.u8(0);
    out.u16(value);
    return out;
}

CombatEvent CombatEvent::read(Reader& reader) {
    CombatEvent event;
    event.tick = reader.u32();
    event.subject = reader.u32();
    event.x = reader.u16();
    event.y = reader.u16();
    event.kind = reader.u8();
    const std::uint8_t padding = reader.u8();
    event.value = reader.u16();
    reader.end();
    if (event.kind < 1 || event.kind > 30 || padding != 0)
        throw std::runtime_error("invalid combat kind");
    return event;
}

void send_event(Outbox& out, std::uint32_t player, std::uint64_t sector, const CombatEvent& event) {
    out.push_back({player, sector, Type::CombatEvent, event.write()});
}

} // namespace kestrel
