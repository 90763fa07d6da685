#include "app/MissingWayfoldFolderDlg.h"

#include "app/Strings.h"
#include "qcl/Format.h"
#include "qcl/Window.h"

namespace dwl
{
namespace
{
// The path cut after its last separator: the folder that holds the item, with its trailing "/".
std::wstring parentFolder(std::wstring path)
{
    while (path.size() > 1 && path.back() == L'/')
        path.pop_back();
    const auto separator = path.find_last_of(L'/');
    return separator == std::wstring::npos ? std::wstring() : path.substr(0, separator + 1);
}
} // namespace

int MissingWayfoldFolderDlg::DoModal(HWND parent)
{
    const std::unique_ptr<ui::MissingFolderView> view = mUi.newMissingFolderView(parent);
    return view->run(
        [&]
        {
            qcl::setWindowText(view->window(), loadString(IDS_APP_TITLE));
            qcl::setWindowText(view->control(ui::MissingFolderView::MessageText),
                               qcl::format(loadString(IDS_FOLDER_MISSING), parentFolder(mWayfoldFolder)));
        });
}
} // namespace dwl
