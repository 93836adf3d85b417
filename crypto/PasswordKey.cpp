#include "crypto/PasswordKey.h"

#include "crypto/Sha0.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cstdlib>

std::string_view PasswordBytes(std::string_view password)
{
    const std::size_t zero = password.find('\0');
    return zero == std::string_view::npos ? password : password.substr(0, zero);
}

PasswordCheck MakePasswordCheck(std::string_view password)
{
    const std::string_view bytes = PasswordBytes(password);
    const Sha0Digest digest = Sha0(bytes.data(), bytes.size());
    PasswordCheck check;
    std::copy_n(digest.begin(), check.size(), check.begin());
    return check;
}

CipherKey MakeCipherKey(std::string_view password)
{
    const std::string_view bytes = PasswordBytes(password);
    CipherKey key;
    unsigned int length = 0;
    // RFC 1321 MD5; the one-shot EVP call cannot fail for this digest short of
    // memory exhaustion, which is fatal anyway.
    if (EVP_Digest(bytes.data(), bytes.size(), key.data(), &length, EVP_md5(), nullptr) != 1 || length != key.size())
        std::abort();
    return key;
}
