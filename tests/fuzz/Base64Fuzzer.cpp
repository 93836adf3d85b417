// libFuzzer target: the Base64 decoder over arbitrary text, and the round
// trip through the encoder. Decoding must stay inside its buffer whatever the
// text, and every byte string must come back unchanged from its own encoding.

#include "mail/Base64Coder.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    CBase64Coder coder;

    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<std::uint8_t> buffer(std::strlen(text.c_str()) + 1);
    const int count = coder.FromBase64(text.c_str(), buffer);
    if (count < 0 || std::size_t(count) > buffer.size())
        __builtin_trap();

    const std::string encoded = coder.ToBase64(data, int(size));
    if (encoded.size() != (size + 2) / 3 * 4)
        __builtin_trap();
    std::vector<std::uint8_t> decoded(encoded.size() + 1);
    const int decodedCount = coder.FromBase64(encoded.c_str(), decoded);
    if (std::size_t(decodedCount) != size || std::memcmp(decoded.data(), data, size) != 0)
        __builtin_trap();
    return 0;
}
