#include "support/TestCertificate.h"

#include <cstdlib>
#include <stdexcept>
#include <string>

namespace fake {

TestCertificate::TestCertificate() {
    std::string pattern = (std::filesystem::temp_directory_path() / "wayfold-cert-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("Cannot create a temporary folder");
    mFolder = pattern;
    mCertificate = mFolder / "certificate.pem";
    mKey = mFolder / "key.pem";
    const std::string command = "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1"
                                " -addext subjectAltName=IP:127.0.0.1,DNS:localhost -keyout '" +
                                mKey.string() + "' -out '" + mCertificate.string() + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) throw std::runtime_error("openssl could not make a certificate");
}

TestCertificate::~TestCertificate() {
    std::error_code ignored;
    std::filesystem::remove_all(mFolder, ignored);
}

}  // namespace fake
