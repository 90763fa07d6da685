#pragma once
// The texts the tray window shows: string ids of the program's table (beside the dialogs' in app/Strings.h),
// and the fixed addresses they name.

#include <string>

namespace dwl::strings
{
inline constexpr unsigned IDS_FOLDER_DOWNLOAD_FAILED = 210;
inline constexpr unsigned IDS_DOCUMENT_REMOVAL_FAILED = 211;
inline constexpr unsigned IDS_UNEXPECTED_ERROR = 213;
inline constexpr unsigned IDS_SERVER_UNAVAILABLE_STATUS = 217;
inline constexpr unsigned IDS_FOLDER_REMOVAL_FAILED = 218;
inline constexpr unsigned IDS_FILE_TOO_BIG = 219;
inline constexpr unsigned IDS_SERVER_UNAVAILABLE = 220;
inline constexpr unsigned IDS_SERVER_AVAILABLE = 221;
inline constexpr unsigned IDS_DOCUMENT_DOWNLOADED = 222;
inline constexpr unsigned IDS_DOCUMENT_DOWNLOAD_FAILED = 223;
inline constexpr unsigned IDS_SHORTCUT_DESCRIPTION = 224;
inline constexpr unsigned IDS_NEW_VERSION = 225;
inline constexpr unsigned IDS_SHARE_REMOVAL_FAILED = 228;
inline constexpr unsigned IDS_NODE_UPDATE_BLOCKED = 229;
inline constexpr unsigned IDS_SHARE_UPDATE_BLOCKED = 230;
inline constexpr unsigned IDS_DOWNLOADING_PERCENT = 231;
inline constexpr unsigned IDS_DOWNLOADING = 232;
inline constexpr unsigned IDS_UPGRADE_FAILED = 235;
inline constexpr unsigned IDS_UPDATE_TO_VERSION = 236;
inline constexpr unsigned IDS_CONNECTED = 237;
inline constexpr unsigned IDS_SYNCHRONISING = 238;
inline constexpr unsigned IDS_SHARE_CREATION_FAILED = 240;            // 241: without a reason
inline constexpr unsigned IDS_FOLDER_CREATION_FAILED = 242;           // 243
inline constexpr unsigned IDS_DOCUMENT_CREATION_FAILED = 244;         // 245
inline constexpr unsigned IDS_DOCUMENT_UPLOAD_FAILED = 246;           // 247
inline constexpr unsigned IDS_DOCUMENT_DOWNLOAD_FAILED_BECAUSE = 248; // 223 without the reason
inline constexpr unsigned IDS_FOLDER_DOWNLOAD_FAILED_BECAUSE = 249;   // 210 without the reason
inline constexpr unsigned IDS_UPGRADE_DOWNLOADED = 250;       // %1% the path (cut first), %2% the version
inline constexpr unsigned IDS_UPGRADE_FAILED_BECAUSE = 251;   // 235 with the reason
inline constexpr unsigned IDS_DOCUMENT_UNREADABLE = 252;      // %1% name, %2% Share, %3% the cause
inline constexpr unsigned IDS_FOLDER_UNREADABLE = 253;        // the same
inline constexpr unsigned IDS_OTHER_NAME = 254;               // %1% name, %2% Share, %3% the synchronised name
inline constexpr unsigned IDS_ONE_MORE_PROBLEM = 255;
inline constexpr unsigned IDS_MORE_PROBLEMS = 256;            // %1% how many
inline constexpr unsigned IDS_NODE_UPDATE_BLOCKED_BECAUSE = 257;  // 229, the cause in place of the program
inline constexpr unsigned IDS_SHARE_UPDATE_BLOCKED_BECAUSE = 258; // 230, the cause in place of the program
inline constexpr unsigned IDS_SERVER_ERROR_REASON_BASE = 259; // + the server's error code 1 to 10

// The support site: its keyword search (the Assistance command) and its page for reporting an error.
inline constexpr const char* supportSite = "http://assistance.wayfold.example";
std::string supportSearchUrl();
std::string supportAskUrl();

// Adds the tray window's texts to the program's string table; done once, before the first is loaded.
void registerTrayStrings();
} // namespace dwl::strings
