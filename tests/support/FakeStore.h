#pragma once

// The state of the fake Wayfold server and its REST operations, free of any HTTP plumbing.

#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/FakeTypes.h"

namespace fake {

struct RestCall {
    std::string method;
    std::string path;
    std::multimap<std::string, std::string> query;  // decoded
    std::string accept;
    std::string contentType;
    std::string body;
    std::string userId;                  // the authenticated user, normalised
    std::filesystem::path uploadedFile;  // the part "file" of a multipart upload
};

struct RestAnswer {
    int status = 200;
    std::string body;
    std::string contentType = "application/json";
    std::filesystem::path file;  // when set, the body is this file's bytes
};

class FakeStore {
public:
    // persistent: the state is kept in "state.json" of the data folder, read at construction and written after
    // every change, so a restarted server knows its users, Devices, Shares and assets again.
    FakeStore(std::filesystem::path dataFolder, bool persistent);

    // The user id (normalised) when the e-mail address and password match an account.
    std::optional<std::string> authenticate(const std::string& email, const std::string& password) const;
    // Serves one REST request; contract violations found on the way are appended to violations.
    RestAnswer handle(const RestCall& call, std::vector<std::string>& violations);

    // A known e-mail address keeps its id and takes the new password.
    std::string addUser(const std::string& email, const std::string& password);
    std::optional<std::string> userIdOf(const std::string& email) const;
    std::string addParticipant(const std::string& shareId, const std::string& email);
    void accept(const std::string& shareId, const std::string& email);
    IdPairText createShare(const std::string& ownerEmail, const std::string& name);
    std::optional<AssetView> asset(const std::string& assetId) const;
    std::vector<AssetView> children(const std::string& folderId) const;
    std::optional<std::string> content(const std::string& assetId, std::uint64_t version) const;
    std::uint64_t putContent(const std::string& assetId, const std::string& bytes);
    // Adds a document (no content yet) or a folder below `parentId` as an upload would; returns its id.
    std::string createAsset(const std::string& shareId, const std::string& parentId, bool folder,
                            const std::string& name, const std::string& extension);
    std::vector<std::string> devices(const std::string& email) const;
    void setSetting(const std::string& key, nlohmann::json value);
    void setUpgrade(std::vector<std::uint32_t> version, std::string installer);
    std::string upgradeInfo(const std::string& baseUrl) const;
    std::string installer() const;

private:
    struct User {
        std::string email;
        std::string password;
    };
    struct Device {
        std::string userId;
        std::vector<nlohmann::json> messages;
    };
    struct Participant {
        std::string shareId;
        std::string userId;
        bool accepted = false;
        bool isOwner = false;
    };
    struct Asset {
        std::string shareId;
        std::string parentId;
        bool folder = false;
        std::string name;
        std::string extension;
        std::uint64_t contentVersion = 0;
    };
    struct Share {
        std::string rootId;
    };
    struct Context;
    using Handler = RestAnswer (FakeStore::*)(Context&);
    struct Route;

    static const std::vector<Route>& routes();

    RestAnswer getUser(Context&);
    RestAnswer registerDevice(Context&);
    RestAnswer unregisterDevice(Context&);
    RestAnswer getMessages(Context&);
    RestAnswer getParticipants(Context&);
    RestAnswer postShare(Context&);
    RestAnswer deleteShare(Context&);
    RestAnswer deleteParticipant(Context&);
    RestAnswer getShares(Context&);
    RestAnswer getShare(Context&);
    RestAnswer postAsset(Context&);
    RestAnswer updateAsset(Context&);
    RestAnswer deleteAsset(Context&);
    RestAnswer getAncestors(Context&);
    RestAnswer getChildren(Context&);
    RestAnswer getSetting(Context&);
    RestAnswer getAsset(Context&);
    RestAnswer postContent(Context&);
    RestAnswer getLatestContent(Context&);

    std::optional<std::string> findUser(const std::string& email) const;
    IdPairText createShareLocked(const std::string& ownerId, const std::string& name);
    const Participant* participantOf(const std::string& shareId, const std::string& userId) const;
    // Refusal of a request on a Share the user may not touch; empty optional when access is fine.
    std::optional<RestAnswer> checkAccess(const std::string& shareId, const std::string& userId) const;
    const Asset* assetIn(const std::string& shareId, const std::string& assetId) const;
    nlohmann::json assetJson(const std::string& id, const Asset& asset) const;
    nlohmann::json shareJson(const std::string& shareId) const;
    std::filesystem::path contentPath(const std::string& assetId, std::uint64_t version) const;
    void emit(const std::string& shareId, nlohmann::json event, const std::string& onlyUserId = {});
    void emitAssetEvent(const std::string& assetId, const Asset& asset, const char* folderType, const char* documentType);
    // Every new asset goes in through here, so that the children index stays complete.
    void insertAsset(const std::string& id, const Asset& asset);
    // The ids of the assets whose parent is `folderId`, in id order.
    const std::set<std::string>& childIds(const std::string& folderId) const;
    bool isDescendantOrSelf(const std::string& candidate, const std::string& ancestor) const;
    void removeAssetTree(const std::string& assetId);

    void load();
    void save() const;

    std::filesystem::path mDataFolder;
    std::filesystem::path mStateFile;  // empty: nothing persists
    mutable std::mutex mMutex;
    std::map<std::string, User> mUsers;
    std::map<std::string, Device> mDevices;
    std::map<std::string, Participant> mParticipants;
    std::map<std::string, Share> mShares;
    std::map<std::string, Asset> mAssets;
    std::map<std::string, std::set<std::string>> mChildren;  // parent id to child ids, kept with mAssets
    nlohmann::json mSettings = nlohmann::json::object();
    std::vector<std::uint32_t> mUpgradeVersion{1, 13, 0};
    std::string mInstaller;
    std::uint64_t mNextMessageId = 1;
};

}  // namespace fake
