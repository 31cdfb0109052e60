// read_header: an accepted header is rebuilt byte for byte by packet().
#include "fuzz/fuzz_input.h"
#include "protocol/codec.h"

using namespace kestrel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Reader reader(data, size);
    Header h;
    if (!fuzz::decoded(h, [&] { return read_header(reader); })) return 0;
    const Writer payload{Bytes(data + header_size, data + size)};
    KESTREL_FUZZ_CHECK(packet(h.type, h.session, h.sequence, h.epoch, payload) ==
                       Bytes(data, data + size));
    return 0;
}
