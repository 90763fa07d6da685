#include "compat/DataProtection.h"

#include "compat/LastError.h"
#include "compat/PrivateFiles.h"
#include "compat/SystemText.h"
#include "compat/WriteAll.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

namespace
{

constexpr std::size_t keySize = 32;
constexpr std::size_t nonceSize = 12;
constexpr std::size_t tagSize = 16;
constexpr BYTE formatVersion = 1;
constexpr std::size_t headerSize = 1 + nonceSize;
constexpr char associatedDataLabel[] = "Wayfold data protection v1";

std::mutex overrideMutex;
std::string keyFileOverride;

// Wipes itself when it goes, so key material and clear text never outlive their use.
class SecretBytes
{
public:
    explicit SecretBytes(std::size_t size) : mBytes(size) {}
    SecretBytes(const SecretBytes&) = delete;
    SecretBytes& operator=(const SecretBytes&) = delete;
    ~SecretBytes() { wipe(); }

    void wipe()
    {
        if (!mBytes.empty())
            OPENSSL_cleanse(mBytes.data(), mBytes.size());
    }
    unsigned char* data() { return mBytes.data(); }
    std::size_t size() const { return mBytes.size(); }
    void resize(std::size_t size) { mBytes.resize(size); }

private:
    std::vector<unsigned char> mBytes;
};

struct CipherContextDeleter
{
    void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};
using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, CipherContextDeleter>;

BOOL fail(DWORD code)
{
    SetLastError(code);
    return FALSE;
}

BOOL failFromErrno()
{
    compat::setLastErrorFromErrno(errno);
    return FALSE;
}

std::string homeFolder()
{
    if (const char* home = std::getenv("HOME"); home && home[0] == '/')
        return home;
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir && entry->pw_dir[0] == '/')
        return entry->pw_dir;
    return {};
}

// The user's data folder, as the known folder LocalAppData gives it.
std::string defaultKeyFile()
{
    std::string dataFolder;
    if (const char* dataHome = std::getenv("XDG_DATA_HOME"); dataHome && dataHome[0] == '/')
        dataFolder = dataHome;
    else if (const std::string home = homeFolder(); !home.empty())
        dataFolder = home + "/.local/share";
    else
        return {};
    return dataFolder + "/quillmere/DataProtection/UserKey";
}

std::string folderOf(const std::string& file)
{
    const std::size_t slash = file.rfind('/');
    return slash == std::string::npos ? "." : file.substr(0, slash == 0 ? 1 : slash);
}

bool readWhole(int descriptor, unsigned char* buffer, std::size_t size)
{
    std::size_t done = 0;
    while (done < size)
    {
        const ssize_t got = ::read(descriptor, buffer + done, size - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        done += static_cast<std::size_t>(got);
    }
    return true;
}

// Reads an existing key. A key file that is not a regular file of exactly the key's size, of the user's own
// and closed to group and others, is refused rather than replaced: replacing it would make every secret
// protected under it unreadable, and a key others could read or have planted protects nothing.
BOOL readKey(const std::string& path, SecretBytes& key)
{
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (descriptor < 0)
        return failFromErrno();
    struct stat status = {};
    const bool usable = ::fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode) &&
                        status.st_uid == ::geteuid() && (status.st_mode & 077) == 0 &&
                        status.st_size == static_cast<off_t>(keySize) &&
                        readWhole(descriptor, key.data(), keySize);
    ::close(descriptor);
    return usable ? TRUE : fail(ERROR_INVALID_DATA);
}

// Writes a new key to a private temporary file and links it into place, so another process never sees a
// partly written key; when another process created the key first, its key is used.
BOOL createKey(const std::string& path, SecretBytes& key)
{
    if (RAND_bytes(key.data(), static_cast<int>(keySize)) != 1)
        return fail(ERROR_INVALID_DATA);

    std::string temporary = path + ".XXXXXX";
    const int descriptor = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (descriptor < 0)
        return failFromErrno();
    const bool written = ::fchmod(descriptor, 0600) == 0 && compat::writeAll(descriptor, key.data(), keySize) &&
                         ::fsync(descriptor) == 0;
    const int writeErrno = errno;
    ::close(descriptor);
    if (!written)
    {
        ::unlink(temporary.c_str());
        errno = writeErrno;
        return failFromErrno();
    }
    const bool linked = ::link(temporary.c_str(), path.c_str()) == 0;
    const int linkErrno = errno;
    ::unlink(temporary.c_str());
    if (linked)
        return TRUE;
    if (linkErrno == EEXIST)
        return readKey(path, key);
    errno = linkErrno;
    return failFromErrno();
}

BOOL loadUserKey(SecretBytes& key)
{
    const std::string path = compat::dataProtectionKeyFile();
    if (path.empty())
        return fail(ERROR_PATH_NOT_FOUND);
    if (!compat::keepFolderPrivate(folderOf(path)))
        return FALSE;
    if (::access(path.c_str(), F_OK) != 0 && errno == ENOENT)
        return createKey(path, key);
    return readKey(path, key);
}

std::vector<unsigned char> associatedData(const DATA_BLOB* entropy)
{
    std::vector<unsigned char> data(associatedDataLabel, associatedDataLabel + sizeof associatedDataLabel);
    const uid_t user = ::getuid();
    for (std::size_t i = 0; i < sizeof user; ++i)
        data.push_back(static_cast<unsigned char>(user >> (8 * i)));
    if (entropy && entropy->cbData > 0)
        data.insert(data.end(), entropy->pbData, entropy->pbData + entropy->cbData);
    return data;
}

