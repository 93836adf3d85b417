#include "sealed/SealedContainer.h"

#include "sealed/KeyedOrder.h"
#include "sealed/MasterKeyDerivation.h"

#include <algorithm>
#include <array>
#include <memory>
#include <new>
#include <optional>
#include <sodium.h>

static_assert(kSealedTagBytes == crypto_aead_chacha20poly1305_ietf_ABYTES);
static_assert(kSealedKeyBytes == crypto_aead_chacha20poly1305_ietf_KEYBYTES);

namespace {

// Every key seals exactly one message (the salt is fresh for each picture),
// so the nonce can be constant.
constexpr std::array<std::uint8_t, crypto_aead_chacha20poly1305_ietf_NPUBBYTES> kNonce {};

constexpr std::size_t kOffsetPayloadLength = 0;
constexpr std::size_t kOffsetKind = 4;
constexpr std::size_t kOffsetNameLength = 5;

class CRandomDirections : public CDirectionSource {
public:
    bool Up() override
    {
        if (m_bit == 8 * m_bits.size()) {
            randombytes_buf(m_bits.data(), m_bits.size());
            m_bit = 0;
        }
        const bool up = (m_bits[m_bit / 8] >> (m_bit % 8)) & 1;
        ++m_bit;
        return up;
    }

private:
    std::array<std::uint8_t, 256> m_bits {};
    std::size_t m_bit = 8 * 256;
};

std::uint64_t BodyBytes(std::size_t nameLength, std::uint64_t payloadLength)
{
    return nameLength + payloadLength + kSealedTagBytes;
}

std::array<std::uint8_t, kSealedHeaderBytes> MakeHeader(const SealedPayload& payload)
{
    std::array<std::uint8_t, kSealedHeaderBytes> header {};
    const std::uint32_t length = std::uint32_t(payload.bytes.size());
    for (int i = 0; i < 4; ++i)
        header[kOffsetPayloadLength + std::size_t(i)] = std::uint8_t(length >> (8 * i));
    header[kOffsetKind] = std::uint8_t(payload.kind);
    header[kOffsetNameLength] = std::uint8_t(payload.name.size());
    return header;
}

// The cover's element order, or nothing when it does not fit in memory.
std::unique_ptr<CKeyedOrder> MakeOrder(std::uint64_t count)
{
    try {
        return std::make_unique<CKeyedOrder>(std::uint32_t(count));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

bool ExpectDraws(CKeyedOrder& order, std::uint64_t draws)
{
    try {
        order.Expect(draws);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

} // namespace

std::string DescribeSealedStatus(SealedStatus status)
{
    switch (status) {
    case SealedStatus::Ok:
        return {};
    case SealedStatus::DoesNotFit:
        return "The message does not fit the picture's sealed capacity";
    case SealedStatus::NameInvalid:
        return "A hidden file's name must be 1 to 255 bytes without '/' or zero bytes";
    case SealedStatus::CarrierTooLarge:
        return "The picture has too many samples for a sealed message";
    case SealedStatus::OutOfMemory:
        return "There is not enough memory for the sealed format's key derivation";
    case SealedStatus::NotFound:
        return "No hidden message opens with this password";
    }
    return {};
}

std::uint64_t SealedCapacity(std::uint64_t elementCount, std::size_t nameLength)
{
    if (elementCount < kSealedFixedElements || elementCount > kMaxSealedElements)
        return 0;
    const std::uint64_t bodyBytes = (elementCount - kSealedFixedElements) / 8;
    const std::uint64_t overhead = kSealedTagBytes + nameLength;
    return bodyBytes > overhead ? std::min<std::uint64_t>(bodyBytes - overhead, UINT32_MAX) : 0;
}

bool CanCarrySealed(std::uint64_t elementCount, std::size_t nameLength)
{
    return elementCount >= kSealedFixedElements && elementCount <= kMaxSealedElements
        && (elementCount - kSealedFixedElements) / 8 >= kSealedTagBytes + nameLength;
}

bool IsValidSealedName(std::string_view name)
{
    return !name.empty() && name.size() <= kMaxSealedNameLength && name != "." && name != ".."
        && name.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos;
}

SealedStatus SealPayload(CCoverElements& elements, std::string_view password, const SealedPayload& payload,
    const SealOptions& options, SealReport* report)
{
    if (payload.kind == SealedKind::File ? !IsValidSealedName(payload.name) : !payload.name.empty())
        return SealedStatus::NameInvalid;
    const std::uint64_t count = elements.Count();
    if (count > kMaxSealedElements)
        return SealedStatus::CarrierTooLarge;
    if (payload.bytes.size() > UINT32_MAX || !CanCarrySealed(count, payload.name.size())
        || payload.bytes.size() > SealedCapacity(count, payload.name.size()))
        return SealedStatus::DoesNotFit;
    const std::uint64_t bodyBytes = BodyBytes(payload.name.size(), payload.bytes.size());
    MatrixPlan plan;
    if (!PlanMatrixCode(8 * bodyBytes, count - kSealedFixedElements, plan))
        return SealedStatus::DoesNotFit;
    if (!StartSodium())
        return SealedStatus::OutOfMemory;

    CMasterKeyDerivation* const derived
        = options.derived && options.derived->IsFor(password, options.kdf) ? options.derived : nullptr;
    std::array<std::uint8_t, kSealedSaltBytes> salt {};
    if (derived)
        std::copy(derived->Salt(), derived->Salt() + kSealedSaltBytes, salt.begin());
    else if (options.salt)
        std::copy(options.salt, options.salt + kSealedSaltBytes, salt.begin());
    else
        randombytes_buf(salt.data(), salt.size());

    std::unique_ptr<CKeyedOrder> order = MakeOrder(count);
    if (!order || !ExpectDraws(*order, kSealedFixedElements + plan.Elements()))
        return SealedStatus::OutOfMemory;
    {
        CKeyStream saltStream(SaltOrderKey(password));
        order->Draw(kSealedSaltBits, saltStream);
    }
    CSealedKey master;
    if (derived) {
        if (!derived->Finish())
            return SealedStatus::OutOfMemory;
        master = derived->MasterKey();
    } else if (!DeriveMasterKey(password, salt.data(), options.kdf, master)) {
        return SealedStatus::OutOfMemory;
    }

    const std::array<std::uint8_t, kSealedHeaderBytes> header = MakeHeader(payload);
    std::array<std::uint8_t, kSealedHeaderBytes + kSealedTagBytes> sealedHeader {};
    const CSealedKey headerKey = DeriveSubkey(master, SealedSubkey::Header);
    crypto_aead_chacha20poly1305_ietf_encrypt(sealedHeader.data(), nullptr, header.data(), header.size(), nullptr, 0,
        nullptr, kNonce.data(), headerKey.data());

    std::vector<std::uint8_t> body;
    try {
        body.reserve(std::size_t(bodyBytes));
        body.assign(payload.name.begin(), payload.name.end());
        body.insert(body.end(), payload.bytes.begin(), payload.bytes.end());
        body.resize(std::size_t(bodyBytes));
    } catch (const std::bad_alloc&) {
        return SealedStatus::OutOfMemory;
    }
    const std::size_t plainLength = body.size() - kSealedTagBytes;
    const CSealedKey bodyKey = DeriveSubkey(master, SealedSubkey::Body);
    crypto_aead_chacha20poly1305_ietf_encrypt(body.data(), nullptr, body.data(), plainLength, header.data(),
        header.size(), nullptr, kNonce.data(), bodyKey.data());

    CKeyStream orderStream(DeriveSubkey(master, SealedSubkey::Order));
    order->Draw(kSealedHeaderBits + std::size_t(plan.Elements()), orderStream);

    CRandomDirections randomDirections;
    CDirectionSource& directions = options.directions ? *options.directions : randomDirections;
    const MatrixPlan saltPlan { 1, kSealedSaltBits };
    const MatrixPlan headerPlan { 1, kSealedHeaderBits };
    std::uint64_t changes
        = EmbedMatrix(elements, order->Positions(0, kSealedSaltBits), saltPlan, salt, kSealedSaltBits, directions);
    changes += EmbedMatrix(elements, order->Positions(kSealedSaltBits, kSealedHeaderBits), headerPlan, sealedHeader,
        kSealedHeaderBits, directions);
    changes += EmbedMatrix(elements, order->Positions(kSealedFixedElements, std::size_t(plan.Elements())), plan, body,
        8 * bodyBytes, directions);
    if (report) {
        report->elements = count;
        report->elementsUsed = kSealedFixedElements + plan.Elements();
        report->embeddedBits = kSealedFixedElements + 8 * bodyBytes;
        report->changes = changes;
        report->bodyCodeBits = plan.codeBits;
    }
    return SealedStatus::Ok;
}

SealedStatus OpenPayload(
    const CCoverElements& elements, std::string_view password, SealedPayload& payload, const SealedKdfParameters& kdf)
{
    const std::uint64_t count = elements.Count();
    if (!CanCarrySealed(count))
        return SealedStatus::NotFound;
    if (!StartSodium())
        return SealedStatus::OutOfMemory;
    std::unique_ptr<CKeyedOrder> order = MakeOrder(count);
    if (!order)
        return SealedStatus::OutOfMemory;

    std::array<std::uint8_t, kSealedSaltBytes> salt {};
    {
        CKeyStream saltStream(SaltOrderKey(password));
        order->Draw(kSealedSaltBits, saltStream);
    }
    const MatrixPlan saltPlan { 1, kSealedSaltBits };
    if (!ExtractMatrix(elements, order->Positions(0, kSealedSaltBits), saltPlan, salt, kSealedSaltBits))
        return SealedStatus::NotFound;
    CSealedKey master;
    if (!DeriveMasterKey(password, salt.data(), kdf, master))
        return SealedStatus::OutOfMemory;

    CKeyStream orderStream(DeriveSubkey(master, SealedSubkey::Order));
    order->Draw(kSealedHeaderBits, orderStream);
    std::array<std::uint8_t, kSealedHeaderBytes + kSealedTagBytes> sealedHeader {};
    const MatrixPlan headerPlan { 1, kSealedHeaderBits };
    if (!ExtractMatrix(elements, order->Positions(kSealedSaltBits, kSealedHeaderBits), headerPlan, sealedHeader,
            kSealedHeaderBits))
        return SealedStatus::NotFound;
    std::array<std::uint8_t, kSealedHeaderBytes> header {};
    const CSealedKey headerKey = DeriveSubkey(master, SealedSubkey::Header);
    if (crypto_aead_chacha20poly1305_ietf_decrypt(header.data(), nullptr, nullptr, sealedHeader.data(),
            sealedHeader.size(), nullptr, 0, kNonce.data(), headerKey.data())
        != 0)
        return SealedStatus::NotFound;

    // The header is authentic now; a value this version never writes means a
    // container it cannot read.
    std::uint32_t payloadLength = 0;
    for (int i = 3; i >= 0; --i)
        payloadLength = payloadLength << 8 | header[kOffsetPayloadLength + std::size_t(i)];
    const std::uint8_t kind = header[kOffsetKind];
    const std::size_t nameLength = header[kOffsetNameLength];
    if (kind > std::uint8_t(SealedKind::File) || (kind == std::uint8_t(SealedKind::Text)) != (nameLength == 0)
        || header[6] != 0 || header[7] != 0)
        return SealedStatus::NotFound;
    const std::uint64_t bodyBytes = BodyBytes(nameLength, payloadLength);
    MatrixPlan plan;
    if (!PlanMatrixCode(8 * bodyBytes, count - kSealedFixedElements, plan))
        return SealedStatus::NotFound;

    std::vector<std::uint8_t> body;
    try {
        body.assign(std::size_t(bodyBytes), 0);
    } catch (const std::bad_alloc&) {
        return SealedStatus::OutOfMemory;
    }
    if (!ExpectDraws(*order, kSealedFixedElements + plan.Elements()))
        return SealedStatus::OutOfMemory;
    order->Draw(std::size_t(plan.Elements()), orderStream);
    if (!ExtractMatrix(
            elements, order->Positions(kSealedFixedElements, std::size_t(plan.Elements())), plan, body, 8 * bodyBytes))
        return SealedStatus::NotFound;
    const CSealedKey bodyKey = DeriveSubkey(master, SealedSubkey::Body);
    if (crypto_aead_chacha20poly1305_ietf_decrypt(body.data(), nullptr, nullptr, body.data(), body.size(),
            header.data(), header.size(), kNonce.data(), bodyKey.data())
        != 0)
        return SealedStatus::NotFound;

    SealedPayload opened;
    opened.kind = SealedKind(kind);
    opened.name.assign(body.begin(), body.begin() + std::ptrdiff_t(nameLength));
    if (opened.kind == SealedKind::File && !IsValidSealedName(opened.name))
        return SealedStatus::NotFound;
    opened.bytes.assign(body.begin() + std::ptrdiff_t(nameLength), body.end() - std::ptrdiff_t(kSealedTagBytes));
    sodium_memzero(body.data(), body.size());
    payload = std::move(opened);
    return SealedStatus::Ok;
}
