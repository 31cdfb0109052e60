// Credentials::read over arbitrary bytes: an accepted record writes back to its bytes.
#include "fuzz/fuzz_input.h"
#include "protocol/credentials.h"

using namespace kestrel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Reader reader(data, size);
    Credentials credentials;
    if (!fuzz::decoded(credentials, [&] { return Credentials::read(reader); })) return 0;
    KESTREL_FUZZ_CHECK(credentials.write().bytes == Bytes(data, data + size));
    return 0;
}
