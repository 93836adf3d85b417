// libFuzzer target: the sealed reader over arbitrary picture bytes with a
// fixed password. Every input must load as a bitmap, PNG or JPEG picture or be
// refused with a reason; a picture with samples must then either open or give
// NotFound, without any access outside a buffer. Argon2id runs at libsodium's
// minimum cost here: the format's 64 MiB would let the fuzzer try only a few
// inputs a second, and the cost does not change the code paths.

#include "sealed/SealedContainer.h"
#include "sealed/SealedPicture.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

constexpr SealedKdfParameters kFuzzKdf { 1, 8192 };
// Small pictures only, so each input runs quickly and memory stays bounded.
constexpr std::uint64_t kMaxImageBytes = 1 << 22;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    CSealedPicture picture;
    if (!picture.LoadFromBytes(std::vector<std::uint8_t>(data, data + size), kMaxImageBytes)) {
        if (picture.GetReason().empty())
            __builtin_trap();
        return 0;
    }
    if (!picture.HasElements()) {
        if (picture.GetReason().empty())
            __builtin_trap();
        return 0;
    }
    if (picture.GetElementCount() > 8 * kMaxImageBytes)
        __builtin_trap();
    SealedPayload payload;
    const SealedStatus status = OpenPayload(picture.GetElements(), "fuzz", payload, kFuzzKdf);
    if (status != SealedStatus::NotFound && status != SealedStatus::Ok)
        __builtin_trap();
    // Sealing into the same cover and opening it again must round-trip.
    if (CanCarrySealed(picture.GetElementCount()) && picture.GetElementCount() <= (1u << 16)) {
        SealedPayload message;
        message.bytes.assign(data, data + std::min<std::size_t>(size, SealedCapacity(picture.GetElementCount())));
        SealOptions options;
        options.kdf = kFuzzKdf;
        if (SealPayload(picture.GetElements(), "fuzz", message, options) != SealedStatus::Ok)
            __builtin_trap();
        SealedPayload opened;
        if (OpenPayload(picture.GetElements(), "fuzz", opened, kFuzzKdf) != SealedStatus::Ok
            || opened.bytes != message.bytes)
            __builtin_trap();
    }
    return 0;
}
