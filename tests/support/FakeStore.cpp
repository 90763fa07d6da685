#include "support/FakeStore.h"

#include <algorithm>
#include <fstream>
#include <regex>
#include <set>
#include <stdexcept>

#include "support/FakeIds.h"

namespace fake {

namespace {
// As a real server does, an account's address is the same in any letter case.
bool sameEmail(const std::string& a, const std::string& b) {
    const CaseInsensitiveLess less;
    return !less(a, b) && !less(b, a);
}


constexpr const char* v2 = "application/vnd.quillmere.wayfold-v2+json";
constexpr const char* v3 = "application/vnd.quillmere.wayfold-v3+json";
constexpr const char* plainJson = "application/json";
constexpr const char* hal = "application/hal+json";
constexpr const char* anyType = "*/*";

RestAnswer json(const nlohmann::json& value, int status = 200) {
    RestAnswer answer;
    answer.status = status;
    answer.body = value.dump();
    return answer;
}

RestAnswer serverError(int status, const std::string& key, const std::string& message) {
    return json({{"key", key}, {"message", message}}, status);
}

RestAnswer badRequest(const std::string& message) { return json({{"message", message}}, 400); }
RestAnswer notFound(const std::string& message) { return json({{"message", message}}, 404); }

std::string text(const nlohmann::json& object, const char* key) {
    if (!object.is_object() || !object.contains(key) || !object[key].is_string())
        throw std::invalid_argument(std::string("member \"") + key + "\" is not a string");
    return object[key].get<std::string>();
}

}  // namespace

struct FakeStore::Context {
    const RestCall& call;
    std::vector<std::string>& violations;
    std::vector<std::string> ids;  // the path's ids, normalised

