#pragma once

#include <optional>
#include <string>

namespace fake {

// A new random id, 32 lower-case hex digits without "-".
std::string newId();
// 32 lower-case hex digits from any lenient form ("-" anywhere, either case); empty optional when malformed.
std::optional<std::string> normaliseId(const std::string& text);
// The 39-character form: 8 groups of 4 digits joined by "-".
std::string formatId(const std::string& normalised);
// True when text is exactly in the 39-character lower-case form.
bool isCanonicalId(const std::string& text);

std::optional<std::string> decodeBase64(const std::string& text);

}  // namespace fake
