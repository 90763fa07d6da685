#include "app/MediatorEngine.h"

#include "app/MainFrame.h"

namespace dwl
{
MediatorEngine::MediatorEngine(Mediator& mediator) : mMediator(mediator)
{
    mMediator.setUserAgent(userAgent);
    mMediator.setApplicationVersion(programVersion);
    mMediator.upgradeDownloader().setInstallerFileName(L"Quillmere Wayfold For Windows.msi");
}

std::string MediatorEngine::downloadsUrl() const
{
    const ServerList::Server* server = mMediator.server();
    return server ? server->downloadsUrl : std::string();
}

std::wstring MediatorEngine::serverDisplayName() const
{
    const ServerList::Server* server = mMediator.server();
    return server ? server->displayName : std::wstring();
}

void MediatorEngine::startUpgradeDownload(const std::string& url)
{
    mMediator.upgradeDownloader().setUrl(url);
    mMediator.upgradeDownloader().start();
}
} // namespace dwl
