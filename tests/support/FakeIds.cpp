#include "support/FakeIds.h"

#include <algorithm>
#include <cctype>
#include <mutex>
#include <random>

#include "support/FakeTypes.h"

namespace fake {

bool CaseInsensitiveLess::operator()(const std::string& a, const std::string& b) const {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](unsigned char x, unsigned char y) {
        return std::tolower(x) < std::tolower(y);
    });
}

std::string RecordedRequest::header(const std::string& name) const {
    const auto found = headers.find(name);
    return found == headers.end() ? std::string() : found->second;
}

bool RecordedRequest::hasHeader(const std::string& name) const { return headers.count(name) != 0; }

FaultRule FaultRule::status_(std::string method, std::string pathPattern, int status, std::string body) {
    FaultRule rule = of(FaultKind::Status, std::move(method), std::move(pathPattern));
    rule.status = status;
    rule.body = std::move(body);
    return rule;
}

FaultRule FaultRule::of(FaultKind kind, std::string method, std::string pathPattern) {
    FaultRule rule;
    rule.kind = kind;
    rule.method = std::move(method);
    rule.pathPattern = std::move(pathPattern);
    return rule;
}

std::string newId() {
    static std::mutex mutex;
    static std::mt19937_64 generator{std::random_device{}()};
    static const char digits[] = "0123456789abcdef";
    std::lock_guard lock(mutex);
    std::string id;
    for (int i = 0; i < 32; ++i) id += digits[generator() % 16];
    return id;
}

std::optional<std::string> normaliseId(const std::string& text) {
    std::string digits;
    for (const char c : text) {
        if (c == '-') {
            if (digits.size() == 32) return std::nullopt;
            continue;
        }
        if (!std::isxdigit(static_cast<unsigned char>(c)) || digits.size() == 32) return std::nullopt;
        digits += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (digits.size() != 32) return std::nullopt;
    return digits;
}

std::string formatId(const std::string& normalised) {
    std::string text;
    for (std::size_t i = 0; i < normalised.size(); ++i) {
        if (i != 0 && i % 4 == 0) text += '-';
        text += normalised[i];
    }
    return text;
}

bool isCanonicalId(const std::string& text) {
    const auto normalised = normaliseId(text);
    return normalised && formatId(*normalised) == text;
}

std::optional<std::string> decodeBase64(const std::string& text) {
    static const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    unsigned buffer = 0;
    int bits = 0;
    std::size_t i = 0;
    for (; i < text.size() && text[i] != '='; ++i) {
        const auto value = alphabet.find(text[i]);
        if (value == std::string::npos) return std::nullopt;
        buffer = (buffer << 6) | static_cast<unsigned>(value);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((buffer >> bits) & 0xFF);
        }
    }
    for (; i < text.size(); ++i)
        if (text[i] != '=') return std::nullopt;
    return out;
}

}  // namespace fake
