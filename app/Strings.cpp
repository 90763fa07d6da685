#include "app/Strings.h"

#include "qcl/Module.h"

#include <mutex>

namespace dwl
{
namespace
{
void registerStringTable()
{
    compat::registerStrings(
        ::GetModuleHandleW(nullptr),
        {
            {IDS_APP_TITLE, L"Quillmere Wayfold"},
            {IDS_SELECT_FOLDER_LOCATION, L"Select the Wayfold folder location."},
            {IDS_WRONG_EMAIL_OR_PASSWORD, L"The email or password you entered is incorrect."},
            {IDS_TRY_AGAIN_CAPS_LOCK, L"Please try again (make sure your caps lock is off)."},
            {IDS_NOT_A_WAYFOLD_SERVER, L"'%1%' is not an Quillmere Wayfold server"},
            {IDS_UNTRUSTED_CONNECTION, L"'%1%' is an untrusted connection"},
            {IDS_SERVER_NOT_FOUND, L"The server '%1%' could not be found."},
            {IDS_CHECK_SERVER, L"Check the server and try again."},
            {IDS_REENTER_PASSWORD,
             L"Quillmere Wayfold could not verify your account details.\nPlease re-enter your password."},
            {IDS_INVALID_LOCATION,
             L"'%2%' is not a valid location.\r\n\r\nPlease choose a different location and try again."},
            {IDS_FOLDER_MISSING, L"Your Wayfold folder has been moved, deleted or renamed.\r\n\r\nTo "
                                 L"continue using Quillmere Wayfold, "
                                 L"either:\r\n\r\na) Restore your Wayfold folder back to its original "
                                 L"location in \r\n'%1%' and then "
                                 L"click Retry.\r\n\r\nb) Click Unlink to remove your link to the previous "
                                 L"Wayfold folder and then create "
                                 L"a new Wayfold folder by entering your account details."},
            {IDS_OLD_VERSION,
             L"You have an old version of Quillmere Wayfold.\r\nThis version is no longer compatible."},
            {IDS_NOT_A_FIXED_DRIVE,
             L"The %1% folder must be created on a fixed drive on your local computer.\r\n\r\n"
             L"Please choose a different location and try again."},
            {IDS_FOLDER_HAS_CONTENT,
             L"The %1% folder in this location contains content.\r\n\r\nTo use this folder, remove all of "
             L"its "
             L"content and try again.\r\n\r\nAlternatively, select another location for your %1% folder."},
            {IDS_PLEASE_UPGRADE, L"Please upgrade to a later version of Quillmere Wayfold."},
            {IDS_FOLDER_TIP, L"Your Quillmere Wayfold Shares"},
        });
}
} // namespace

std::wstring loadString(UINT id)
{
    static std::once_flag registered;
    std::call_once(registered, registerStringTable);
    return qcl::loadString(id);
}
} // namespace dwl
