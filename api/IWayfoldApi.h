#pragma once
// The one door through which the engine and the application reach the Wayfold service.
//
// Failures: the url::Error tree (messages start "Cannot GET|POST|DELETE <url>"): HTTP and network trouble, a
// lack of memory for an answer as a url::NetworkError, and an answer that cannot be read or contradicts itself
// as dwl::InconsistentServerResponse, a url::ServerSideError. No operation returns part of a result: an item
// of a good answer whose name or values cannot be used here is returned with its ids and a `problem`.

#include "api/EventType.h"
#include "compat/Types.h"
#include "qcl/Uint128.h"

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace dwl
{
// Two ids: (share id, asset id) as an asset reference, (share id, root folder id) as the result of createShare.
// Written "(first/second)" in log lines.
using IdPair = std::pair<qcl::uint128, qcl::uint128>;

class IWayfoldApi
{
public:
    struct Share
    {
        qcl::uint128 shareId;
        qcl::uint128 rootId; // the Share's root folder
        std::wstring name;   // the root folder's name
        // Why the Share cannot be synchronised here (its name cannot be used), as a sentence (a text of static
        // storage); empty when it can. The name is then only as much of it as can be shown.
        std::wstring_view problem{};

        friend bool operator==(const Share&, const Share&) = default;
    };

    struct Asset
    {
        enum Type : std::uint32_t
        {
            Document = 0,
            Folder = 1,
        };
        enum Status : std::uint32_t
        {
            Complete = 0,
            Uploading = 1,
            Error = 2,
            Saving = 3,
            Saved = 4,
            Scanning = 5,
            Scanned = 6,
            VirusDetected = 7,
        };

        qcl::uint128 shareId;
        qcl::uint128 assetId;
        Type type = Document;
        Status status = Complete;
        std::wstring name; // the full file name, extension included
        std::uint64_t contentVersion = 0;
        // Why the item cannot be synchronised here (its name, or a value that describes it, cannot be used),
        // as a sentence (a text of static storage); empty when it can. The name is then only as much of it as
        // can be shown.
        std::wstring_view problem{};

        // "DOCUMENT", "FOLDER"; "IWayfoldApi::Asset::Type(n)" outside the table.
        static std::wostream& typeToString(std::wostream& stream, Type type);
        static std::wostream& statusToString(std::wostream& stream, Status status);
        // Upper-cases the text and looks it up ("CONTAINER" is a Folder); throws qcl::basic_runtime_error<wchar_t>
        // "Bad Asset type: <text>" / "Bad Asset status: <text>".
        static Type typeFromString(const std::string& text);
        static Status statusFromString(const std::string& text);

        friend bool operator==(const Asset&, const Asset&) = default;
    };

    struct AssetProperties : Asset
    {
        struct Ancestor
        {
            qcl::uint128 id;
            std::wstring name;

            friend bool operator==(const Ancestor&, const Ancestor&) = default;
        };
        // From the Share's root folder down to the asset's parent.
        std::vector<Ancestor> ancestors;
    };

    struct ServerMessage
    {
        std::uint64_t number = 0;
        EventType type = EventType::other;
        qcl::uint128 shareId;
        qcl::uint128 assetId; // root folder for share events, nil for SHARE_DELETED and OTHER

        friend bool operator==(const ServerMessage&, const ServerMessage&) = default;
    };

    struct ParticipantInfo
    {
        qcl::uint128 participantId; // the participation, not the user
        bool accepted = false;
        bool isOwner = false;
    };

    // Any thread: true aborts a transfer in progress and refuses new ones until called with false.
    virtual void setMustCloseSocket(bool mustClose) = 0;
    // Cached once known.
    virtual qcl::uint128 getUserId() = 0;
    // The new Device id; the caller keeps it.
    virtual qcl::uint128 registerDevice() = 0;
    // Returns normally when the server refuses with any HTTP status.
    virtual void unregisterDevice(qcl::uint128 deviceId) = 0;
    virtual IdPair createShare(const std::wstring& name, bool canAddDocuments) = 0;
    // Leaves a Share the user does not own; deletes one the user owns (or has no participation in).
    virtual void removeShare(const qcl::uint128& shareId) = 0;
    virtual qcl::uint128 createFolder(const std::wstring& name, const IdPair& parent) = 0;
    virtual qcl::uint128 createDocument(const std::wstring& name, const IdPair& parent) = 0;
    // The document's content version after the upload. The file is read from its start. When the answer is
    // lost, the version is taken if the server's latest content is the file's: it is never sent twice.
    virtual std::uint64_t uploadContent(const IdPair& asset, HANDLE file) = 0;
    // Writes the latest content into the file from its start.
    virtual void downloadContent(const IdPair& asset, HANDLE file) = 0;
    virtual void renameDocument(const IdPair& asset, const std::wstring& name) = 0;
    virtual void renameFolder(const IdPair& asset, const std::wstring& name) = 0;
    virtual void moveAsset(const IdPair& asset, const qcl::uint128& newParentId) = 0;
    // An asset (or Share) the server does not know is removed already: sent again after its answer was lost, a
    // removal finds it gone.
    virtual void removeAsset(const IdPair& asset) = 0;
    // The first message numbered number or higher; empty when there is none.
    virtual std::optional<ServerMessage> getServerMessage(std::uint64_t number) = 0;
    virtual AssetProperties getAssetProperties(const IdPair& asset) = 0;
    // Throws url::NotFoundOrForbiddenError when the Share is gone or not (yet) open to the user.
    virtual Share getShareProperties(const qcl::uint128& shareId) = 0;
    // Only the Shares the user has accepted.
    virtual std::vector<Share> getShares() = 0;
    virtual std::vector<Asset> getChildren(const IdPair& folder) = 0;

protected:
    ~IWayfoldApi() = default;
};
} // namespace dwl
