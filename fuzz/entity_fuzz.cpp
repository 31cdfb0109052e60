// read_entity: an accepted record is 40 bytes and writes back to them, bar the vertical speed.
#include "fuzz/fuzz_input.h"
#include "protocol/entity.h"

using namespace kestrel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Reader reader(data, size);
    ReplicatedEntity entity;
    if (!fuzz::decoded(entity, [&] { return read_entity(reader); })) return 0;
    KESTREL_FUZZ_CHECK(reader.position == entity_record_size);
    Writer out;
    write_entity(out, entity);
    Bytes expected(data, data + entity_record_size);
    expected[16] = expected[17] = 0;
    KESTREL_FUZZ_CHECK(out.bytes == expected);
    return 0;
}
