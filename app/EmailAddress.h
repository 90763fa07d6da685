#pragma once

#include <string>

namespace dwl
{
// True when the whole text is a dot-atom, "@", and a dot-atom: atoms of ASCII letters, digits and
// ! # $ % & ' * + - / = ? ^ _ ` { | } ~, joined by single dots. No white space is skipped and the domain
// needs no dot.
bool isValidEmailAddress(const std::wstring& text);

// Whether two texts name the same account: e-mail addresses are compared ignoring the case of ASCII letters,
// as the server compares them.
bool isSameEmailAddress(const std::wstring& a, const std::wstring& b);
} // namespace dwl
