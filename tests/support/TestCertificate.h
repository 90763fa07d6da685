#pragma once

#include <filesystem>

namespace fake {

// A self-signed certificate for 127.0.0.1 and localhost, made with the openssl command in a temporary folder that
// goes with the object.
class TestCertificate {
public:
    TestCertificate();
    ~TestCertificate();
    TestCertificate(const TestCertificate&) = delete;
    TestCertificate& operator=(const TestCertificate&) = delete;

    const std::filesystem::path& certificateFile() const { return mCertificate; }
    const std::filesystem::path& privateKeyFile() const { return mKey; }

private:
    std::filesystem::path mFolder;
    std::filesystem::path mCertificate;
    std::filesystem::path mKey;
};

}  // namespace fake
