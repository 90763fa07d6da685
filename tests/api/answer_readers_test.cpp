// The readers of the server's answers, on bodies alone.

#include "api/AnswerReaders.h"
#include "api/ServerError.h"
#include "json_spirit/Error.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace
{
using dwl::EventType;
using dwl::IWayfoldApi;
namespace answer = dwl::answer;

const std::string kA = "0000-0000-0000-0000-0000-0000-0000-000a";
const std::string kB = "0000-0000-0000-0000-0000-0000-0000-000b";
const std::string kC = "0000-0000-0000-0000-0000-0000-0000-000c";

qcl::uint128 id(const std::string& text)
{
    return qcl::uint128::parse(text);
}

std::string event(const std::string& members)
{
    return R"({"synchEvents":[{"id":7,)" + members + "}]}";
}

TEST(AnswerReaders, ServerMessagesTakeTheIdsTheirTypeNames)
{
    EXPECT_EQ(answer::serverMessage(R"({"synchEvents":[]})", 0), std::nullopt);
    EXPECT_EQ(answer::serverMessage("{}", 0), std::nullopt);
    EXPECT_EQ(answer::serverMessage("null", 0), std::nullopt);
    EXPECT_THROW(answer::serverMessage(R"({"synchEvents":{}})", 0), json_spirit::TypeError);

    const auto created = answer::serverMessage(event(R"("type":"SHARE_CREATED","uuid":")" + kA + R"(","rootUuid":")" + kB + "\""), 7);
    EXPECT_EQ(created, (IWayfoldApi::ServerMessage{7, EventType::shareCreated, id(kA), id(kB)}));
    const auto deleted = answer::serverMessage(event(R"("type":"SHARE_DELETED","uuid":")" + kA + "\""), 0);
    EXPECT_EQ(deleted, (IWayfoldApi::ServerMessage{7, EventType::shareDeleted, id(kA), {}}));
    EXPECT_THROW(answer::serverMessage(event(R"("type":"SHARE_UPDATED","uuid":")" + kA + "\""), 0),
                 json_spirit::TypeError);
    const auto version =
        answer::serverMessage(event(R"("type":"VERSION_CREATED","uuid":")" + kA + R"(","shareUuid":")" + kB + "\""), 0);
    EXPECT_EQ(version, (IWayfoldApi::ServerMessage{7, EventType::versionCreated, id(kB), id(kA)}));
    // An unknown type reads no id at all.
    const auto other = answer::serverMessage(event(R"("type":"share_created","uuid":5)"), 0);
    EXPECT_EQ(other, (IWayfoldApi::ServerMessage{7, EventType::other, {}, {}}));
}

TEST(AnswerReaders, ServerMessageNumbersMustBeUsable)
{
    EXPECT_THROW(answer::serverMessage(R"({"synchEvents":[{"id":-1,"type":"X"}]})", 0), std::overflow_error);
    EXPECT_THROW(answer::serverMessage(R"({"synchEvents":[{"id":"1","type":"X"}]})", 0), json_spirit::TypeError);
    EXPECT_THROW(answer::serverMessage(R"({"synchEvents":[{"id":1.0,"type":"X"}]})", 0), json_spirit::ParseError);
    // Below the number asked for, or without a successor: not applied.
    EXPECT_THROW(answer::serverMessage(R"({"synchEvents":[{"id":6,"type":"X"}]})", 7), dwl::InconsistentServerResponse);
    EXPECT_THROW(answer::serverMessage(R"({"synchEvents":[{"id":18446744073709551615,"type":"X"}]})", 0),
                 dwl::InconsistentServerResponse);
    EXPECT_EQ(answer::serverMessage(R"({"synchEvents":[{"id":18446744073709551614,"type":"X"}]})", 0)->number,
              18446744073709551614ull);
}

TEST(AnswerReaders, ParticipantRecordsNeedBothFlags)
{
    EXPECT_FALSE(answer::participantInfo("[]"));
    EXPECT_FALSE(answer::participantInfo("null"));
    const auto info = answer::participantInfo(R"([{"uuid":")" + kA + R"(","accepted":false,"isOwner":true}])");
    ASSERT_TRUE(info);
    EXPECT_EQ(info->participantId, id(kA));
    EXPECT_FALSE(info->accepted);
    EXPECT_TRUE(info->isOwner);
    EXPECT_THROW(answer::participantInfo(R"([{"uuid":")" + kA + R"(","accepted":1,"isOwner":true}])"),
                 json_spirit::TypeError);
    EXPECT_THROW(answer::participantInfo(R"([{"uuid":")" + kA + R"(","isOwner":true}])"), json_spirit::TypeError);
    EXPECT_THROW(answer::participantInfo("{}"), json_spirit::TypeError);
}

TEST(AnswerReaders, SharesNeedTheirRootAndAList)
{
    const std::string element = R"({"uuid":")" + kA + R"(","root":{"uuid":")" + kB + R"(","name":"N\u00e9"}})";
    EXPECT_EQ(answer::shares("[" + element + "]"), (std::vector<IWayfoldApi::Share>{{id(kA), id(kB), L"N\x00e9"}}));
    EXPECT_TRUE(answer::shares("[]").empty());
    EXPECT_THROW(answer::shares("null"), json_spirit::TypeError);
    EXPECT_THROW(answer::shares(R"([{"uuid":")" + kA + "\"}]"), json_spirit::TypeError);
    EXPECT_EQ(answer::share(element).name, L"N\x00e9");
    EXPECT_EQ(answer::createdShare(element), dwl::IdPair(id(kA), id(kB)));
    EXPECT_EQ(answer::shareRootId(element), id(kB));
}

