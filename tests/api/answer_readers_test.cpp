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
}

// An item whose id can be read is never the reason for a malformed answer: what cannot be used of it is its
// problem, and the rest of the answer stands.
TEST(AnswerReaders, AnItemWhoseNameOrValuesCannotBeUsedComesWithItsProblem)
{
    const dwl::IdPair asked{id(kC), id(kA)};
    const auto problemOf = [&](const std::string& members, const std::string& ancestors = "")
    { return answer::assetProperties(R"([{"uuid":")" + kA + "\"," + members + "}" + ancestors + "]", asked).problem; };
    EXPECT_EQ(problemOf(R"("name":"d","type":"FOLDER")"), L"");
    const std::wstring name = L"Its name on the server cannot be used as a name here.";
    const std::wstring values = L"The server describes it with values that cannot be read.";
    EXPECT_EQ(problemOf(R"("name":"a\ud800b","type":"FOLDER")"), name); // a lone surrogate
    EXPECT_EQ(problemOf(R"("name":"\udc00","type":"FOLDER")"), name);
    EXPECT_EQ(problemOf("\"name\":\"\xFF\",\"type\":\"FOLDER\""), name); // not UTF-8
    EXPECT_EQ(problemOf(R"("name":5,"type":"FOLDER")"), name);
    EXPECT_EQ(problemOf(R"("type":"FOLDER")"), name);
    EXPECT_EQ(problemOf(R"("name":"a","extension":5,"type":"DOCUMENT")"), name);
    EXPECT_EQ(problemOf(R"("name":"d","type":"LINK")"), values);
    EXPECT_EQ(problemOf(R"("name":"d","type":"FOLDER","status":"GONE")"), values);
    EXPECT_EQ(problemOf(R"("name":"d","type":"DOCUMENT","contentVersion":-1)"), values);
    EXPECT_EQ(problemOf(R"("name":"d","type":"DOCUMENT")", R"(,{"uuid":")" + kC + R"(","name":7})"),
              L"The name of a folder that holds it on the server cannot be used as a name here.");
    // What can be shown of a name that cannot be used.
    EXPECT_EQ(answer::assetProperties(R"([{"uuid":")" + kA + R"(","name":"a\ud800b","type":"FOLDER"}])", asked).name,
              L"a\xFFFD\xFFFD\xFFFD" L"b");

    const auto children = answer::children(R"([{"uuid":")" + kA + R"(","name":"\ud83d"},{"uuid":")" + kB +
                                               R"(","name":"b","type":"DOCUMENT"}])",
                                           id(kC));
    ASSERT_EQ(children.size(), 2u);
    EXPECT_EQ(children[0].assetId, id(kA));
    EXPECT_EQ(children[0].problem, name);
    EXPECT_EQ(children[1].problem, L"");
    const auto shares = answer::shares(R"([{"uuid":")" + kA + R"(","root":{"uuid":")" + kB + R"(","name":[]}}])");
    ASSERT_EQ(shares.size(), 1u);
    EXPECT_EQ(shares[0].problem, name);
    // Without an id that can be read, the answer is malformed.
    EXPECT_THROW(answer::children(R"([{"uuid":"x","name":"a","type":"FOLDER"}])", id(kC)), qcl::uint128::ParseError);
    EXPECT_THROW(answer::children(R"([5])", id(kC)), json_spirit::TypeError);
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
