#include "picture/SecretContainer.h"

#include "crypto/PasswordKey.h"
#include "crypto/UnitCipher.h"
#include "res/Log.h"
#include "res/StringIds.h"
#include "res/StringTable.h"

#include <algorithm>
#include <cstring>
#include <vector>

bool StartsWithContainerMagic(const std::uint8_t* buffer, std::size_t length)
{
    return buffer != nullptr && length >= 3 && std::memcmp(buffer, kContainerMagic, 3) == 0;
}

std::string DescribeContainerStatus(ContainerStatus status, std::uint32_t dataSpace)
{
    switch (status) {
    case ContainerStatus::Ok:
        return {};
    case ContainerStatus::NotLoaded:
        return "No picture is loaded.";
    case ContainerStatus::PasswordTooLong:
        return FormatText("The password is too long: at most %zu bytes are allowed.", kMaxPasswordLength);
    case ContainerStatus::MessageHasZeroByte:
        return "The message contains a zero byte, which cannot be hidden.";
    case ContainerStatus::MessageTooLong:
        if (dataSpace == 0)
            return "The picture is too small to hold a message.";
        return FormatText(
            "The message is too long: this picture holds at most %zu bytes.", MaxMessageLength(dataSpace));
    case ContainerStatus::NoSecretData:
        return "The picture carries no secret data.";
    case ContainerStatus::WrongPassword:
        return LoadResString(IDS_WRONG_PASSWORD);
    }
    return {};
}

std::string DescribeContainerStatus(ContainerStatus status, const CCarrierPicture& picture)
{
    if (status == ContainerStatus::MessageTooLong && picture.GetDataSpace() == 0) {
        if (std::string reason = picture.GetNoRoomReason(); !reason.empty())
            return reason;
    }
    return DescribeContainerStatus(status, picture.GetDataSpace());
}

ContainerStatus CheckMessage(const CCarrierPicture& picture, std::string_view message)
{
    if (message.find('\0') != std::string_view::npos)
        return ContainerStatus::MessageHasZeroByte;
    const std::uint32_t dataSpace = picture.GetDataSpace();
    if (dataSpace == 0 || CipheredLength(message.size()) > dataSpace)
        return ContainerStatus::MessageTooLong;
    return ContainerStatus::Ok;
}

ContainerStatus WriteContainer(CCarrierPicture& picture, std::string_view password, std::string_view message)
{
    if (!picture.IsLoaded() || picture.GetDataBuffer() == nullptr)
        return ContainerStatus::NotLoaded;
    if (password.size() > kMaxPasswordLength)
        return ContainerStatus::PasswordTooLong;
    if (const ContainerStatus status = CheckMessage(picture, message); status != ContainerStatus::Ok)
        return status;

    const PasswordCheck check = MakePasswordCheck(password);
    picture.SetPasswordDigest(check.data());
    WriteLog(IDS_LOG_GENERATE_KEY);
    std::uint8_t* area = picture.GetDataBuffer();
    const CUnitCipher cipher(MakeCipherKey(password));

    std::memset(area, 0, std::size_t(picture.GetDataSpace()) + 4);
    const std::uint32_t lengthWord = std::uint32_t(message.size() + 1);
    for (int i = 0; i < 4; ++i)
        area[i] = std::uint8_t(lengthWord >> (8 * i));

    std::vector<std::uint8_t> plain(CipheredLength(message.size()), 0);
    WriteLog(IDS_LOG_ENCRYPT_START);
    std::copy(message.begin(), message.end(), plain.begin());
    for (std::size_t unit = 0; unit < plain.size(); unit += kCipherUnitLength)
        cipher.Encrypt(plain.data() + unit, area + 4 + unit);
    WriteLog(IDS_LOG_ENCRYPT_END);
    picture.MarkSecret();
    return ContainerStatus::Ok;
}

ContainerStatus ReadContainer(CCarrierPicture& picture, std::string_view password, std::string& message)
{
    if (!picture.IsLoaded() || picture.GetDataBuffer() == nullptr)
        return ContainerStatus::NotLoaded;
    if (!picture.HasSecretData())
        return ContainerStatus::NoSecretData;
    if (password.size() > kMaxPasswordLength)
        return ContainerStatus::PasswordTooLong;

    std::uint8_t stored[kPasswordCheckLength];
    picture.GetPasswordDigest(stored);
    const PasswordCheck check = MakePasswordCheck(password);
    if (!std::equal(check.begin(), check.end(), stored))
        return ContainerStatus::WrongPassword;

    WriteLog(IDS_LOG_GENERATE_KEY);
    const std::uint8_t* area = picture.GetDataBuffer() + 4;
    const CUnitCipher cipher(MakeCipherKey(password));
    const std::uint32_t dataSpace = picture.GetDataSpace();
    // The message is the text before the first zero byte of the deciphered
    // area, and the units are deciphered one by one, so the units after the
    // one holding that zero cannot change it and are left alone. The bytes
    // after the last whole unit are not enciphered and count as zeros.
    std::string text;
    WriteLog(IDS_LOG_DECRYPT_START);
    bool ended = false;
    for (std::size_t unit = 0; !ended && unit + kCipherUnitLength <= dataSpace; unit += kCipherUnitLength) {
        std::uint8_t plain[kCipherUnitLength];
        cipher.Decrypt(area + unit, plain);
        const std::uint8_t* end = std::find(plain, plain + kCipherUnitLength, std::uint8_t(0));
        text.append(reinterpret_cast<const char*>(plain), std::size_t(end - plain));
        ended = end != plain + kCipherUnitLength;
    }
    WriteLog(IDS_LOG_DECRYPT_END);
    message = std::move(text);
    return ContainerStatus::Ok;
}