    std::string queryValue(const std::string& key) const {
        const auto found = call.query.find(key);
        return found == call.query.end() ? std::string() : found->second;
    }
    // An id from the query or body: checked for the 39-character form, returned normalised ("" when malformed).
    std::string id(const std::string& text, const std::string& where) {
        if (!isCanonicalId(text)) violations.push_back(where + ": id not in the 39-character form: " + text);
        return normaliseId(text).value_or("");
    }
    nlohmann::json body() {
        auto value = nlohmann::json::parse(call.body, nullptr, false);
        if (value.is_discarded()) violations.push_back(call.method + " " + call.path + ": body is not JSON");
        return value;
    }
};

struct FakeStore::Route {
    const char* method;
    std::regex pattern;
    const char* mediaType;  // the Accept (and, for JSON POSTs, Content-Type) the client must send; null: not checked
    bool jsonBody;
    Handler handler;
};

const std::vector<FakeStore::Route>& FakeStore::routes() {
    static const std::string id = "([^/]+)";
    static const std::vector<Route> table{
        {"GET", std::regex("/rest/users"), v2, false, &FakeStore::getUser},
        {"POST", std::regex("/rest/users/" + id + "/devices"), v2, true, &FakeStore::registerDevice},
        {"DELETE", std::regex("/rest/users/" + id + "/devices/" + id), nullptr, false, &FakeStore::unregisterDevice},
        {"GET", std::regex("/rest/users/" + id + "/devices/" + id + "/messages"), v3, false, &FakeStore::getMessages},
        {"GET", std::regex("/rest/participants"), hal, false, &FakeStore::getParticipants},
        {"DELETE", std::regex("/rest/participants/" + id), nullptr, false, &FakeStore::deleteParticipant},
        {"POST", std::regex("/rest/shares"), plainJson, true, &FakeStore::postShare},
        {"GET", std::regex("/rest/shares"), plainJson, false, &FakeStore::getShares},
        {"GET", std::regex("/rest/shares/" + id), plainJson, false, &FakeStore::getShare},
        {"DELETE", std::regex("/rest/shares/" + id), nullptr, false, &FakeStore::deleteShare},
        {"POST", std::regex("/rest/shares/" + id + "/assets"), v2, true, &FakeStore::postAsset},
        {"GET", std::regex("/rest/shares/" + id + "/assets/ancestors"), v2, false, &FakeStore::getAncestors},
        {"GET", std::regex("/rest/shares/" + id + "/assets/children"), hal, false, &FakeStore::getChildren},
        {"GET", std::regex("/rest/shares/" + id + "/assets/" + id), hal, false, &FakeStore::getAsset},
        {"POST", std::regex("/rest/shares/" + id + "/assets/" + id), v2, true, &FakeStore::updateAsset},
        {"DELETE", std::regex("/rest/shares/" + id + "/assets/" + id), nullptr, false, &FakeStore::deleteAsset},
        {"POST", std::regex("/rest/shares/" + id + "/assets/" + id + "/contents"), anyType, false,
         &FakeStore::postContent},
        {"GET", std::regex("/rest/shares/" + id + "/assets/" + id + "/contents/latest"), nullptr, false,
         &FakeStore::getLatestContent},
        {"GET", std::regex("/rest/setting"), plainJson, false, &FakeStore::getSetting},
    };
    return table;
}

FakeStore::FakeStore(std::filesystem::path dataFolder, bool persistent) : mDataFolder(std::move(dataFolder)) {
    std::filesystem::create_directories(mDataFolder);
    if (persistent) {
        mStateFile = mDataFolder / "state.json";
        load();
    }
}

void FakeStore::load() {
    std::ifstream file(mStateFile);
    if (!file) return;
    const auto state = nlohmann::json::parse(file);
    for (const auto& [id, user] : state.at("users").items()) mUsers[id] = User{user.at("email"), user.at("password")};
    for (const auto& [id, device] : state.at("devices").items())
        mDevices[id] = Device{device.at("userId"), device.at("messages").get<std::vector<nlohmann::json>>()};
    for (const auto& [id, p] : state.at("participants").items())
        mParticipants[id] = Participant{p.at("shareId"), p.at("userId"), p.at("accepted"), p.at("isOwner")};
    for (const auto& [id, share] : state.at("shares").items()) mShares[id] = Share{share.at("rootId")};
    for (const auto& [id, a] : state.at("assets").items())
        insertAsset(id, Asset{a.at("shareId"), a.at("parentId"), a.at("folder"), a.at("name"), a.at("extension"),
                              a.at("contentVersion")});
    mSettings = state.at("settings");
    mNextMessageId = state.at("nextMessageId");
}

void FakeStore::save() const {
    if (mStateFile.empty()) return;
    nlohmann::json state{{"users", nlohmann::json::object()},        {"devices", nlohmann::json::object()},
                         {"participants", nlohmann::json::object()}, {"shares", nlohmann::json::object()},
                         {"assets", nlohmann::json::object()},       {"settings", mSettings},
                         {"nextMessageId", mNextMessageId}};
    for (const auto& [id, user] : mUsers) state["users"][id] = {{"email", user.email}, {"password", user.password}};
    for (const auto& [id, device] : mDevices)
        state["devices"][id] = {{"userId", device.userId}, {"messages", device.messages}};
    for (const auto& [id, p] : mParticipants)
        state["participants"][id] = {
            {"shareId", p.shareId}, {"userId", p.userId}, {"accepted", p.accepted}, {"isOwner", p.isOwner}};
    for (const auto& [id, share] : mShares) state["shares"][id] = {{"rootId", share.rootId}};
    for (const auto& [id, a] : mAssets)
        state["assets"][id] = {{"shareId", a.shareId}, {"parentId", a.parentId},   {"folder", a.folder},
                               {"name", a.name},       {"extension", a.extension}, {"contentVersion", a.contentVersion}};
    const auto temporary = mStateFile.string() + ".new";
    std::ofstream(temporary) << state.dump(1);
    std::filesystem::rename(temporary, mStateFile);
}

RestAnswer FakeStore::handle(const RestCall& call, std::vector<std::string>& violations) {
    const std::string where = call.method + " " + call.path;
    for (const auto& route : routes()) {
        std::smatch match;
        if (call.method != route.method || !std::regex_match(call.path, match, route.pattern)) continue;
        Context context{call, violations, {}};
        for (std::size_t i = 1; i < match.size(); ++i) context.ids.push_back(context.id(match[i].str(), where));
        if (std::find(context.ids.begin(), context.ids.end(), "") != context.ids.end())
            return notFound("Malformed id");
        if (route.mediaType && call.accept != route.mediaType)
            violations.push_back(where + ": Accept \"" + call.accept + "\" instead of \"" + route.mediaType + "\"");
        if (route.jsonBody && call.contentType != route.mediaType)
            violations.push_back(where + ": Content-Type \"" + call.contentType + "\" instead of \"" +
                                 route.mediaType + "\"");
        std::lock_guard lock(mMutex);
        try {
            auto answer = (this->*route.handler)(context);
            if (call.method != "GET") save();
            return answer;
        } catch (const std::exception& e) {
            violations.push_back(where + ": malformed request: " + e.what());
            return badRequest(e.what());
        }
    }
    violations.push_back(where + ": no such REST resource");
    return notFound("No such resource");
}

// ---- users, Devices, messages

RestAnswer FakeStore::getUser(Context& context) {
    const auto email = context.queryValue("emailAddress");
    for (const auto& [id, user] : mUsers)
        if (sameEmail(user.email, email)) return json({{"uuid", formatId(id)}, {"emailAddress", user.email}});
    return notFound("No such user");
}

RestAnswer FakeStore::registerDevice(Context& context) {
    const auto& userId = context.ids[0];
    if (userId != context.call.userId) return serverError(403, "permission.denied", "Not your account.");
    const auto body = context.body();
    if (!body.is_object() || !body.empty())
        context.violations.push_back("POST devices: body is not the empty object: " + context.call.body);
    const auto deviceId = newId();
    mDevices[deviceId].userId = userId;
    return json({{"uuid", formatId(deviceId)}}, 201);
}

RestAnswer FakeStore::unregisterDevice(Context& context) {
    const auto found = mDevices.find(context.ids[1]);
    if (found == mDevices.end() || found->second.userId != context.ids[0]) return notFound("No such Device");
    if (context.ids[0] != context.call.userId) return serverError(403, "permission.denied", "Not your Device.");
    mDevices.erase(found);
    return RestAnswer{204, "", "", {}};
}

RestAnswer FakeStore::getMessages(Context& context) {
    const auto found = mDevices.find(context.ids[1]);
    if (found == mDevices.end() || found->second.userId != context.ids[0]) return notFound("No such Device");
    if (context.ids[0] != context.call.userId) return serverError(403, "permission.denied", "Not your Device.");
    const auto startId = std::stoull(context.queryValue("startId"));
    const auto lengthText = context.queryValue("length");
    const std::size_t length = lengthText.empty() ? 1 : std::stoul(lengthText);
    nlohmann::json events = nlohmann::json::array();
    for (const auto& message : found->second.messages)
        if (message["id"].get<std::uint64_t>() >= startId && events.size() < length) events.push_back(message);
    return json({{"synchEvents", events}});
}

// ---- Shares and participants

RestAnswer FakeStore::getParticipants(Context& context) {
    const auto shareId = context.id(context.queryValue("shareUuid"), "GET participants shareUuid");
    const auto userId = context.id(context.queryValue("userUuid"), "GET participants userUuid");
    nlohmann::json list = nlohmann::json::array();
    for (const auto& [id, participant] : mParticipants)
        if (participant.shareId == shareId && participant.userId == userId)
            list.push_back({{"uuid", formatId(id)},
                            {"accepted", participant.accepted},
                            {"isOwner", participant.isOwner},
                            {"userUuid", formatId(userId)}});
    return json(list);
}

IdPairText FakeStore::createShareLocked(const std::string& ownerId, const std::string& name) {
    const auto shareId = newId();
    const auto rootId = newId();
    mShares[shareId] = Share{rootId};
    insertAsset(rootId, Asset{shareId, "", true, name, "", 0});
    mParticipants[newId()] = Participant{shareId, ownerId, true, true};
    emit(shareId, {{"type", "SHARE_CREATED"}, {"uuid", formatId(shareId)}, {"rootUuid", formatId(rootId)}});
    return {formatId(shareId), formatId(rootId)};
}

RestAnswer FakeStore::postShare(Context& context) {
    const auto body = context.body();
    const auto name = text(body, "folderName");
    const auto assigned = text(body, "assignedPrivilege");
    if (text(body, "assetPrivilege") != "CANADDDOC" || (assigned != "CANADDDOC" && assigned != "CANREAD"))
        context.violations.push_back("POST shares: unknown privilege in " + context.call.body);
    const auto ids = createShareLocked(context.call.userId, name);
    return json(shareJson(*normaliseId(ids.shareId)), 201);
}

RestAnswer FakeStore::deleteShare(Context& context) {
    const auto& shareId = context.ids[0];
    if (!mShares.count(shareId)) return notFound("No such Share");
    const auto* participant = participantOf(shareId, context.call.userId);
    if (!participant || !participant->isOwner)
        return serverError(403, "permission.denied", "Only the owner can delete a Share.");
    emit(shareId, {{"type", "SHARE_DELETED"}, {"uuid", formatId(shareId)}});
    removeAssetTree(mShares[shareId].rootId);
    std::erase_if(mParticipants, [&](const auto& entry) { return entry.second.shareId == shareId; });
    mShares.erase(shareId);
    return RestAnswer{204, "", "", {}};
}

RestAnswer FakeStore::deleteParticipant(Context& context) {
    const auto found = mParticipants.find(context.ids[0]);
    if (found == mParticipants.end()) return notFound("No such participant");
    const auto owner = participantOf(found->second.shareId, context.call.userId);
    if (found->second.userId != context.call.userId && !(owner && owner->isOwner))
        return serverError(403, "permission.denied", "Not your participation.");
    const auto [shareId, userId, accepted, isOwner] = found->second;
    if (accepted) emit(shareId, {{"type", "SHARE_DELETED"}, {"uuid", formatId(shareId)}}, userId);
    mParticipants.erase(found);
    return RestAnswer{204, "", "", {}};
}

RestAnswer FakeStore::getShares(Context& context) {
    const auto email = context.queryValue("participant");
    const auto userId = findUser(email);
    if (!userId || *userId != context.call.userId)
        return serverError(403, "permission.denied", "Shares of another user.");
    nlohmann::json list = nlohmann::json::array();
    for (const auto& [id, participant] : mParticipants)
        if (participant.userId == *userId) list.push_back(shareJson(participant.shareId));
    return json(list);
}

RestAnswer FakeStore::getShare(Context& context) {
    // Participants who have not accepted yet may read the Share (the client checks acceptance itself).
    const auto& shareId = context.ids[0];
    if (!mShares.count(shareId)) return serverError(404, "share.notFound", "No such Share.");
    if (!participantOf(shareId, context.call.userId))
        return serverError(403, "permission.denied", "Not a participant of the Share.");
    return json(shareJson(shareId));
}

// ---- assets

RestAnswer FakeStore::postAsset(Context& context) {
    const auto& shareId = context.ids[0];
    if (auto refusal = checkAccess(shareId, context.call.userId)) return *refusal;
    const auto body = context.body();
    const auto type = text(body, "type");
    if (!body.contains("parent")) throw std::invalid_argument("no parent");
    const auto parentId = context.id(text(body["parent"], "uuid"), "POST assets parent");
    const auto* parent = assetIn(shareId, parentId);
    if (!parent || !parent->folder) return badRequest("The parent is not a folder of this Share");
    Asset asset{shareId, parentId, type == "FOLDER", text(body, "name"), "", 0};
    if (type == "DOCUMENT") {
        asset.extension = text(body, "extension");
    } else if (type != "FOLDER") {
        context.violations.push_back("POST assets: unknown type " + type);
        return badRequest("Unknown type");
    } else if (body.contains("extension")) {
        context.violations.push_back("POST assets: a folder with an extension");
    }
    const auto id = newId();
    insertAsset(id, asset);
    emitAssetEvent(id, asset, "FOLDER_CREATED", "DOCUMENT_CREATED");
    return json(assetJson(id, asset), 201);
}

RestAnswer FakeStore::updateAsset(Context& context) {
    const auto& shareId = context.ids[0];
    if (auto refusal = checkAccess(shareId, context.call.userId)) return *refusal;
    const auto found = mAssets.find(context.ids[1]);
    if (found == mAssets.end() || found->second.shareId != shareId) return notFound("No such asset");
    auto& asset = found->second;
    const auto body = context.body();
    const bool rename = body.contains("name");
    const bool move = body.contains("parent");
    if (rename == move) {
        context.violations.push_back("POST asset: neither a rename nor a move: " + context.call.body);
        return badRequest("Neither a rename nor a move");
    }
    if (rename) {
        asset.name = text(body, "name");
        if (asset.folder && body.contains("extension"))
            context.violations.push_back("POST asset: a folder renamed with an extension");
        if (!asset.folder) asset.extension = text(body, "extension");
        if (asset.parentId.empty()) {
            emit(shareId, {{"type", "SHARE_UPDATED"}, {"uuid", formatId(shareId)}, {"rootUuid", formatId(found->first)}});
            return json(assetJson(found->first, asset));
        }
    } else {
        const auto parentId = context.id(text(body["parent"], "uuid"), "POST asset parent");
        const auto* parent = assetIn(shareId, parentId);
        if (!parent || !parent->folder || asset.parentId.empty() || isDescendantOrSelf(parentId, found->first))
            return badRequest("Cannot move the asset there");
        mChildren[asset.parentId].erase(found->first);
        mChildren[parentId].insert(found->first);
        asset.parentId = parentId;
    }
    emitAssetEvent(found->first, asset, "FOLDER_UPDATED", "DOCUMENT_UPDATED");
    return json(assetJson(found->first, asset));
}

RestAnswer FakeStore::deleteAsset(Context& context) {
    const auto& shareId = context.ids[0];
    if (auto refusal = checkAccess(shareId, context.call.userId)) return *refusal;
    const auto* asset = assetIn(shareId, context.ids[1]);
    if (!asset) return notFound("No such asset");
    if (asset->parentId.empty()) return badRequest("The root folder goes with its Share");
    emitAssetEvent(context.ids[1], *asset, "FOLDER_DELETED", "DOCUMENT_DELETED");
    removeAssetTree(context.ids[1]);
    return RestAnswer{204, "", "", {}};
}

RestAnswer FakeStore::getAncestors(Context& context) {
    const auto& shareId = context.ids[0];
    if (auto refusal = checkAccess(shareId, context.call.userId)) return *refusal;
    auto id = context.id(context.queryValue("ancestorOf"), "GET ancestors");
    const auto* asset = assetIn(shareId, id);
    if (!asset) return notFound("No such asset");
    nlohmann::json list = nlohmann::json::array();
    for (; asset; id = asset->parentId, asset = id.empty() ? nullptr : assetIn(shareId, id))
        list.push_back(assetJson(id, *asset));
    return json(list);
}

RestAnswer FakeStore::getChildren(Context& context) {
    const auto& shareId = context.ids[0];
    if (auto refusal = checkAccess(shareId, context.call.userId)) return *refusal;
    std::string folderId = mShares[shareId].rootId;
    if (context.call.query.count("childrenOf")) {
        folderId = context.id(context.queryValue("childrenOf"), "GET children");
        if (folderId == mShares[shareId].rootId)
            context.violations.push_back("GET children: childrenOf names the root folder");
    }
    const auto* folder = assetIn(shareId, folderId);
    if (!folder) return notFound("No such folder");
    nlohmann::json list = nlohmann::json::array();
    for (const auto& id : childIds(folderId)) list.push_back(assetJson(id, mAssets.at(id)));
    return json(list);
}

RestAnswer FakeStore::getAsset(Context& context) {
    const auto& shareId = context.ids[0];
    if (auto refusal = checkAccess(shareId, context.call.userId)) return *refusal;
    const auto* asset = assetIn(shareId, context.ids[1]);
    if (!asset) return notFound("No such asset");
    return json(assetJson(context.ids[1], *asset));
}

RestAnswer FakeStore::getSetting(Context&) { return json(mSettings); }

RestAnswer FakeStore::postContent(Context& context) {
    const auto& shareId = context.ids[0];
    if (auto refusal = checkAccess(shareId, context.call.userId)) return *refusal;
    const auto found = mAssets.find(context.ids[1]);
    if (found == mAssets.end() || found->second.shareId != shareId) return notFound("No such asset");
    if (found->second.folder) return badRequest("A folder has no contents");
    if (context.call.uploadedFile.empty()) {
        context.violations.push_back("POST contents: no multipart part \"file\"");
        return badRequest("No file");
    }
    auto& asset = found->second;
    std::filesystem::rename(context.call.uploadedFile, contentPath(found->first, asset.contentVersion + 1));
    ++asset.contentVersion;
    emitAssetEvent(found->first, asset, "VERSION_CREATED", "VERSION_CREATED");
    return json(assetJson(found->first, asset), 201);
}

RestAnswer FakeStore::getLatestContent(Context& context) {
    const auto& shareId = context.ids[0];
    if (auto refusal = checkAccess(shareId, context.call.userId)) return *refusal;
    const auto* asset = assetIn(shareId, context.ids[1]);
    if (!asset) return notFound("No such asset");
    if (asset->folder || asset->contentVersion == 0)
        return serverError(403, "document.content.notAvailable", "The document has no content.");
    RestAnswer answer;
    answer.contentType = "application/octet-stream";
    answer.file = contentPath(context.ids[1], asset->contentVersion);
    return answer;
}

// ---- helpers

const FakeStore::Participant* FakeStore::participantOf(const std::string& shareId, const std::string& userId) const {
    for (const auto& [id, participant] : mParticipants)
        if (participant.shareId == shareId && participant.userId == userId) return &participant;
    return nullptr;
}

std::optional<RestAnswer> FakeStore::checkAccess(const std::string& shareId, const std::string& userId) const {
    if (!mShares.count(shareId)) return serverError(404, "share.notFound", "No such Share.");
    const auto* participant = participantOf(shareId, userId);
    if (!participant) return serverError(403, "permission.denied", "Not a participant of the Share.");
    if (!participant->accepted) return serverError(403, "share.notAccepted", "The Share is not accepted yet.");
    return std::nullopt;
}

const FakeStore::Asset* FakeStore::assetIn(const std::string& shareId, const std::string& assetId) const {
    const auto found = mAssets.find(assetId);
    return found == mAssets.end() || found->second.shareId != shareId ? nullptr : &found->second;
}

nlohmann::json FakeStore::assetJson(const std::string& id, const Asset& asset) const {
    nlohmann::json value{{"uuid", formatId(id)},
                         {"type", asset.folder ? "FOLDER" : "DOCUMENT"},
                         {"name", asset.name},
                         {"status", "COMPLETE"}};
    if (!asset.folder) {
        value["extension"] = asset.extension;
        value["contentVersion"] = asset.contentVersion;
    }
    if (!asset.parentId.empty()) value["parent"] = {{"uuid", formatId(asset.parentId)}};
    return value;
}

nlohmann::json FakeStore::shareJson(const std::string& shareId) const {
    const auto& rootId = mShares.at(shareId).rootId;
    return {{"uuid", formatId(shareId)}, {"root", {{"uuid", formatId(rootId)}, {"name", mAssets.at(rootId).name}}}};
}

std::filesystem::path FakeStore::contentPath(const std::string& assetId, std::uint64_t version) const {
    return mDataFolder / (assetId + "." + std::to_string(version));
}

void FakeStore::emit(const std::string& shareId, nlohmann::json event, const std::string& onlyUserId) {
    std::set<std::string> users;
    for (const auto& [id, participant] : mParticipants)
        if (participant.shareId == shareId && participant.accepted) users.insert(participant.userId);
    if (!onlyUserId.empty()) users = {onlyUserId};
    event["id"] = mNextMessageId++;
    for (auto& [id, device] : mDevices)
        if (users.count(device.userId)) device.messages.push_back(event);
}

void FakeStore::emitAssetEvent(const std::string& assetId, const Asset& asset, const char* folderType,
                               const char* documentType) {
    emit(asset.shareId, {{"type", asset.folder ? folderType : documentType},
                         {"uuid", formatId(assetId)},
                         {"shareUuid", formatId(asset.shareId)}});
}

void FakeStore::insertAsset(const std::string& id, const Asset& asset) {
    mAssets[id] = asset;
    if (!asset.parentId.empty()) mChildren[asset.parentId].insert(id);
}

const std::set<std::string>& FakeStore::childIds(const std::string& folderId) const {
    static const std::set<std::string> none;
    const auto found = mChildren.find(folderId);
    return found == mChildren.end() ? none : found->second;
}

bool FakeStore::isDescendantOrSelf(const std::string& candidate, const std::string& ancestor) const {
    for (std::string id = candidate; !id.empty(); id = mAssets.at(id).parentId)
        if (id == ancestor) return true;
    return false;
}

void FakeStore::removeAssetTree(const std::string& assetId) {
    std::vector<std::string> doomed{assetId};
    for (std::size_t i = 0; i < doomed.size(); ++i)
        for (const auto& id : childIds(doomed[i])) doomed.push_back(id);
    if (const auto found = mAssets.find(assetId); found != mAssets.end() && !found->second.parentId.empty())
        mChildren[found->second.parentId].erase(assetId);
    for (const auto& id : doomed) {
        mChildren.erase(id);
        for (std::uint64_t v = 1; v <= mAssets[id].contentVersion; ++v) {
            std::error_code ignored;
            std::filesystem::remove(contentPath(id, v), ignored);
        }
        mAssets.erase(id);
    }
}

// ---- control API

std::optional<std::string> FakeStore::authenticate(const std::string& email, const std::string& password) const {
    std::lock_guard lock(mMutex);
    for (const auto& [id, user] : mUsers)
        if (sameEmail(user.email, email) && user.password == password) return id;
    return std::nullopt;
}

std::string FakeStore::addUser(const std::string& email, const std::string& password) {
    std::lock_guard lock(mMutex);
    const auto id = findUser(email).value_or(newId());
    mUsers[id] = User{email, password};
    save();
    return formatId(id);
}

std::optional<std::string> FakeStore::userIdOf(const std::string& email) const {
    std::lock_guard lock(mMutex);
    return findUser(email);
}

std::optional<std::string> FakeStore::findUser(const std::string& email) const {
    for (const auto& [id, user] : mUsers)
        if (sameEmail(user.email, email)) return id;
    return std::nullopt;
}

std::string FakeStore::addParticipant(const std::string& shareId, const std::string& email) {
    std::lock_guard lock(mMutex);
    const auto share = normaliseId(shareId).value_or("");
    const auto user = findUser(email);
    if (!mShares.count(share) || !user) throw std::invalid_argument("addParticipant: no such Share or user");
    const auto id = newId();
    mParticipants[id] = Participant{share, *user, false, false};
    save();
    return formatId(id);
}

void FakeStore::accept(const std::string& shareId, const std::string& email) {
    std::lock_guard lock(mMutex);
    const auto share = normaliseId(shareId).value_or("");
    const auto user = findUser(email);
    for (auto& [id, participant] : mParticipants)
        if (user && participant.shareId == share && participant.userId == *user) {
            participant.accepted = true;
            emit(share, {{"type", "SHARE_CREATED"}, {"uuid", formatId(share)}, {"rootUuid", formatId(mShares[share].rootId)}},
                 *user);
            save();
            return;
        }
    throw std::invalid_argument("accept: not a participant");
}

IdPairText FakeStore::createShare(const std::string& ownerEmail, const std::string& name) {
    std::lock_guard lock(mMutex);
    const auto owner = findUser(ownerEmail);
    if (!owner) throw std::invalid_argument("createShare: no such user");
    const auto ids = createShareLocked(*owner, name);
    save();
    return ids;
}

std::optional<AssetView> FakeStore::asset(const std::string& assetId) const {
    std::lock_guard lock(mMutex);
    const auto found = mAssets.find(normaliseId(assetId).value_or(""));
    if (found == mAssets.end()) return std::nullopt;
    const auto& a = found->second;
    return AssetView{formatId(found->first), formatId(a.shareId), a.parentId.empty() ? "" : formatId(a.parentId),
                     a.folder, a.name, a.extension, a.contentVersion};
}

std::vector<AssetView> FakeStore::children(const std::string& folderId) const {
    std::vector<std::string> ids;
    {
        std::lock_guard lock(mMutex);
        const auto folder = normaliseId(folderId).value_or("");
        const auto& children = childIds(folder);
        ids.assign(children.begin(), children.end());
    }
    std::vector<AssetView> views;
    for (const auto& id : ids) views.push_back(*asset(id));
    return views;
}

std::optional<std::string> FakeStore::content(const std::string& assetId, std::uint64_t version) const {
    std::ifstream file(contentPath(normaliseId(assetId).value_or(""), version), std::ios::binary);
    if (!file) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(file), {});
}

