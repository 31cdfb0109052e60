// Credentials::read over arbitrary bytes, the way a profile file or a Profile payload
// reaches it: a record it accepts is written back to exactly the bytes it came from.
#include <cstdint>
#include <stdexcept>
#include <string>

#include "fuzz/fuzz_input.h"
#include "protocol/credentials.h"

using namespace kestrel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Reader reader(data, size);
    Credentials credentials;
    try {
        credentials = Credentials::read(reader);
    } catch (const std::runtime_error& error) {
        const std::string message = error.what();
        KESTREL_FUZZ_CHECK(message == "truncated packet" || message == "trailing bytes" ||
                           message == "invalid label" || message == "invalid profile");
        return 0;
    }
    KESTREL_FUZZ_CHECK(size == credentials_size && reader.position == size);
    KESTREL_FUZZ_CHECK(!credentials.name.empty() && credentials.name.size() <= 16);
    KESTREL_FUZZ_CHECK(credentials.party.size() <= 12 && credentials.color <= 4);
    KESTREL_FUZZ_CHECK(credentials.write().bytes == Bytes(data, data + size));
    KESTREL_FUZZ_CHECK(credentials.key().size() == 32);
    return 0;
}
