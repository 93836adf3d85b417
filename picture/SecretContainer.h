#pragma once

#include "picture/CarrierPicture.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The secret-data container that every carrier picture holds:
//   bytes 0-5   magic "VMHD01" (only the first three letters are compared)
//   bytes 6-15  password check (first 10 bytes of the password's SHA-0 digest)
//   bytes 16-19 length word: message length + 1, 32-bit little-endian
//   bytes 20-   message area: the data space, a multiple of 16 bytes, holding
//               the zero-terminated message, zero-padded and enciphered in
//               16-byte units.

inline constexpr char kContainerMagic[] = "VMHD01";
inline constexpr std::size_t kContainerMagicLength = 6;
inline constexpr std::size_t kContainerHeaderLength = 16;
inline constexpr std::size_t kContainerOverhead = 20; // header + length word

// The data space for a carrier capacity of `capacity` bytes: capacity - 20
// rounded down to a multiple of 16, and 0 when fewer than 20 bytes are carried
// (such a picture cannot hold a container at all).
constexpr std::uint32_t DataSpaceForCapacity(std::uint32_t capacity)
{
    return capacity < kContainerOverhead ? 0 : (capacity - kContainerOverhead) & ~std::uint32_t(15);
}

// Bytes of message area that a message of `length` bytes occupies: the message
// and its terminating zero, rounded up to whole 16-byte units.
constexpr std::size_t CipheredLength(std::size_t length) { return (length + 1 + 15) & ~std::size_t(15); }

// The largest message that fits `dataSpace` bytes of message area.
constexpr std::size_t MaxMessageLength(std::uint32_t dataSpace) { return dataSpace == 0 ? 0 : dataSpace - 1; }

// Recognition: the container buffer starts with the magic's first three letters.
bool StartsWithContainerMagic(const std::uint8_t* buffer, std::size_t length);

enum class ContainerStatus {
    Ok,
    NotLoaded, // the picture holds no image
    PasswordTooLong, // more than 511 bytes
    MessageHasZeroByte, // the message could not be read back past a zero byte
    MessageTooLong, // the enciphered message exceeds the data space
    NoSecretData, // the picture does not start with the magic
    WrongPassword,
};

// One clear sentence for a status (empty for Ok).
std::string DescribeContainerStatus(ContainerStatus status, std::uint32_t dataSpace);
// The same for a status about `picture`, which may say why it has no room.
std::string DescribeContainerStatus(ContainerStatus status, const CCarrierPicture& picture);

// Whether `message` can be hidden in `picture`: Ok, MessageHasZeroByte (the
// load road ends a message at its first zero byte) or MessageTooLong (its
// enciphered length exceeds the data space). The save road and every caller
// that asks before it use this one check.
[[nodiscard]] ContainerStatus CheckMessage(const CCarrierPicture& picture, std::string_view message);

// Save road: stores the password check, clears the length word and message
// area, writes the length word, enciphers the zero-padded message into the
// message area and marks the magic. Every check runs before anything changes,
// so a refused message leaves the picture as it was. Logs 127, 130, 131.
[[nodiscard]] ContainerStatus WriteContainer(
    CCarrierPicture& picture, std::string_view password, std::string_view message);

// Load road: compares the password check and deciphers the message area up
// to its first zero byte; the message is the text before it. Logs 127, 128, 129 after
// the password has been accepted.
[[nodiscard]] ContainerStatus ReadContainer(CCarrierPicture& picture, std::string_view password, std::string& message);
