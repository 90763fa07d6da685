#include "app/DisplayErrorMessage.h"
#include "app/EmailAddress.h"
#include "app/MissingWayfoldFolderDlg.h"
#include "app/UnlinkDialog.h"
#include "qcl/String.h"

#include "FakeUserInterface.h"

#include <gtest/gtest.h>

namespace
{
TEST(EmailAddress, FollowsTheDotAtomGrammar)
{
    for (const wchar_t* valid : {L"a@b", L"ann.lee@example.com", L"!#$%&'*+-/=?^_`{|}~@x.y", L"0@0"})
        EXPECT_TRUE(dwl::isValidEmailAddress(valid)) << qcl::string::utf16ToUtf8(valid);
    for (const wchar_t* invalid : {L"",      L"@",     L"a@",     L"@b",      L"a@@b",   L"a@b@c", L"a.@b",
                                   L"a@.b",  L".a@b",  L"a@b.",   L"a..b@c",  L"a@b..c", L" a@b",  L"a@b ",
                                   L"a b@c", L"a@b\t", L"\xE9@b", L"a@b\xE9", L"a\"b@c", L"(a)@b", L"a,b@c"})
        EXPECT_FALSE(dwl::isValidEmailAddress(invalid)) << qcl::string::utf16ToUtf8(invalid);
}

TEST(DisplayErrorMessage, JoinsTheLongMessageAfterOneEmptyLine)
{
    test::RecordingMessageBox box;
    const test::FakeWindow owner;
    EXPECT_EQ(dwl::ui::IDOK,
              dwl::displayErrorMessage(box, owner.handle(), L"Short", L"", dwl::ui::MB_ICONERROR));
    dwl::displayErrorMessage(box, nullptr, L"Short", L"Long",
                             dwl::ui::MB_ICONERROR | dwl::ui::MB_SYSTEMMODAL);
    ASSERT_EQ(2u, box.shown.size());
    EXPECT_EQ(L"Short", box.shown[0].text);
    EXPECT_EQ(owner.handle(), box.shown[0].owner);
    EXPECT_EQ(L"Short\r\n\r\nLong", box.shown[1].text);
    EXPECT_EQ(0x1010u, box.shown[1].flags);
    EXPECT_EQ(L"Quillmere Wayfold", box.shown[1].caption);
}

TEST(MissingWayfoldFolderDlg, NamesTheFolderThatHeldTheWayfoldFolderAndReturnsTheButton)
{
    test::FakeUserInterface ui;
    dwl::MissingWayfoldFolderDlg dialog(ui);
    dialog.setWayfoldFolder(L"/home/ann/<b>docs</b>/Wayfold");
    for (const int answer : {dwl::ui::IDRETRY, dwl::ui::IDABORT, dwl::ui::IDCANCEL})
    {
        ui.buttonDialogAnswer = answer;
        EXPECT_EQ(answer, dialog.DoModal(nullptr));
    }
    ASSERT_EQ(3u, ui.shownDialogs.size());
    EXPECT_EQ(L"Quillmere Wayfold", ui.shownDialogs[0].caption);
    EXPECT_NE(std::wstring::npos,
              ui.shownDialogs[0].message.find(L"location in \r\n'/home/ann/<b>docs</b>/' and "
                                              L"then click Retry."));
}

TEST(UnlinkDialog, ReturnsTheButtonAndIsShownOnlyWhileRunning)
{
    test::FakeUserInterface ui;
    dwl::UnlinkDialog dialog(ui);
    for (const int answer : {dwl::ui::IDOK, dwl::ui::IDCANCEL})
    {
        ui.buttonDialogAnswer = answer;
        EXPECT_EQ(answer, dialog.DoModal(nullptr));
    }
    EXPECT_FALSE(dialog.isShown());
    EXPECT_EQ(L"Quillmere Wayfold", ui.shownDialogs.at(1).caption);
}
} // namespace
