#pragma once
// The application's string table: every user-visible text that the dialogs and the tray window load by id.

#include "compat/ModuleApi.h"

#include <string>

namespace dwl
{
enum StringId : UINT
{
    IDS_APP_TITLE = 202,
    IDS_SELECT_FOLDER_LOCATION = 203,
    IDS_WRONG_EMAIL_OR_PASSWORD = 204,
    IDS_TRY_AGAIN_CAPS_LOCK = 205,
    IDS_NOT_A_WAYFOLD_SERVER = 206,
    IDS_UNTRUSTED_CONNECTION = 207,
    IDS_SERVER_NOT_FOUND = 208,
    IDS_CHECK_SERVER = 209,
    IDS_REENTER_PASSWORD = 212,
    IDS_INVALID_LOCATION = 214,
    IDS_FOLDER_MISSING = 215,
    IDS_OLD_VERSION = 216,
    IDS_NOT_A_FIXED_DRIVE = 226,
    IDS_FOLDER_HAS_CONTENT = 233,
    IDS_PLEASE_UPGRADE = 234,
    IDS_FOLDER_TIP = 270,
};

// The text of `id`, through qcl::loadString; the table is registered with the program's module on first use.
// Throws qcl::SystemError for an id that the table does not hold.
std::wstring loadString(UINT id);
} // namespace dwl