std::uint64_t FakeStore::putContent(const std::string& assetId, const std::string& bytes) {
    std::lock_guard lock(mMutex);
    const auto id = normaliseId(assetId).value_or("");
    auto& asset = mAssets.at(id);
    std::ofstream(contentPath(id, asset.contentVersion + 1), std::ios::binary) << bytes;
    ++asset.contentVersion;
    emitAssetEvent(id, asset, "VERSION_CREATED", "VERSION_CREATED");
    save();
    return asset.contentVersion;
}

std::string FakeStore::createAsset(const std::string& shareId, const std::string& parentId, bool folder,
                                   const std::string& name, const std::string& extension) {
    std::lock_guard lock(mMutex);
    const auto share = normaliseId(shareId).value_or("");
    const auto parent = normaliseId(parentId).value_or("");
    const auto* parentAsset = assetIn(share, parent);
    if (!parentAsset || !parentAsset->folder) throw std::invalid_argument("createAsset: no such folder");
    Asset asset{share, parent, folder, name, folder ? "" : extension, 0};
    const auto id = newId();
    insertAsset(id, asset);
    emitAssetEvent(id, asset, "FOLDER_CREATED", "DOCUMENT_CREATED");
    save();
    return formatId(id);
}

std::vector<std::string> FakeStore::devices(const std::string& email) const {
    std::lock_guard lock(mMutex);
    std::vector<std::string> list;
    const auto user = findUser(email);
    for (const auto& [id, device] : mDevices)
        if (user && device.userId == *user) list.push_back(formatId(id));
    return list;
}

void FakeStore::setSetting(const std::string& key, nlohmann::json value) {
    std::lock_guard lock(mMutex);
    mSettings[key] = std::move(value);
    save();
}

void FakeStore::setUpgrade(std::vector<std::uint32_t> version, std::string installer) {
    std::lock_guard lock(mMutex);
    mUpgradeVersion = std::move(version);
    mInstaller = std::move(installer);
}

std::string FakeStore::upgradeInfo(const std::string& baseUrl) const {
    std::lock_guard lock(mMutex);
    return nlohmann::json{{"version", mUpgradeVersion}, {"url", baseUrl + "/upgrade/installer"}}.dump();
}

std::string FakeStore::installer() const {
    std::lock_guard lock(mMutex);
    return mInstaller;
}

}  // namespace fake
