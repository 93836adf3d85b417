#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

// The password yields two plain digests: a 10-byte check stored beside the
// hidden message (the first bytes of its SHA-0 digest) and a 16-byte cipher key
// (its MD5 digest). There is no salt: the same password gives the same check and
// key in every picture.

inline constexpr std::size_t kPasswordCheckLength = 10;
inline constexpr std::size_t kCipherKeyLength = 16;
// Passwords live in a 512-byte zero-terminated buffer, so at most 511 bytes.
inline constexpr std::size_t kMaxPasswordLength = 511;

using PasswordCheck = std::array<std::uint8_t, kPasswordCheckLength>;
using CipherKey = std::array<std::uint8_t, kCipherKeyLength>;

// The password as the digests see it: the bytes before its first zero byte.
// Callers refuse passwords longer than kMaxPasswordLength before they get here.
std::string_view PasswordBytes(std::string_view password);

PasswordCheck MakePasswordCheck(std::string_view password);
CipherKey MakeCipherKey(std::string_view password);
