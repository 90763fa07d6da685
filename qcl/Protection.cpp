#include "qcl/Protection.h"

#include "compat/DataProtection.h"
#include "compat/LastError.h"
#include "compat/SystemText.h"
#include "qcl/Error.h"
#include "qcl/String.h"

#include <openssl/crypto.h>
#include <openssl/rand.h>

#include <array>
#include <memory>
#include <stdexcept>

namespace dwl
{
namespace
{

// Fixed for the program: a password protected by one build is read back by any build with the same block.
constexpr std::array<unsigned char, 32> passwordEntropy = {
    0x5a, 0x1f, 0x93, 0xc4, 0x07, 0x6e, 0xb2, 0x38, 0xe1, 0x4d, 0x8a, 0x25, 0xf0, 0x69, 0x13, 0xbc,
    0x72, 0xd8, 0x0b, 0x9e, 0x46, 0xa3, 0x5c, 0xe7, 0x31, 0x84, 0xfd, 0x2a, 0x60, 0xcb, 0x17, 0x95,
};
constexpr std::size_t passwordPrefixLength = 32;

// Overwrites a buffer that held clear bytes before it is released.
template <typename Bytes> void wipe(Bytes& bytes)
{
    if (!bytes.empty())
        OPENSSL_cleanse(bytes.data(), bytes.size() * sizeof(bytes[0]));
}

// Owns an output blob of the data-protection calls: wipes and releases it on every path.
struct OutputBlob : DATA_BLOB
{
    OutputBlob() : DATA_BLOB{0, nullptr} {}
    OutputBlob(const OutputBlob&) = delete;
    OutputBlob& operator=(const OutputBlob&) = delete;
    ~OutputBlob()
    {
        if (pbData)
        {
            OPENSSL_cleanse(pbData, cbData);
            LocalFree(pbData);
        }
    }
};

DATA_BLOB blobOf(const std::vector<unsigned char>& bytes)
{
    return {static_cast<DWORD>(bytes.size()), const_cast<BYTE*>(bytes.data())};
}

[[noreturn]] void decryptionError()
{
    throw std::runtime_error("Decryption error");
}

int hexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::vector<unsigned char> decodeHex(const std::string& hex)
{
    if (hex.size() % 2 != 0)
        decryptionError();
    std::vector<unsigned char> bytes;
    bytes.reserve(hex.size() / 2);
    for (std::size_t i = 0; i < hex.size(); i += 2)
    {
        const int high = hexDigitValue(hex[i]);
        const int low = hexDigitValue(hex[i + 1]);
        if (high < 0 || low < 0)
            decryptionError();
        bytes.push_back(static_cast<unsigned char>(high << 4 | low));
    }
    return bytes;
}

std::string encodeHex(const BYTE* bytes, std::size_t size)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string hex;
    hex.reserve(size * 2);
    for (std::size_t i = 0; i < size; ++i)
    {
        hex.push_back(digits[bytes[i] >> 4]);
        hex.push_back(digits[bytes[i] & 0x0F]);
    }
    return hex;
}

} // namespace

std::string encryptString(const std::string& text, const std::vector<unsigned char>& entropy,
                          std::size_t prefixLength)
{
    std::vector<unsigned char> clear(prefixLength + text.size());
    if (prefixLength > 0 && RAND_bytes(clear.data(), static_cast<int>(prefixLength)) != 1)
        throw std::runtime_error("Cannot draw random bytes");
    std::copy(text.begin(), text.end(), clear.begin() + static_cast<std::ptrdiff_t>(prefixLength));

    DATA_BLOB input = blobOf(clear);
    DATA_BLOB entropyBlob = blobOf(entropy);
    OutputBlob output;
    const BOOL protectedOk = CryptProtectData(&input, nullptr, &entropyBlob, nullptr, nullptr, 0, &output);
    const DWORD error = GetLastError();
    wipe(clear);
    if (!protectedOk || output.cbData == 0)
        throw qcl::SystemError(L"Cannot protect data", error);
    return encodeHex(output.pbData, output.cbData);
}

std::string decryptString(const std::string& hex, const std::vector<unsigned char>& entropy,
                          std::size_t prefixLength)
{
    if (hex.empty())
        return {};
    std::vector<unsigned char> sealed = decodeHex(hex);
    DATA_BLOB input = blobOf(sealed);
    DATA_BLOB entropyBlob = blobOf(entropy);
    OutputBlob output;
    CryptUnprotectData(&input, nullptr, &entropyBlob, nullptr, nullptr, 0, &output);
    if (output.cbData < prefixLength)
        decryptionError();
    return std::string(reinterpret_cast<const char*>(output.pbData) + prefixLength,
                       output.cbData - prefixLength);
}

std::string encryptPassword(const std::wstring& password)
{
    std::string utf8 = qcl::string::utf16ToUtf8(password);
    const std::vector<unsigned char> entropy(passwordEntropy.begin(), passwordEntropy.end());
    try
    {
        std::string result = encryptString(utf8, entropy, passwordPrefixLength);
        wipe(utf8);
        return result;
    }
    catch (...)
    {
        wipe(utf8);
        throw;
    }
}

std::wstring decryptPassword(const std::string& hex)
{
    const std::vector<unsigned char> entropy(passwordEntropy.begin(), passwordEntropy.end());
    std::string utf8 = decryptString(hex, entropy, passwordPrefixLength);
    try
    {
        std::wstring password = qcl::string::utf8ToUtf16(utf8);
        wipe(utf8);
        return password;
    }
    catch (...)
    {
        wipe(utf8);
        throw;
    }
}

} // namespace dwl
