// The three meta-state decoders. The first input byte picks the record (modulo 3:
// SectorStatus, AdventureState, ExpeditionState), the rest is its payload. A record that
// is accepted must write back to exactly its payload and read again to the same value;
// a refusal must carry one of that record's own messages.
#include <cstdint>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <string_view>

#include "fuzz/fuzz_input.h"
#include "protocol/meta_state.h"

using namespace kestrel;

namespace {

constexpr std::string_view common_messages[] = {"truncated packet", "trailing bytes",
                                                "invalid label"};

bool known(const std::string& message, std::initializer_list<std::string_view> own) {
    for (std::string_view m : common_messages)
        if (message == m) return true;
    for (std::string_view m : own)
        if (message == m) return true;
    return false;
}

template <typename Record>
void round_trip(const std::uint8_t* data, std::size_t size,
                std::initializer_list<std::string_view> messages) {
    Reader reader(data, size);
    Record record;
    try {
        record = Record::read(reader);
    } catch (const std::runtime_error& error) {
        KESTREL_FUZZ_CHECK(known(error.what(), messages));
        return;
    }
    KESTREL_FUZZ_CHECK(reader.position == size);
    const Writer written = record.write();
    KESTREL_FUZZ_CHECK(written.bytes == Bytes(data, data + size));
    Reader again(written.bytes);
    KESTREL_FUZZ_CHECK(Record::read(again) == record);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint8_t* payload = data + 1;
    const std::size_t length = size - 1;
    switch (data[0] % 3) {
    case 0:
        round_trip<SectorStatus>(payload, length, {"invalid sector status"});
        break;
    case 1:
        round_trip<AdventureState>(payload, length,
                                   {"invalid adventure state", "invalid teammate"});
        break;
    default:
        round_trip<ExpeditionState>(payload, length,
                                    {"invalid leader flag", "invalid crew state",
                                     "invalid ready flag", "invalid upgrade offer",
                                     "invalid run choice", "invalid expedition state",
                                     "invalid navigation sector"});
        break;
    }
    return 0;
}
