// wayfold-devserver: the fake Wayfold server as a program, for development and demos.
//
//   wayfold-devserver [--host ADDRESS] [--port N] [--data FOLDER] [--cert FILE --key FILE]
//                     [--upgrade MAJOR.MINOR.PATCH:INSTALLER] --user EMAIL:PASSWORD... [--demo EMAIL]
//
// --upgrade offers that version at /upgrade/info, with the installer file's bytes at /upgrade/installer.
// --demo gives that user (one of the --user accounts) a Share "Demo" with a few documents, unless the data folder
// already holds one from an earlier run.

#include <pthread.h>
#include <signal.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/FakeWayfoldServer.h"

namespace {

int usage(const char* message) {
    std::cerr << message << "\n"
              << "usage: wayfold-devserver [--host ADDRESS] [--port N] [--data FOLDER] [--cert FILE --key FILE]"
                 " [--upgrade MAJOR.MINOR.PATCH:INSTALLER] --user EMAIL:PASSWORD [--user ...] [--demo EMAIL]\n";
    return 2;
}

// "1.14.0:/path/to/installer": the version's three numbers and the installer's bytes.
bool readUpgrade(const std::string& value, std::vector<std::uint32_t>& version, std::string& installer) {
    const auto colon = value.find(':');
    if (colon == std::string::npos) return false;
    std::istringstream numbers(value.substr(0, colon));
    std::uint32_t number = 0;
    char dot = '.';
    version.clear();
    while (dot == '.' && numbers >> number) {
        version.push_back(number);
        if (!(numbers >> dot)) break;
    }
    std::ifstream file(value.substr(colon + 1), std::ios::binary);
    if (version.size() != 3 || !numbers.eof() || !file) return false;
    installer.assign(std::istreambuf_iterator<char>(file), {});
    return true;
}

// A Share with a folder and a few documents, as a new user of the demo finds it.
void addDemoShare(fake::FakeWayfoldServer& server, const std::string& email) {
    const auto share = server.createShare(email, "Demo");
    auto addDocument = [&](const std::string& parent, const std::string& name, const std::string& extension,
                           const std::string& text) {
        server.putContent(server.createAsset(share.shareId, parent, false, name, extension), text);
    };
    addDocument(share.rootId, "Welcome", "txt",
                "Welcome to Wayfold.\nEverything in this Share is kept in step with your Wayfold folder.\n");
    addDocument(share.rootId, "Shopping list", "md", "# Shopping list\n\n- bread\n- apples\n- coffee\n");
    const auto plans = server.createAsset(share.shareId, share.rootId, true, "Plans");
    addDocument(plans, "Timeline", "csv", "week,task\n1,draft\n2,review\n3,publish\n");
    addDocument(plans, "Notes", "txt", "Edit me: the change goes back to the server.\n");
}

}  // namespace

int main(int argc, char** argv) {
    std::string host = "127.0.0.1";
    int port = 8080;
    fake::ServerOptions options;
    options.requestLogLimit = 1000;  // a long-running server keeps only the latest requests
    std::vector<std::pair<std::string, std::string>> users;
    std::string demoUser;
    std::vector<std::uint32_t> upgradeVersion;
    std::string installer;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (i + 1 >= argc) return usage(("missing value of " + option).c_str());
        const std::string value = argv[++i];
        if (option == "--host") {
            host = value;
        } else if (option == "--port") {
            port = std::atoi(value.c_str());
            if (port <= 0 || port > 65535) return usage("bad port");
        } else if (option == "--data") {
            options.dataFolder = value;
        } else if (option == "--cert") {
            options.certificateFile = value;
        } else if (option == "--key") {
            options.privateKeyFile = value;
        } else if (option == "--demo") {
            demoUser = value;
        } else if (option == "--upgrade") {
            if (!readUpgrade(value, upgradeVersion, installer))
                return usage("--upgrade wants MAJOR.MINOR.PATCH:INSTALLER with a readable installer file");
        } else if (option == "--user") {
            const auto colon = value.find(':');
            if (colon == std::string::npos) return usage("--user wants EMAIL:PASSWORD");
            users.emplace_back(value.substr(0, colon), value.substr(colon + 1));
        } else {
            return usage(("unknown option " + option).c_str());
        }
    }
    if (users.empty()) return usage("give at least one --user");
    if (options.certificateFile.empty() != options.privateKeyFile.empty()) return usage("--cert and --key go together");

    try {
        fake::FakeWayfoldServer server(options);
        if (!upgradeVersion.empty()) server.setUpgrade(upgradeVersion, installer);
        for (const auto& [email, password] : users) std::cout << email << " " << server.addUser(email, password) << "\n";
        if (!demoUser.empty()) {
            bool known = false;
            for (const auto& user : users) known = known || user.first == demoUser;
            if (!known) return usage("--demo names no --user");
            // A kept data folder remembers that the demo Share was made.
            const std::filesystem::path marker =
                options.dataFolder.empty() ? std::filesystem::path() : std::filesystem::path(options.dataFolder) / "demo-made";
            if (marker.empty() || !std::filesystem::exists(marker)) {
                addDemoShare(server, demoUser);
                if (!marker.empty()) std::ofstream(marker) << demoUser << "\n";
            }
        }
        // SIGINT and SIGTERM are taken by a thread of their own, which stops the server outside signal context.
        sigset_t stopSignals;
        sigemptyset(&stopSignals);
        sigaddset(&stopSignals, SIGINT);
        sigaddset(&stopSignals, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
        std::thread stopper([&] {
            int received = 0;
            sigwait(&stopSignals, &received);
            server.stop();
        });
        stopper.detach();
        std::cout << "Serving on " << (options.certificateFile.empty() ? "http" : "https") << "://" << host << ":" << port
                  << " (client BaseUrl; REST under /rest)" << std::endl;
        server.run(host, port);
        for (const auto& violation : server.violations()) std::cerr << "contract violation: " << violation << "\n";
    } catch (const std::exception& e) {
        std::cerr << "wayfold-devserver: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
