#pragma once
// A local HTTP (or HTTPS) server that answers as a broken or hostile server would, for the client's bounds:
// answers of any length, a length announced and not kept, no length at all, a trickle, any status and
// redirects. Each path answers as set with answer(); any other path gets a 404.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace httplib
{
class Server;
}

namespace fake
{
class TestCertificate;
}

namespace test
{
struct HostileAnswer
{
    enum class Length
    {
        Exact,      // Content-Length of the body
        None,       // no length at all: the body ends where the connection is closed
        Announced,  // Content-Length `announced`; the body is sent, then the connection is closed
        Chunked,    // chunked, with its end marked by the last chunk
        ChunkedCut, // chunked: the body is sent, then the connection is closed without the last chunk
    };

    int status = 200;
    std::string body;
    std::string location; // a Location header when not empty
    Length length = Length::Exact;
    std::uint64_t announced = 0;
    // A trickle: the body goes in pieces of this many bytes, one every `pause`; 0: as fast as it can.
    std::size_t piece = 0;
    std::chrono::milliseconds pause{0};

    static HostileAnswer bytes(std::string body, Length length = Length::Exact);
    // Announces `length` bytes and sends only the body.
    static HostileAnswer announcing(std::uint64_t length, std::string body);
    static HostileAnswer trickle(std::string body, std::size_t piece, std::chrono::milliseconds pause);
    static HostileAnswer withStatus(int status);
    static HostileAnswer redirect(std::string location);
};

class HostileServer
{
public:
    enum class Scheme
    {
        Http,
        Https, // a self-signed certificate: the client must not check it
    };

    explicit HostileServer(Scheme scheme = Scheme::Http);
    ~HostileServer();
    HostileServer(const HostileServer&) = delete;
    HostileServer& operator=(const HostileServer&) = delete;

    void answer(const std::string& path, HostileAnswer answer);
    std::string url(const std::string& path) const;

    // The body bytes the clients took, over all requests.
    std::uint64_t bytesSent() const { return mBytesSent; }
    std::size_t requestCount(const std::string& path) const;

private:
    std::unique_ptr<fake::TestCertificate> mCertificate;
    std::unique_ptr<httplib::Server> mServer;
    std::string mScheme;
    int mPort = 0;
    std::thread mThread;
    std::atomic<std::uint64_t> mBytesSent{0};
    mutable std::mutex mMutex; // guards the two maps
    std::map<std::string, HostileAnswer> mAnswers;
    std::map<std::string, std::size_t> mRequests;
};
} // namespace test
