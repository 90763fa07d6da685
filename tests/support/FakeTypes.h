#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace fake {

struct CaseInsensitiveLess {
    bool operator()(const std::string& a, const std::string& b) const;
};

// One request as the server received it.
struct RecordedRequest {
    std::uint64_t serial = 0;  // order of arrival, from 1
    std::string method;
    std::string path;    // without the query
    std::string target;  // path and query as sent
    std::multimap<std::string, std::string, CaseInsensitiveLess> headers;
    std::string body;  // whole, except for multipart uploads (see uploadedBytes)
    std::uint64_t uploadedBytes = 0;
    std::string uploadedFileName;     // the "filename" of the multipart part
    std::string uploadedContentType;  // the Content-Type of the multipart part
    int status = 0;                   // the answer's status; 0 while the request is being served
    bool reusedConnection = false;    // it came on a kept-alive connection that carried an earlier request

    // The first value of the header, or "" when missing.
    std::string header(const std::string& name) const;
    bool hasHeader(const std::string& name) const;
};

enum class FaultKind {
    Status,              // answer with status and body instead of serving the request
    Body,                // serve the request, then replace its body (status kept unless given)
    OmitServiceHeader,   // serve without the "Service" header
    AlterServiceHeader,  // serve with the "Service" value in other letter case
    LowerCaseHeaderNames,  // serve with the names "service" and "set-cookie", as over HTTP/2
    Stall,               // hold the request until releaseStalls(), then serve it
    ShortBody,           // announce the whole length, send half the body, close the connection
    DropConnection,      // send the headers, then close the connection without a body
    HoldMidBody,         // send half the body, hold the rest until releaseStalls() (counted as stalled)
    CloseConnection,     // close the connection once the request is read, without any answer, as a server
                         // does with a kept-alive connection it has just given up; the request is not acted on
    AnswerLost,          // on a kept-alive connection that carried an earlier request: act on the request, then
                         // close the connection without any answer, as when the link dies after the server acted;
                         // a request on a new connection is served and leaves the rule waiting
};

struct FaultRule {
    std::string method;       // empty: any method
    std::string pathPattern;  // ECMAScript regular expression matched against the whole path (no query)
    FaultKind kind = FaultKind::Status;
    int times = 1;  // how many requests it applies to; -1: always
    int status = 0;
    std::string body;
    std::string contentType = "application/json";
    std::string location;  // a Location header for a Status answer (redirects)
    bool dropServiceHeader = false;  // also leave out the "Service" header, whatever the kind

    static FaultRule status_(std::string method, std::string pathPattern, int status, std::string body = "");
    static FaultRule of(FaultKind kind, std::string method, std::string pathPattern);
};

struct IdPairText {
    std::string shareId;
    std::string rootId;
};

struct AssetView {
    std::string id;
    std::string shareId;
    std::string parentId;  // empty for a Share's root folder
    bool folder = false;
    std::string name;
    std::string extension;
    std::uint64_t contentVersion = 0;
};

}  // namespace fake
