#include "compat/FileNameText.h"
#include "qcl/LocalFileNames.h"
#include "qcl/String.h"

#include <gtest/gtest.h>

#include <set>

using namespace dwl;

namespace
{
using Split = std::pair<std::wstring, std::wstring>;

std::size_t utf8Bytes(const std::wstring& text)
{
    std::string bytes;
    EXPECT_TRUE(compat::utf16ToFileName(text.data(), text.data() + text.size(), bytes));
    return bytes.size();
}
} // namespace

TEST(SanitizeFileName, RemovesForbiddenUnitsAndTrailingDotsAndSpaces)
{
    EXPECT_EQ(sanitizeFileName(L"a<b>c?.txt"), L"abc.txt");
    EXPECT_EQ(sanitizeFileName(L"x\ty\nz\x7f"), L"xyz\x7f");
    EXPECT_EQ(sanitizeFileName(L"\"*/:|\\ok"), L"ok");
    EXPECT_EQ(sanitizeFileName(L"report. . ."), L"report");
    EXPECT_EQ(sanitizeFileName(L"..."), L"_");
    EXPECT_EQ(sanitizeFileName(L""), L"_");
    EXPECT_EQ(sanitizeFileName(L"caf\xe9 \xD83D\xDE00"), L"caf\xe9 \xD83D\xDE00");
}

TEST(SanitizeFileName, MarksReservedDeviceNames)
{
    EXPECT_EQ(sanitizeFileName(L"con.txt"), L"con_.txt");
    EXPECT_EQ(sanitizeFileName(L"COM1"), L"COM1_");
    EXPECT_EQ(sanitizeFileName(L"lpt9 .doc"), L"lpt9_ .doc");
    EXPECT_EQ(sanitizeFileName(L"clock$"), L"clock$_");
    EXPECT_EQ(sanitizeFileName(L"nul ."), L"nul_");
    for (const wchar_t* unchanged : {L"COM0", L"console", L"con-x.txt", L"LPT10"})
        EXPECT_EQ(sanitizeFileName(unchanged), unchanged);
}

TEST(SplitFileName, SplitsAtTheLastDotOutsideTheLeadingRun)
{
    EXPECT_EQ(splitFileName(L"archive.tar.gz"), Split(L"archive.tar", L"gz"));
    EXPECT_EQ(splitFileName(L".profile"), Split(L".profile", L""));
    EXPECT_EQ(splitFileName(L"name."), Split(L"name.", L""));
    EXPECT_EQ(splitFileName(L"a..b"), Split(L"a.", L"b"));
    EXPECT_EQ(splitFileName(L"noext"), Split(L"noext", L""));
    EXPECT_EQ(splitFileName(L""), Split(L"", L""));

    EXPECT_EQ(splitSanitizedFileName(L"report.pdf"), Split(L"report", L".pdf"));
    EXPECT_EQ(splitSanitizedFileName(L"a.b."), Split(L"a", L".b"));
    EXPECT_EQ(splitSanitizedFileName(L"..x"), Split(L"..x", L""));
    EXPECT_EQ(splitSanitizedFileName(L"con.txt"), Split(L"con_", L".txt"));
}

TEST(TruncateUtf16, NeverSplitsASurrogatePair)
{
    std::wstring text(254, L'a');
    text += L"\xD83D\xDE00xyz"; // the pair is units 255 and 256 (from 1)
    EXPECT_EQ(truncateUtf16(text, 255).size(), 254u);
    EXPECT_EQ(truncateUtf16(text, 256).size(), 256u);
    EXPECT_EQ(truncateUtf16(text, 0), L"");
    EXPECT_EQ(truncateUtf16(L"abc", 10), L"abc");
    EXPECT_EQ(truncateUtf16(L"\xDC00\xDC00\xDC00", 2), L""); // moves back at most to the start
}

TEST(CandidateNames, LongDocumentNameKeepsItsExtensionAndSuffix)
{
    const std::wstring name = std::wstring(296, L'n') + L".pdf";
    EXPECT_EQ(fileCandidateName(name, 1), std::wstring(251, L'n') + L".pdf");
    EXPECT_EQ(fileCandidateName(name, 2), std::wstring(247, L'n') + L" (2).pdf");
    EXPECT_EQ(fileCandidateName(L"a<b.txt", 1), L"ab.txt");
    EXPECT_EQ(fileCandidateName(L"a<b.txt", 12), L"ab (12).txt");
    EXPECT_EQ(directoryCandidateName(L"docs.", 1), L"docs");
    EXPECT_EQ(directoryCandidateName(L"docs", 3), L"docs (3)");
    EXPECT_EQ(directoryCandidateName(std::wstring(300, L'd'), 2), std::wstring(251, L'd') + L" (2)");
}

TEST(CandidateNames, VeryLongExtensionIsCutAndTheSuffixStays)
{
    const std::wstring name = L"stem." + std::wstring(300, L'e');
    const std::wstring second = fileCandidateName(name, 2);
    EXPECT_EQ(second.size(), 255u);
    EXPECT_EQ(second.substr(0, 9), L"stem (2).");
    EXPECT_EQ(fileCandidateName(name, 1), L"stem." + std::wstring(250, L'e'));
    EXPECT_NE(fileCandidateName(name, 3), second);
}

TEST(CandidateNames, CutToTwoHundredFiftyFiveBytesAtACodePointBoundary)
{
    const std::wstring euros(200, L'\x20AC'); // three bytes each
    const std::wstring directory = directoryCandidateName(euros, 1);
    EXPECT_EQ(directory.size(), 85u);
    const std::wstring file = fileCandidateName(euros + L".txt", 4);
    EXPECT_LE(utf8Bytes(file), 255u);
    EXPECT_EQ(file.substr(file.size() - 8), L" (4).txt");

    std::wstring emoji;
    for (int i = 0; i < 100; ++i)
        emoji += L"\xD83D\xDE00"; // four bytes each
    const std::wstring cut = directoryCandidateName(emoji, 1);
    EXPECT_EQ(cut.size(), 2u * 63);
    EXPECT_NO_THROW(qcl::string::utf16ToUtf8(cut));
}

TEST(CandidateNames, EveryAttemptGivesANewValidName)
{
    for (const std::wstring& name : {std::wstring(L"plain.txt"), std::wstring(400, L'x'),
                                     L"a." + std::wstring(400, L'y'), std::wstring(L". . ."), std::wstring(L"con")})
    {
        std::set<std::wstring> seen;
        for (std::uint64_t attempt = 1; attempt <= 20; ++attempt)
            for (const std::wstring& candidate : {fileCandidateName(name, attempt), directoryCandidateName(name, attempt)})
            {
                EXPECT_LE(candidate.size(), 255u);
                EXPECT_LE(utf8Bytes(candidate), 255u);
                EXPECT_FALSE(candidate.empty());
                EXPECT_NE(candidate.back(), L'.');
                EXPECT_NE(candidate.back(), L' ');
                EXPECT_EQ(findInvalidFileNameChar(candidate.begin(), candidate.end()), candidate.end());
            }
        for (std::uint64_t attempt = 1; attempt <= 20; ++attempt)
            EXPECT_TRUE(seen.insert(fileCandidateName(name, attempt)).second) << attempt;
    }
}
