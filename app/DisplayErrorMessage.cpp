#include "app/DisplayErrorMessage.h"

#include "app/Strings.h"
#include "qcl/Log.h"

namespace dwl
{
int displayErrorMessage(ui::MessageBox& messageBox, HWND owner, const std::wstring& shortMessage,
                        const std::wstring& longMessage, unsigned flags)
{
    using qcl::string::escaped;
    if (longMessage.empty())
    {
        QCL_LOG_ERROR(L"Message = " << escaped(shortMessage, L'"'));
        return messageBox.show(owner, shortMessage, loadString(IDS_APP_TITLE), flags);
    }
    QCL_LOG_ERROR(L"Short message = " << escaped(shortMessage, L'"') << L", Long message = "
                                      << escaped(longMessage, L'"'));
    return messageBox.show(owner, shortMessage + L"\r\n\r\n" + longMessage, loadString(IDS_APP_TITLE), flags);
}
} // namespace dwl
