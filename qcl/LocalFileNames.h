#pragma once
// Rules that turn names from the server into valid local file names: sanitising, splitting into stem and
// extension, cutting to the length limit, and the candidate names tried when a name is taken.
//
// Everywhere a name loses "/", NUL and the other control characters, and "." and ".." are replaced. What
// Windows forbids besides (the characters " * : < > ? \ |, trailing dots and spaces, device names such as
// "CON") is removed only where the file system forbids it, so that every Device of a platform writes a server
// name as it was uploaded.
//
// Texts are UTF-16 and lengths count UTF-16 units. No function here throws (except for lack of memory).

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

namespace dwl
{
// The longest name a directory entry may have, in UTF-16 units and, since the file system here counts
// bytes, also in bytes of its UTF-8 form.
constexpr std::size_t kMaxFileNameLength = 255;

// Whether names follow the Windows rules (see above); the one place where the platform decides.
#ifdef _WIN32
inline constexpr bool kWindowsFileNameRules = true;
#else
inline constexpr bool kWindowsFileNameRules = false;
#endif

// Units below U+0020 and "/"; under the Windows rules also the eight characters " * : < > ? \ |.
bool isInvalidFileNameChar(wchar_t unit);
std::wstring::const_iterator findInvalidFileNameChar(std::wstring::const_iterator first,
                                                     std::wstring::const_iterator last);
// Removes the invalid units in place, keeping the order of the others; returns the new end.
std::wstring::iterator removeInvalidFileNameChars(std::wstring::iterator first, std::wstring::iterator last);

// CON, PRN, AUX, NUL, COM1-COM9, LPT1-LPT9 and CLOCK$; the text must already be in upper case.
bool isReservedDeviceName(const std::wstring& upperCaseText);

// Removes invalid units and gives "_" for a name left empty, "." or "..". Under the Windows rules it also
// removes trailing dots and spaces and puts "_" after a stem that spells a reserved device name ("con.txt"
// becomes "con_.txt").
std::wstring sanitizeFileName(std::wstring name);

// Stem and extension with its dot, of the sanitised name: "report.pdf" gives ("report", ".pdf"); a name
// whose only dots lead it (".profile") has no extension.
std::pair<std::wstring, std::wstring> splitSanitizedFileName(std::wstring name);

// Stem and extension without its dot, of the name as it is: "archive.tar.gz" gives ("archive.tar", "gz");
// no extension when there is no dot, the dot is last, or it lies in the leading run of dots.
std::pair<std::wstring, std::wstring> splitFileName(const std::wstring& name);

// The longest prefix of at most `maxUnits` units that does not end between the halves of a surrogate pair.
std::wstring truncateUtf16(const std::wstring& text, std::size_t maxUnits);

// The name to try at attempt 1, 2, 3... of creating or moving a directory or a file named `name` from the
// server. Attempt 1 is the sanitised name; each later attempt n carries the suffix " (n)", for which the
// stem (or else the extension) is cut, so that every attempt gives a different name. Every candidate fits
// in kMaxFileNameLength units and bytes and is a valid name (under the Windows rules it never ends in a dot
// or a space).
std::wstring directoryCandidateName(const std::wstring& name, std::uint64_t attempt);
std::wstring fileCandidateName(const std::wstring& name, std::uint64_t attempt);

// Whether a local name is the candidate of the server name `name` at some attempt: attempt 1, or the attempt
// that a " (n)" in the local name names. Tells whether a local item already carries its server name.
bool isDirectoryCandidateName(const std::wstring& localName, const std::wstring& name);
bool isFileCandidateName(const std::wstring& localName, const std::wstring& name);
} // namespace dwl
