#include "picture/CarrierPicture.h"

#include "picture/SecretContainer.h"

#include <cstring>

void CCarrierPicture::MarkSecret()
{
    if (std::uint8_t* container = ContainerBuffer())
        std::memcpy(container, kContainerMagic, kContainerMagicLength);
}

std::uint8_t* CCarrierPicture::GetDataBuffer()
{
    std::uint8_t* container = ContainerBuffer();
    return container != nullptr ? container + kContainerHeaderLength : nullptr;
}

void CCarrierPicture::SetPasswordDigest(const std::uint8_t* digest)
{
    if (std::uint8_t* container = ContainerBuffer())
        std::memcpy(container + kContainerMagicLength, digest, kContainerHeaderLength - kContainerMagicLength);
}

void CCarrierPicture::GetPasswordDigest(std::uint8_t* digest) const
{
    const std::size_t length = kContainerHeaderLength - kContainerMagicLength;
    if (const std::uint8_t* container = ContainerBuffer())
        std::memcpy(digest, container + kContainerMagicLength, length);
    else
        std::memset(digest, 0, length);
}

std::string CCarrierPicture::WhyCannotHide() const
{
    return IsLoaded() ? std::string() : DescribeContainerStatus(ContainerStatus::NotLoaded, 0);
}
