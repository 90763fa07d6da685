#pragma once
// Protection of the stored password: the text is sealed for the current user with the data-protection call
// and kept as upper-case hexadecimal text. A random prefix goes in front of the text, so the same text never
// protects twice to the same form.

#include <cstddef>
#include <string>
#include <vector>

namespace dwl
{

// Throws qcl::SystemError when the text cannot be protected; the result is never empty.
std::string encryptString(const std::string& text, const std::vector<unsigned char>& entropy,
                          std::size_t prefixLength);

// An empty text gives an empty result. Malformed hexadecimal, a form shorter than the prefix and a form that
// does not unprotect (another user, key or entropy) throw std::runtime_error "Decryption error".
std::string decryptString(const std::string& hex, const std::vector<unsigned char>& entropy,
                          std::size_t prefixLength);

// The stored password: UTF-8 of the password under the program's fixed entropy and a 32-byte prefix.
std::string encryptPassword(const std::wstring& password);
std::wstring decryptPassword(const std::string& hex);

} // namespace dwl
