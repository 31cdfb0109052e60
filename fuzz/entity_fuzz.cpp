// read_entity over arbitrary bytes. It consumes exactly one 40-byte record; an accepted
// record writes back to the same bytes except the vertical speed (offset 16, dropped on
// reading, written as 0), and a refused one names the record in the fixed format.
#include <cstdint>
#include <stdexcept>
#include <string>

#include "fuzz/fuzz_input.h"
#include "protocol/entity.h"

using namespace kestrel;

namespace {

std::string record_message(const std::uint8_t* d) {
    const auto u16 = [d](int at) { return static_cast<unsigned>(d[at] | (d[at + 1] << 8)); };
    const std::uint32_t id = u16(0) | (u16(2) << 16);
    return "invalid entity record id=" + std::to_string(id) + " kind=" + std::to_string(d[22]) +
           " weapon=" + std::to_string(u16(26)) + " x=" + std::to_string(u16(4) << 8) +
           " y=" + std::to_string(u16(6) << 8) + " flags=" + std::to_string(d[23]);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Reader reader(data, size);
    ReplicatedEntity entity;
    try {
        entity = read_entity(reader);
    } catch (const std::runtime_error& error) {
        const std::string message = error.what();
        if (size < entity_record_size) {
            KESTREL_FUZZ_CHECK(message == "truncated packet");
        } else {
            KESTREL_FUZZ_CHECK(message == "invalid player boost" ||
                               message == record_message(data));
            KESTREL_FUZZ_CHECK(reader.position == entity_record_size);
        }
        return 0;
    }
    KESTREL_FUZZ_CHECK(size >= entity_record_size && reader.position == entity_record_size);
    KESTREL_FUZZ_CHECK(entity.id != 0 && entity.kind >= 1 && entity.kind <= 18);
    KESTREL_FUZZ_CHECK(entity.weapon == entity.entity_weapon);
    KESTREL_FUZZ_CHECK(entity.tick_event == ((entity.flags & 4) != 0));

    Writer out;
    write_entity(out, entity);
    Bytes expected(data, data + entity_record_size);
    expected[16] = expected[17] = 0;
    KESTREL_FUZZ_CHECK(out.bytes == expected);
    Reader again(out.bytes);
    KESTREL_FUZZ_CHECK(read_entity(again) == entity);
    return 0;
}
