#include "app/TrayStrings.h"

#include "compat/ModuleApi.h"
#include "qcl/String.h"

namespace dwl::strings
{
std::string supportSearchUrl()
{
    return std::string(supportSite) + "/app/answers/list/kw/QuillmereWayfoldForWindows/search/1";
}

std::string supportAskUrl()
{
    return std::string(supportSite) + "/app/ask";
}

void registerTrayStrings()
{
    static const std::wstring unexpected =
        L"Quillmere Wayfold has experienced an unexpected error and must shut down. Please contact Quillmere "
        L"Wayfold Assistance at " +
        qcl::string::utf8ToUtf16(supportAskUrl()) + L" to report this error.";
    compat::registerStrings(
        GetModuleHandleW(nullptr),
        {
            {210, L"Folder '%1%' could not be downloaded to '%2%'"},
            {211, L"Document '%1%' could not be removed from Share '%2%' in your Wayfold folder."},
            {213, unexpected.c_str()},
            {217, L"Server %1% is currently unavailable"},
            {218, L"Folder '%1%' could not be removed from Share '%2%' in your Wayfold folder."},
            {219, L"Document '%1%' cannot been added to Quillmere Wayfold because it is bigger than %2%."},
            {220, L"The server is temporarily unavailable.\r\nYour Shares will be updated when the server is "
                  L"available."},
            {221, L"The server is now available.\r\nYour Shares will be updated shortly."},
            {222, L"'%1%' has been downloaded to '%2%'"},
            {223, L"'%1%' could not be downloaded to '%2%'"},
            {224, L"Shortcut to Quillmere Wayfold folder"},
            {225, L"A newer version of Quillmere Wayfold is available.\nRight click and choose 'Update' to "
                  L"apply."},
            {228, L"Share '%1%' has been ended, but could not be removed from your Wayfold folder."},
            {229, L"'%1%' in Share '%2%' has been updated. However, the change cannot be reflected in your "
                  L"Wayfold folder as it is being used by another program."},
            {230,
             L"Share '%1%' has been updated. However, the change cannot be reflected in your Wayfold folder "
             L"as it is being used by another program."},
            {231, L"Downloading update (%1%%%)"},
            {232, L"Downloading update..."},
            {235, L"An error occurred while downloading the update"},
            {236, L"Update to version %1%"},
            {237, L"Connected to %1%"},
            {238, L"Synchronising with %1%"},
            {240, L"Share '%1%' cannot be created on the server. %2%"},
            {241, L"Share '%1%' cannot be created on the server."},
            {242,
             L"Folder '%1%' cannot be added to Share '%2%'. %3% Please remove this folder from your Wayfold "
             L"folder."},
            {243, L"Folder '%1%' cannot be added to Share '%2%'. Please remove this folder from your Wayfold "
                  L"folder."},
            {244, L"Document '%1%' cannot be added to Share '%2%'. %3% Please remove this document from your "
                  L"Wayfold folder."},
            {245,
             L"Document '%1%' cannot be added to Share '%2%'. Please remove this document from your Wayfold "
             L"folder."},
            {246,
             L"Document '%1%' cannot be uploaded to Share '%2%'. %3% Please remove this document from your "
             L"Wayfold folder."},
            {247, L"Document '%1%' cannot be uploaded to Share '%2%'. Please remove this document from your "
                  L"Wayfold folder."},
            {248, L"'%1%' could not be downloaded to '%2%'. %3%"},
            {249, L"Folder '%1%' could not be downloaded to '%2%'. %3%"},
            {250, L"Version %2% of Quillmere Wayfold has been downloaded to '%1%'. Install it from there."},
            {251, L"An error occurred while downloading the update. %1%"},
            {252, L"Document '%1%' in Share '%2%' cannot be read. %3% It is synchronised once it can be read."},
            {253, L"Folder '%1%' in Share '%2%' cannot be read. %3% What it holds is synchronised once it can be "
                  L"read."},
            {254, L"'%1%' in Share '%2%' is another name of '%3%', synchronised under that name only."},
            {255, L"There is one more problem that could not be shown here. The log of Quillmere Wayfold has "
                  L"it."},
            {256, L"There are %1% more problems that could not be shown here. The log of Quillmere Wayfold has "
                  L"them all."},
            {257, L"'%1%' in Share '%2%' has been updated. However, the change cannot be reflected in your "
                  L"Wayfold folder. %3%"},
            {258, L"Share '%1%' has been updated. However, the change cannot be reflected in your Wayfold "
                  L"folder. %2%"},
            {260, L"You are using a suspended account."},
            {261, L"You have exceeded your usage plan quota. Upgrade your plan to receive more connections."},
            {262,
             L"You have not accepted the terms of service. Log in to Quillmere Wayfold and create a Share to "
             L"accept."},
            {263, L"You do not have permission to perform this action."},
            {264, L"The Share does not exist."},
            {265, L"You have not accepted the Share."},
            {266, L"The Share owner has exceeded their usage plan quota."},
            {267, L"The Share owner\x2019s account has been suspended."},
            {268, L"The document is not available yet."},
            {269, L"The action is not supported by the Share's associated Wayfold Link."},
        });
}
} // namespace dwl::strings
