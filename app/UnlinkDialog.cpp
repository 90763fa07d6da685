#include "app/UnlinkDialog.h"

#include "app/Strings.h"
#include "qcl/Window.h"
#include "qcl/qcl_scope.h"

namespace dwl
{
int UnlinkDialog::DoModal(HWND parent)
{
    mView = mUi.newUnlinkView(parent);
    const auto release = qcl::scope::makeGuard([this] { mView.reset(); });
    return mView->run([this] { qcl::setWindowText(mView->window(), loadString(IDS_APP_TITLE)); });
}

void UnlinkDialog::bringToFront()
{
    if (mView)
        mView->bringToFront();
}
} // namespace dwl
