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

TEST(SanitizeFileName, RemovesOnlyWhatTheFileSystemCannotHold)
{
    EXPECT_EQ(sanitizeFileName(L"x\ty\nz/\x7f"), L"xyz\x7f");
    EXPECT_EQ(sanitizeFileName(std::wstring(L"a\0b", 3)), L"ab");
    for (const wchar_t* unnamable : {L"", L".", L"..", L"/", L"\x01"})
        EXPECT_EQ(sanitizeFileName(unnamable), L"_") << unnamable;
    // What only Windows forbids stays, so the name reads the same on every Device of this platform.
    for (const wchar_t* kept : {L"a<b>c?.txt", L"\"*:|\\ok", L"report. . .", L"...", L"con.txt", L"COM1",
                                L"Dpkg::Version.3perl.gz", L"caf\xe9 \xD83D\xDE00"})
        EXPECT_EQ(sanitizeFileName(kept), kept);
}

TEST(CandidateNames, TellWhetherALocalNameCarriesItsServerName)
{
    EXPECT_TRUE(isFileCandidateName(L"a:b.txt", L"a:b.txt"));
    EXPECT_TRUE(isFileCandidateName(L"ab.txt", L"a/b.txt"));
    EXPECT_TRUE(isFileCandidateName(L"ab (12).txt", L"a/b.txt"));
    EXPECT_TRUE(isDirectoryCandidateName(L"docs (2)", L"docs"));
    EXPECT_TRUE(isDirectoryCandidateName(std::wstring(251, L'd') + L" (2)", std::wstring(300, L'd')));
    for (const wchar_t* other :
         {L"a/b.txt", L"ab (1).txt", L"ab (x).txt", L"ab (2)", L"ab.txt (2)", L"b.txt"})
        EXPECT_FALSE(isFileCandidateName(other, L"a/b.txt")) << other;
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
    EXPECT_EQ(splitSanitizedFileName(L"a.b."), Split(L"a.b.", L""));
    EXPECT_EQ(splitSanitizedFileName(L"..x"), Split(L"..x", L""));
    EXPECT_EQ(splitSanitizedFileName(L"a/b.txt"), Split(L"ab", L".txt"));
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
    EXPECT_EQ(fileCandidateName(L"a/b.txt", 1), L"ab.txt");
    EXPECT_EQ(fileCandidateName(L"a/b.txt", 12), L"ab (12).txt");
    EXPECT_EQ(fileCandidateName(L"notes.", 2), L"notes. (2)");
    EXPECT_EQ(directoryCandidateName(L"docs.", 1), L"docs.");
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
    for (const std::wstring& name :
         {std::wstring(L"plain.txt"), std::wstring(400, L'x'), L"a." + std::wstring(400, L'y'),
          std::wstring(L". . ."), std::wstring(L"con")})
    {
        std::set<std::wstring> seen;
        for (std::uint64_t attempt = 1; attempt <= 20; ++attempt)
            for (const std::wstring& candidate :
                 {fileCandidateName(name, attempt), directoryCandidateName(name, attempt)})
            {
                EXPECT_LE(candidate.size(), 255u);
                EXPECT_LE(utf8Bytes(candidate), 255u);
                EXPECT_FALSE(candidate.empty());
                EXPECT_NE(candidate, L".");
                EXPECT_NE(candidate, L"..");
                EXPECT_EQ(findInvalidFileNameChar(candidate.begin(), candidate.end()), candidate.end());
            }
        for (std::uint64_t attempt = 1; attempt <= 20; ++attempt)
            EXPECT_TRUE(seen.insert(fileCandidateName(name, attempt)).second) << attempt;
    }
}