TEST(AnswerReaders, AssetPropertiesPutTheRootFirstAndRejectContradictions)
{
    const dwl::IdPair asked{id(kC), id(kA)};
    const auto properties = answer::assetProperties(
        R"([{"uuid":")" + kA + R"(","name":"r","extension":"txt","type":"document","status":"scanned","contentVersion":3},)" +
            R"({"uuid":")" + kB + R"(","name":"parent"},{"uuid":")" + kC + R"(","name":"root"}])",
        asked);
    EXPECT_EQ(properties.name, L"r.txt");
    EXPECT_EQ(properties.type, IWayfoldApi::Asset::Document);
    EXPECT_EQ(properties.status, IWayfoldApi::Asset::Scanned);
    EXPECT_EQ(properties.contentVersion, 3u);
    EXPECT_EQ(properties.shareId, id(kC));
    const std::vector<IWayfoldApi::AssetProperties::Ancestor> ancestors{{id(kC), L"root"}, {id(kB), L"parent"}};
    EXPECT_EQ(properties.ancestors, ancestors);

    const auto alone = answer::assetProperties(R"([{"uuid":")" + kA + R"(","name":"d","type":"CONTAINER"}])", asked);
    EXPECT_TRUE(alone.ancestors.empty());
    EXPECT_EQ(alone.type, IWayfoldApi::Asset::Folder);
    EXPECT_EQ(alone.status, IWayfoldApi::Asset::Complete);

    EXPECT_THROW(answer::assetProperties(R"([{"uuid":")" + kB + R"(","name":"d","type":"FOLDER"}])", asked),
                 dwl::InconsistentServerResponse);
    EXPECT_THROW(answer::assetProperties(R"([{"uuid":")" + kA + R"(","name":"d","type":"FOLDER"},{"uuid":")" + kA +
                                             R"(","name":"again"}])",
                                         asked),
                 dwl::InconsistentServerResponse);
    EXPECT_THROW(answer::assetProperties("[]", asked), json_spirit::TypeError);
    EXPECT_THROW(answer::assetProperties(R"([{"uuid":")" + kA + R"(","name":"d","type":"LINK"}])", asked),
                 qcl::basic_runtime_error<wchar_t>);
    EXPECT_THROW(answer::assetProperties(R"([{"uuid":")" + kA + R"(","name":"d","type":"FOLDER","status":"GONE"}])",
                                         asked),
                 qcl::basic_runtime_error<wchar_t>);
    EXPECT_THROW(answer::assetProperties(R"([{"uuid":")" + kA +
                                             R"(","name":"d","type":"DOCUMENT","contentVersion":-1}])",
                                         asked),
                 std::overflow_error);
}

TEST(AnswerReaders, ChildrenCarryFullNamesAndVersions)
{
    const auto children = answer::children(
        R"([{"uuid":")" + kA + R"(","name":"a","extension":null,"type":"FOLDER"},)" + R"({"uuid":")" + kB +
            R"(","name":"b","extension":"pdf","type":"DOCUMENT","contentVersion":2,"status":"bogus"}])",
        id(kC));
    ASSERT_EQ(children.size(), 2u);
    EXPECT_EQ(children[0], (IWayfoldApi::Asset{id(kC), id(kA), IWayfoldApi::Asset::Folder,
                                               IWayfoldApi::Asset::Complete, L"a", 0}));
    EXPECT_EQ(children[1].name, L"b.pdf");
    EXPECT_EQ(children[1].contentVersion, 2u);
    EXPECT_THROW(answer::children("null", id(kC)), json_spirit::TypeError);
    EXPECT_THROW(answer::children(R"([{"uuid":")" + kA + R"(","name":"a","extension":5,"type":"FOLDER"}])", id(kC)),
                 json_spirit::TypeError);
}

TEST(AnswerReaders, SpeedLimitsAndContentVersions)
{
    const std::string key = "client.throttle-suggestion.upload-rate";
    EXPECT_EQ(answer::speedLimit("{}", key), 0u);
    EXPECT_EQ(answer::speedLimit("null", key), 0u);
    EXPECT_EQ(answer::speedLimit(R"({"client.throttle-suggestion.upload-rate":100})", key), 100u);
    EXPECT_EQ(answer::speedLimit(R"({"client":{"throttle-suggestion":{"upload-rate":100}}})", key), 0u);
    EXPECT_THROW(answer::speedLimit(R"({"client.throttle-suggestion.upload-rate":4294967296})", key),
                 std::overflow_error);
    EXPECT_THROW(answer::speedLimit(R"({"client.throttle-suggestion.upload-rate":"100"})", key),
                 json_spirit::TypeError);
    EXPECT_EQ(answer::contentVersion("{}"), 0u);
    EXPECT_EQ(answer::contentVersion(R"({"contentVersion":7})"), 7u);
    EXPECT_THROW(answer::contentVersion("[]"), json_spirit::TypeError);
}

TEST(AnswerReaders, ServerErrorBodies)
{
    const auto body = answer::serverError(R"({"key":"user.suspended","message":"No."})");
    EXPECT_EQ(body.key, "user.suspended");
    EXPECT_EQ(body.message, L"No.");
    EXPECT_EQ(answer::serverError(R"({"key":"k"})").message, L"");
    EXPECT_THROW(answer::serverError(R"({"message":"m"})"), json_spirit::TypeError);
    EXPECT_THROW(answer::serverError("oops"), json_spirit::ParseError);
}
} // namespace
