#pragma once
// The tray window's engine in the program: the Mediator, set up with the program's version, user agent and
// installer name.

#include "app/Mediator.h"
#include "app/TrayDesktop.h"

namespace dwl
{
class MediatorEngine : public TrayEngine
{
public:
    explicit MediatorEngine(Mediator& mediator);

    void setCallback(Mediator::Callback* callback) override { mMediator.setCallback(callback); }
    bool initialise() override { return mMediator.initialise(); }
    bool reenterPassword() override { return mMediator.reenterPassword(); }
    void start() override { mMediator.start(); }
    void stop() override { mMediator.stop(); }
    bool isRunning() const override { return mMediator.isRunning(); }
    void unlink() override { mMediator.unlink(); }
    void onDeviceUnregistered() override { mMediator.onDeviceUnregistered(); }
    void clearDatabaseAndConfiguration() override { mMediator.clearDatabaseAndConfiguration(); }

    std::string serverBaseUrl() const override { return mMediator.serverBaseUrl(); }
    std::string downloadsUrl() const override;
    std::wstring serverDisplayName() const override;
    std::wstring wayfoldFolder() const override { return mMediator.wayfoldFolder(); }

    void startUpgradeDownload(const std::string& url) override;
    void waitForUpgradeDownload() override { mMediator.upgradeDownloader().wait(); }

private:
    Mediator& mMediator;
};
} // namespace dwl
