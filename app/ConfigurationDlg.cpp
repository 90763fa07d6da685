#include "app/ConfigurationDlg.h"

#include "api/WayfoldApi.h"
#include "app/DisplayErrorMessage.h"
#include "app/EmailAddress.h"
#include "app/Paths.h"
#include "app/Strings.h"
#include "app/WayfoldFolder.h"
#include "compat/FileApi.h"
#include "qcl/File.h"
#include "qcl/Format.h"
#include "qcl/Log.h"
#include "qcl/Window.h"
#include "qcl/qcl_scope.h"
#include "url/Error.h"

#include <curl/curl.h>

namespace dwl
{
namespace
{
// The e-mail address failed the grammar; no request was sent.
struct InvalidEmailAddress
{
};

using View = ui::ConfigurationView;

const wchar_t* const folderName = L"Wayfold";

std::wstring trimmed(const std::wstring& text)
{
    const auto isSpace = [](wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; };
    std::size_t begin = 0, end = text.size();
    while (begin < end && isSpace(text[begin]))
        ++begin;
    while (end > begin && isSpace(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

bool isUntrustedConnection(const std::error_code& code)
{
    return code.category() == url::curlCategory() &&
           (code.value() == CURLE_PEER_FAILED_VERIFICATION || code.value() == CURLE_SSL_CACERT_BADFILE);
}
} // namespace

ConfigurationDlg::ConfigurationDlg(Configuration& configuration, WayfoldApi& api, const ServerList& servers,
                                   ui::UserInterface& ui, Mode mode)
    : mConfiguration(configuration), mApi(api), mServers(servers), mUi(ui), mMode(mode)
{
}

ConfigurationDlg::~ConfigurationDlg()
{
    abortLoginCheck();
}

int ConfigurationDlg::DoModal(HWND parent)
{
    mView = mUi.newConfigurationView(parent);
    const auto release = qcl::scope::makeGuard(
        [this]
        {
            abortLoginCheck(); // the check reports to the view, which goes now
            mView.reset();
        });
    return mView->run(*this);
}

void ConfigurationDlg::OnInitDialog()
{
    try
    {
        qcl::setWindowText(mView->window(), loadString(IDS_APP_TITLE));
        setText(View::EmailEdit, mConfiguration.userName);
        setText(View::PasswordEdit, mConfiguration.password);
        setText(View::FolderLocationEdit, mConfiguration.wayfoldFolderLocation);

        const ServerList::Server* chosen = mServers.find(mConfiguration.server);
        if (chosen == nullptr)
            chosen = mServers.getServerForUserLocation();
        const ServerList::Servers& servers = mServers.servers();
        for (std::size_t i = 0; i < servers.size(); ++i)
        {
            mView->addServer(servers[i]->displayName);
            if (servers[i].get() == chosen)
                mView->selectServer(static_cast<int>(i));
        }

        if (mMode == Mode::Password)
        {
            setText(View::Prompt, loadString(IDS_REENTER_PASSWORD));
            for (const int id : {View::ServerComboBox, View::EmailEdit, View::FolderLocationEdit,
                                 View::ChangeFolderButton, View::SignUpLink})
                mView->setEnabled(id, false);
            mView->setFocus(View::PasswordEdit, true);
        }
    }
    catch (const qcl::basic_runtime_error<wchar_t>& e)
    {
        displayErrorMessage(mUi.messageBox(), mView->window(), e.message(), std::wstring(), ui::MB_ICONERROR);
        mView->end(ui::IDCANCEL);
    }
}

void ConfigurationDlg::OnLogin()
{
    if (mLoginCheck.valid())
        return; // one check at a time
    try
    {
        const ServerList::Server* server = selectedServer();
        const std::wstring email = text(View::EmailEdit);
        if (!isValidEmailAddress(email))
            throw InvalidEmailAddress();
        if (server == nullptr)
            throw qcl::basic_runtime_error<wchar_t>(L"No server is selected");

        EnableControls(false);
        mApi.session().setOption(CURLOPT_SSL_VERIFYPEER, server->checkCertificate ? 1L : 0L);
        mApi.setCheckForGenuineServer(server->checkForGenuineServer);
        mApi.setServerUrl(server->restUrl);
        mApi.setCredentials(email, text(View::PasswordEdit));

        ui::ConfigurationView* view = mView.get();
        WayfoldApi* api = &mApi;
        mLoginCheck = std::async(std::launch::async,
                                 [view, api]
                                 {
                                     const auto report =
                                         qcl::scope::makeGuard([view] { view->postPingEnded(); });
                                     return api->getUserId();
                                 });
    }
    catch (...)
    {
        EnableControls(true);
        OnPingFailed();
    }
}

void ConfigurationDlg::OnPingEnded()
{
    if (!mLoginCheck.valid())
        return; // Exit released the check already
    std::future<qcl::uint128> check = std::move(mLoginCheck);
    EnableControls(true);
    try
    {
        OnPingSucceeded(check.get());
    }
    catch (...)
    {
        OnPingFailed();
    }
}

void ConfigurationDlg::OnPingFailed()
{
    const ServerList::Server* server = selectedServer();
    const std::wstring serverName = server == nullptr ? std::wstring() : server->displayName;
    const auto show = [&](UINT shortId, UINT longId, int focus, bool selectAll = false)
    {
        showError(qcl::format(loadString(shortId), serverName), loadString(longId));
        if (focus != 0)
            mView->setFocus(focus, selectAll);
    };
    try
    {
        try
        {
            throw;
        }
        catch (const InvalidEmailAddress&)
        {
            show(IDS_WRONG_EMAIL_OR_PASSWORD, IDS_TRY_AGAIN_CAPS_LOCK, View::EmailEdit, true);
        }
        catch (const url::NetworkError& e)
        {
            QCL_LOG_ERROR(e.message());
            show(IDS_SERVER_NOT_FOUND, IDS_CHECK_SERVER, View::ServerComboBox);
        }
        catch (const url::HttpAuthenticationError& e)
        {
            QCL_LOG_ERROR(e.message());
            show(IDS_WRONG_EMAIL_OR_PASSWORD, IDS_TRY_AGAIN_CAPS_LOCK, View::PasswordEdit, true);
        }
        catch (const url::NotFoundError& e)
        {
            QCL_LOG_ERROR(e.message());
            show(IDS_NOT_A_WAYFOLD_SERVER, IDS_CHECK_SERVER, View::ServerComboBox);
        }
        catch (const url::NotAcceptableError& e)
        {
            QCL_LOG_ERROR(e.message());
            show(IDS_OLD_VERSION, IDS_PLEASE_UPGRADE, 0);
            if (server != nullptr && !server->downloadsUrl.empty())
                LaunchWebBrowser(server->downloadsUrl);
            mView->setFocus(View::ServerComboBox);
        }
        catch (const url::HttpError& e)
        {
            QCL_LOG_ERROR(e.message());
            show(IDS_SERVER_NOT_FOUND, IDS_CHECK_SERVER, View::ServerComboBox);
        }
        catch (const url::Error& e)
        {
            QCL_LOG_ERROR(e.message());
            show(isUntrustedConnection(e.code) ? IDS_UNTRUSTED_CONNECTION : IDS_SERVER_NOT_FOUND,
                 IDS_CHECK_SERVER, View::ServerComboBox);
        }
        catch (const qcl::basic_runtime_error<wchar_t>& e)
        {
            QCL_LOG_ERROR(e.message());
            show(IDS_SERVER_NOT_FOUND, IDS_CHECK_SERVER, 0);
        }
        catch (const std::exception& e)
        {
            // A malformed answer, or anything else unforeseen: the dialog stays usable.
            QCL_LOG_ERROR(L"Login check failed: " << qcl::string::escaped(std::string(e.what())));
            show(IDS_SERVER_NOT_FOUND, IDS_CHECK_SERVER, 0);
        }
    }
    catch (const std::exception& e)
    {
        QCL_LOG_ERROR(L"Cannot report the failed login check: "
                      << qcl::string::escaped(std::string(e.what())));
    }
}

void ConfigurationDlg::OnPingSucceeded(const qcl::uint128& userId)
{
    std::wstring location = mConfiguration.wayfoldFolderLocation;
    if (mMode != Mode::Password)
    {
        const std::optional<std::wstring> typed = folderLocationFromEdit();
        if (!typed)
        {
            showError(
                qcl::format(loadString(IDS_INVALID_LOCATION), folderName, text(View::FolderLocationEdit)),
                std::wstring());
            mView->setFocus(View::FolderLocationEdit, true);
            return;
        }
        location = *typed;
        if (!CheckIfFolderIsOkOrInformUser(location))
        {
            mView->setFocus(View::FolderLocationEdit, true);
            return;
        }
        const std::wstring folder = Paths::wayfoldFolder(location);
        try
        {
            createWayfoldFolder(folder); // there, open to us, and to nobody else
        }
        catch (const FolderOpenToOthers& e)
        {
            refuseFolder(e);
            mView->setFocus(View::FolderLocationEdit, true);
            return;
        }
        catch (const qcl::SystemError& e)
        {
            QCL_LOG_ERROR(e.message());
            showError(qcl::format(loadString(IDS_INVALID_LOCATION), folderName, location), std::wstring());
            mView->setFocus(View::FolderLocationEdit, true);
            return;
        }
    }
    const ServerList::Server* server = selectedServer();
    if (server == nullptr)
        throw qcl::basic_runtime_error<wchar_t>(L"No server is selected");
    mConfiguration.wayfoldFolderLocation = location;
    mConfiguration.server = server->key;
    mConfiguration.userName = text(View::EmailEdit);
    mConfiguration.password = text(View::PasswordEdit);
    mConfiguration.userId = userId;
    mView->end(ui::IDOK);
}

bool ConfigurationDlg::CheckIfFolderIsOkOrInformUser(const std::wstring& location)
{
    if (!isSuitableVolume(location))
    {
        showError(qcl::format(loadString(IDS_NOT_A_FIXED_DRIVE), folderName), std::wstring());
        return false;
    }
    const std::wstring folder = Paths::wayfoldFolder(location);
    try
    {
        openUsersOwnFolder(folder);
    }
    catch (const FolderOpenToOthers& e)
    {
        refuseFolder(e);
        return false;
    }
    catch (const qcl::SystemError&)
    {
        // Not there yet, or not a folder: told below, or when it is made.
    }
    // Signing in again to the same account keeps the folder that is already synchronised with it.
    if (isConfiguredFolderOfSameAccount(location))
        return true;
    try
    {
        const DWORD wanted = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_ARCHIVE |
                             FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_COMPRESSED | FILE_ATTRIBUTE_ENCRYPTED;
        if (!qcl::file::isDirectoryEmpty(folder, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM, wanted))
        {
            showError(qcl::format(loadString(IDS_FOLDER_HAS_CONTENT), folderName), std::wstring());
            if (!mUi.shell().openFolder(folder))
                QCL_LOG_WARN(L"Cannot open folder " << qcl::string::escaped(folder, L'\''));
            return false;
        }
    }
    catch (const qcl::SystemError& e)
    {
        if (e.code() == std::error_code(static_cast<int>(ERROR_PATH_NOT_FOUND), qcl::windowsCategory()))
            return true; // not made yet
        QCL_LOG_ERROR(e.message());
        showError(qcl::format(loadString(IDS_INVALID_LOCATION), folderName, location), std::wstring());
        return false;
    }
    return true;
}

void ConfigurationDlg::refuseFolder(const FolderOpenToOthers& refusal)
{
    QCL_LOG_ERROR(refusal.message());
    showError(refusal.message(), refusal.remedy(false));
}

bool ConfigurationDlg::isConfiguredFolderOfSameAccount(const std::wstring& location)
{
    const ServerList::Server* server = selectedServer();
    return server != nullptr &&
           isSameAccountAndFolder(mConfiguration, server->key, text(View::EmailEdit), location);
}

void ConfigurationDlg::OnChangeFolder()
{
    std::wstring start = folderLocationFromEdit().value_or(std::wstring());
    while (true)
    {
        const std::optional<std::wstring> chosen = mUi.shell().browseForFolder(
            mView->window(), loadString(IDS_SELECT_FOLDER_LOCATION), start, &isSuitableVolume);
        if (!chosen || chosen->empty())
            return;
        if (CheckIfFolderIsOkOrInformUser(*chosen))
        {
            setText(View::FolderLocationEdit, *chosen);
            return;
        }
        start = *chosen;
    }
}

void ConfigurationDlg::OnCancel()
{
    abortLoginCheck();
    mView->end(ui::IDCANCEL);
}

void ConfigurationDlg::OnLinkClicked(int id)
{
    const ServerList::Server* server = selectedServer();
    if (server == nullptr)
        return;
    LaunchWebBrowser(id == View::SignUpLink ? server->signUpUrl : server->forgottenPasswordUrl);
}

void ConfigurationDlg::EnableControls(bool enable)
{
    if (mMode != Mode::Password)
        for (const int id : {View::ServerComboBox, View::EmailEdit, View::FolderLocationEdit,
                             View::ChangeFolderButton, View::SignUpLink})
            mView->setEnabled(id, enable);
    // Exit stays enabled: it is how the user gives up on a server that does not answer.
    for (const int id : {View::ForgottenPasswordLink, View::PasswordEdit, View::LoginButton})
        mView->setEnabled(id, enable);
    if (enable)
    {
        mView->setDefaultButton(View::LoginButton);
        mView->setFocus(View::LoginButton);
    }
}

void ConfigurationDlg::LaunchWebBrowser(const std::string& url)
{
    QCL_LOG_DEBUG(L"Launching Web Browser with URL " << qcl::string::escaped(url));
    if (!mUi.shell().openUrl(url))
        showError(qcl::format(L"Cannot open URL '%1%'", url), std::wstring());
}

void ConfigurationDlg::abortLoginCheck()
{
    if (!mLoginCheck.valid())
        return;
    const auto resetAbort = qcl::scope::makeGuard([this] { mApi.setMustCloseSocket(false); });
    mApi.setMustCloseSocket(true);
    mLoginCheck.wait();
    mLoginCheck = {};
}

std::optional<std::wstring> ConfigurationDlg::folderLocationFromEdit()
{
    std::wstring location = trimmed(text(View::FolderLocationEdit));
    if (location == L"~" || location.starts_with(L"~/"))
    {
        try
        {
            location = Paths::defaultFolderLocation() + location.substr(1);
        }
        catch (const qcl::basic_runtime_error<wchar_t>& e)
        {
            QCL_LOG_ERROR(e.message());
            return std::nullopt;
        }
    }
    if (!location.starts_with(L"/"))
        return std::nullopt;
    while (location.size() > 1 && location.back() == L'/')
        location.pop_back();
    return location;
}

const ServerList::Server* ConfigurationDlg::selectedServer()
{
    const int index = mView->selectedServer();
    const ServerList::Servers& servers = mServers.servers();
    return index >= 0 && static_cast<std::size_t>(index) < servers.size() ? servers[index].get() : nullptr;
}

std::wstring ConfigurationDlg::text(int control)
{
    return qcl::getWindowText(mView->control(control));
}

void ConfigurationDlg::setText(int control, const std::wstring& text)
{
    qcl::setWindowText(mView->control(control), text);
}

void ConfigurationDlg::showError(const std::wstring& shortMessage, const std::wstring& longMessage)
{
    displayErrorMessage(mUi.messageBox(), mView->window(), shortMessage, longMessage, ui::MB_ICONERROR);
}
} // namespace dwl
