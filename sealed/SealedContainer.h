#pragma once

#include "sealed/CoverElements.h"
#include "sealed/MatrixEmbedding.h"
#include "sealed/SealedKeys.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The sealed container (docs/sealed-format.md). In the keyed order of the
// cover elements it places, with nothing in the clear:
//   positions 0-127    the 16-byte Argon2id salt, one bit per element
//   positions 128-319  the sealed header: 8 bytes under ChaCha20-Poly1305
//                      with the header subkey, plus its 16-byte tag
//   positions 320-     the sealed body (file name, then payload, under the
//                      body subkey with the header as associated data),
//                      matrix-embedded (MatrixEmbedding.h)
// Header: payload length (32-bit little-endian), kind, name length, two zero
// bytes. The reader learns the body's length from the header before it reads
// the body.

inline constexpr std::size_t kSealedSaltBits = kSealedSaltBytes * 8;
inline constexpr std::size_t kSealedHeaderBytes = 8;
inline constexpr std::size_t kSealedTagBytes = 16;
inline constexpr std::size_t kSealedHeaderBits = (kSealedHeaderBytes + kSealedTagBytes) * 8;
inline constexpr std::size_t kSealedFixedElements = kSealedSaltBits + kSealedHeaderBits;
inline constexpr std::size_t kMaxSealedNameLength = 255;
// The order of the elements is one 32-bit entry per element.
inline constexpr std::uint64_t kMaxSealedElements = std::uint64_t(1) << 30;

enum class SealedKind : std::uint8_t { Text = 0, File = 1 };

struct SealedPayload {
    SealedKind kind = SealedKind::Text;
    std::string name; // a file's name (no folder); empty for text
    std::vector<std::uint8_t> bytes;
};

enum class SealedStatus {
    Ok,
    DoesNotFit, // the payload exceeds the sealed capacity
    NameInvalid, // a file name that is empty, too long, or holds '/' or a zero byte
    CarrierTooLarge, // more elements than the format orders
    OutOfMemory, // Argon2id or the element order could not get their memory
    NotFound, // no sealed message opens with this password
};

// One clear sentence for a status (empty for Ok).
std::string DescribeSealedStatus(SealedStatus status);

// The largest payload, in bytes, that a cover of `elementCount` elements
// takes: floor((N - 320) / 8) - 16 - nameLength, and 0 when that is not
// positive. CanCarrySealed says whether even an empty payload fits.
std::uint64_t SealedCapacity(std::uint64_t elementCount, std::size_t nameLength = 0);
bool CanCarrySealed(std::uint64_t elementCount, std::size_t nameLength = 0);
bool IsValidSealedName(std::string_view name);

class CMasterKeyDerivation;

struct SealOptions {
    SealedKdfParameters kdf = kSealedKdf;
    const std::uint8_t* salt = nullptr; // a fixed salt for known answers; random when null
    // Salt and master key derived ahead for this password and `kdf`; used
    // when set and started, in place of `salt` and a derivation of its own.
    CMasterKeyDerivation* derived = nullptr;
    CDirectionSource* directions = nullptr; // random step directions when null
};

// What an embedding did, for the figures the format promises.
struct SealReport {
    std::uint64_t elements = 0; // elements of the cover
    std::uint64_t elementsUsed = 0; // salt, header and body blocks
    std::uint64_t embeddedBits = 0; // salt, header and body bits
    std::uint64_t changes = 0; // elements stepped by one
    unsigned bodyCodeBits = 0; // k of the body's Hamming code
};

// Seals `payload` under `password` into `elements`. Every check runs before
// an element changes, so a refusal leaves the cover as it was.
[[nodiscard]] SealedStatus SealPayload(CCoverElements& elements, std::string_view password,
    const SealedPayload& payload, const SealOptions& options = {}, SealReport* report = nullptr);

// Opens a sealed payload. Any failure (wrong password, no sealed message, a
// changed element) gives NotFound: without the password they look the same.
[[nodiscard]] SealedStatus OpenPayload(const CCoverElements& elements, std::string_view password,
    SealedPayload& payload, const SealedKdfParameters& kdf = kSealedKdf);
