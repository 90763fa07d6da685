#pragma once
// Readers of the server's answer bodies, one per REST operation, free of HTTP so they can be tested and fuzzed
// on their own. Each throws json_spirit::ParseError / TypeError, std::overflow_error, qcl::uint128::ParseError,
// boost::locale::conv::conversion_error or dwl::InconsistentServerResponse for a malformed answer, and
// std::bad_alloc when memory runs out. In the answers that describe Shares and assets, a Share or an asset whose
// ids can be read is never the reason for a malformed answer: when its name or another value cannot be used, it
// comes with its `problem`.

#include "api/IWayfoldApi.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dwl::answer
{
// The memory that the values of one answer, or of one element of a listing, may hold once parsed; more makes
// the answer malformed. A listing is read one element at a time: a long one never holds all its values at
// once, and a text of nothing but small values cannot hold many times its size.
constexpr std::size_t kMaximumParsedSize = std::size_t(64) << 20;

// "uuid" of the answer: the user id, a new Device, folder or document id.
qcl::uint128 uuid(std::string_view body);
// The first message asked for with startId; a number below startId or of 2^64-1 throws
// InconsistentServerResponse.
std::optional<IWayfoldApi::ServerMessage> serverMessage(std::string_view body, std::uint64_t startId);
std::optional<IWayfoldApi::ParticipantInfo> participantInfo(std::string_view body);
// (share id, root folder id) of a new Share.
IdPair createdShare(std::string_view body);
std::vector<IWayfoldApi::Share> shares(std::string_view body);
IWayfoldApi::Share share(std::string_view body);
// "uuid" of the Share's "root".
qcl::uint128 shareRootId(std::string_view body);
IWayfoldApi::AssetProperties assetProperties(std::string_view body, const IdPair& asked);
std::vector<IWayfoldApi::Asset> children(std::string_view body, const qcl::uint128& shareId);
// The speed limit in KiB/s under the one key (0: none).
std::uint32_t speedLimit(std::string_view body, const std::string& key);
// "contentVersion" of an asset (0 when missing or null).
std::uint64_t contentVersion(std::string_view body);

struct ServerErrorBody
{
    std::string key;
    std::wstring message; // empty when absent
};
// The body of a 403 answer: "key" (required string) and "message" (optional string).
ServerErrorBody serverError(std::string_view body);
} // namespace dwl::answer