bool validBlob(const DATA_BLOB* blob)
{
    return blob && (blob->cbData == 0 || blob->pbData) && blob->cbData <= static_cast<DWORD>(INT_MAX / 2);
}

// Output blobs are released by the caller with LocalFree.
BYTE* allocateOutput(std::size_t size)
{
    return static_cast<BYTE*>(std::malloc(size == 0 ? 1 : size));
}

void clearOutput(DATA_BLOB* dataOut)
{
    if (dataOut)
    {
        dataOut->cbData = 0;
        dataOut->pbData = nullptr;
    }
}

} // namespace

BOOL CryptProtectData(DATA_BLOB* dataIn, LPCWSTR, DATA_BLOB* optionalEntropy, void*,
                      CRYPTPROTECT_PROMPTSTRUCT*, DWORD, DATA_BLOB* dataOut)
{
    clearOutput(dataOut);
    if (!validBlob(dataIn) || !dataOut || (optionalEntropy && !validBlob(optionalEntropy)))
        return fail(ERROR_INVALID_PARAMETER);

    SecretBytes key(keySize);
    if (!loadUserKey(key))
        return FALSE;

    const std::size_t outputSize = headerSize + dataIn->cbData + tagSize;
    BYTE* output = allocateOutput(outputSize);
    if (!output)
        return fail(ERROR_NOT_ENOUGH_MEMORY);
    output[0] = formatVersion;
    unsigned char* nonce = output + 1;
    unsigned char* cipherText = output + headerSize;
    unsigned char* tag = cipherText + dataIn->cbData;

    const std::vector<unsigned char> aad = associatedData(optionalEntropy);
    CipherContext context(EVP_CIPHER_CTX_new());
    int length = 0;
    const bool sealed =
        context && RAND_bytes(nonce, static_cast<int>(nonceSize)) == 1 &&
        EVP_EncryptInit_ex(context.get(), EVP_aes_256_gcm(), nullptr, key.data(), nonce) == 1 &&
        EVP_EncryptUpdate(context.get(), nullptr, &length, aad.data(), static_cast<int>(aad.size())) == 1 &&
        EVP_EncryptUpdate(context.get(), cipherText, &length, dataIn->pbData,
                          static_cast<int>(dataIn->cbData)) == 1 &&
        EVP_EncryptFinal_ex(context.get(), cipherText + length, &length) == 1 &&
        EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_GET_TAG, static_cast<int>(tagSize), tag) == 1;
    if (!sealed)
    {
        LocalFree(output);
        return fail(ERROR_INVALID_DATA);
    }
    dataOut->cbData = static_cast<DWORD>(outputSize);
    dataOut->pbData = output;
    return TRUE;
}

BOOL CryptUnprotectData(DATA_BLOB* dataIn, LPWSTR* description, DATA_BLOB* optionalEntropy, void*,
                        CRYPTPROTECT_PROMPTSTRUCT*, DWORD, DATA_BLOB* dataOut)
{
    clearOutput(dataOut);
    if (description)
        *description = nullptr;
    if (!validBlob(dataIn) || !dataOut || (optionalEntropy && !validBlob(optionalEntropy)))
        return fail(ERROR_INVALID_PARAMETER);
    if (dataIn->cbData < headerSize + tagSize || dataIn->pbData[0] != formatVersion)
        return fail(ERROR_INVALID_DATA);

    SecretBytes key(keySize);
    if (!loadUserKey(key))
        return FALSE;

    const unsigned char* nonce = dataIn->pbData + 1;
    const unsigned char* cipherText = dataIn->pbData + headerSize;
    const std::size_t clearSize = dataIn->cbData - headerSize - tagSize;
    unsigned char* tag = dataIn->pbData + headerSize + clearSize;

    SecretBytes clear(clearSize == 0 ? 1 : clearSize);
    const std::vector<unsigned char> aad = associatedData(optionalEntropy);
    CipherContext context(EVP_CIPHER_CTX_new());
    int length = 0;
    const bool opened =
        context && EVP_DecryptInit_ex(context.get(), EVP_aes_256_gcm(), nullptr, key.data(), nonce) == 1 &&
        EVP_DecryptUpdate(context.get(), nullptr, &length, aad.data(), static_cast<int>(aad.size())) == 1 &&
        EVP_DecryptUpdate(context.get(), clear.data(), &length, cipherText, static_cast<int>(clearSize)) ==
            1 &&
        EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_TAG, static_cast<int>(tagSize), tag) == 1 &&
        EVP_DecryptFinal_ex(context.get(), clear.data() + length, &length) == 1;
    if (!opened)
        return fail(ERROR_INVALID_DATA);

    BYTE* output = allocateOutput(clearSize);
    if (!output)
        return fail(ERROR_NOT_ENOUGH_MEMORY);
    if (clearSize > 0)
        std::memcpy(output, clear.data(), clearSize);
    dataOut->cbData = static_cast<DWORD>(clearSize);
    dataOut->pbData = output;
    return TRUE;
}

namespace compat
{

std::string dataProtectionKeyFile()
{
    {
        std::lock_guard lock(overrideMutex);
        if (!keyFileOverride.empty())
            return keyFileOverride;
    }
    return defaultKeyFile();
}

void setDataProtectionKeyFile(const std::string& path)
{
    std::lock_guard lock(overrideMutex);
    keyFileOverride = path;
}

} // namespace compat
