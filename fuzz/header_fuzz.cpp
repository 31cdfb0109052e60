// read_header over arbitrary bytes: every input is either refused with one of the two
// header messages, or it is a packet that `packet` rebuilds byte for byte.
#include <cstdint>
#include <stdexcept>
#include <string>

#include "fuzz/fuzz_input.h"
#include "protocol/codec.h"

using namespace kestrel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Reader reader(data, size);
    Header header;
    try {
        header = read_header(reader);
    } catch (const std::runtime_error& error) {
        const std::string message = error.what();
        KESTREL_FUZZ_CHECK(message == "invalid header" || message == "invalid length/flags");
        return 0;
    }
    KESTREL_FUZZ_CHECK(reader.position == header_size);
    KESTREL_FUZZ_CHECK(size >= header_size && size <= max_packet_size);
    KESTREL_FUZZ_CHECK(header.length == size - header_size);

    Writer payload;
    payload.append({data + header_size, size - header_size});
    const Bytes rebuilt =
        packet(header.type, header.session, header.sequence, header.epoch, payload);
    KESTREL_FUZZ_CHECK(rebuilt == Bytes(data, data + size));
    return 0;
}
