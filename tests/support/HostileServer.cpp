#include "support/HostileServer.h"

#include "support/TestCertificate.h"

#include <httplib.h>

#include <algorithm>
#include <stdexcept>

namespace test
{
namespace
{
constexpr std::size_t kLargestPiece = 64 * 1024;
} // namespace

HostileAnswer HostileAnswer::bytes(std::string body, Length length)
{
    HostileAnswer answer;
    answer.body = std::move(body);
    answer.length = length;
    return answer;
}

HostileAnswer HostileAnswer::announcing(std::uint64_t length, std::string body)
{
    HostileAnswer answer = bytes(std::move(body), Length::Announced);
    answer.announced = length;
    return answer;
}

HostileAnswer HostileAnswer::trickle(std::string body, std::size_t piece, std::chrono::milliseconds pause)
{
    HostileAnswer answer = bytes(std::move(body));
    answer.piece = piece;
    answer.pause = pause;
    return answer;
}

HostileAnswer HostileAnswer::withStatus(int status)
{
    HostileAnswer answer;
    answer.status = status;
    return answer;
}

HostileAnswer HostileAnswer::redirect(std::string location)
{
    HostileAnswer answer = withStatus(302);
    answer.location = std::move(location);
    return answer;
}

HostileServer::HostileServer(Scheme scheme)
{
    if (scheme == Scheme::Https)
    {
        mCertificate = std::make_unique<fake::TestCertificate>();
        mServer = std::make_unique<httplib::SSLServer>(mCertificate->certificateFile().c_str(),
                                                       mCertificate->privateKeyFile().c_str());
        mScheme = "https";
    }
    else
    {
        mServer = std::make_unique<httplib::Server>();
        mScheme = "http";
    }
    mServer->Get(
        ".*",
        [this](const httplib::Request& request, httplib::Response& response)
        {
            HostileAnswer answer;
            {
                std::lock_guard lock(mMutex);
                ++mRequests[request.path];
                const auto found = mAnswers.find(request.path);
                if (found == mAnswers.end())
                {
                    response.status = 404;
                    return;
                }
                answer = found->second;
            }
            response.status = answer.status;
            if (!answer.location.empty())
                response.set_header("Location", answer.location);
            if (answer.body.empty() && answer.length == HostileAnswer::Length::Exact)
                return;
            // Sends the next piece of the body from `offset`; false ends the answer there and closes the
            // connection.
            auto body = std::make_shared<const std::string>(std::move(answer.body));
            auto send = [this, body, piece = answer.piece, pause = answer.pause](std::size_t offset,
                                                                                 httplib::DataSink& sink)
            {
                if (offset >= body->size())
                    return false;
                if (piece != 0)
                    std::this_thread::sleep_for(pause);
                const std::size_t size = std::min(body->size() - offset, piece != 0 ? piece : kLargestPiece);
                if (!sink.write(body->data() + offset, size))
                    return false;
                mBytesSent += size;
                return true;
            };
            const char* type = "application/octet-stream";
            switch (answer.length)
            {
            case HostileAnswer::Length::Exact:
            case HostileAnswer::Length::Announced:
                response.set_content_provider(
                    answer.length == HostileAnswer::Length::Exact ? body->size() : answer.announced, type,
                    [send](std::size_t offset, std::size_t, httplib::DataSink& sink)
                    { return send(offset, sink); });
                break;
            case HostileAnswer::Length::Chunked:
            case HostileAnswer::Length::ChunkedCut:
                response.set_chunked_content_provider(
                    type,
                    [send, cut = answer.length == HostileAnswer::Length::ChunkedCut](std::size_t offset,
                                                                                     httplib::DataSink& sink)
                    {
                        if (send(offset, sink))
                            return true;
                        if (!cut)
                            sink.done();
                        return !cut;
                    });
                break;
            case HostileAnswer::Length::None:
                // Ending the provider closes the connection, which is the end of a body without a length.
                response.set_content_provider(type, [send](std::size_t offset, httplib::DataSink& sink)
                                              { return send(offset, sink); });
                break;
            }
        });
    mPort = mServer->bind_to_any_port("127.0.0.1");
    if (mPort <= 0)
        throw std::runtime_error("The hostile server cannot listen");
    mThread = std::thread([this] { mServer->listen_after_bind(); });
}

HostileServer::~HostileServer()
{
    mServer->stop();
    mThread.join();
}

void HostileServer::answer(const std::string& path, HostileAnswer answer)
{
    std::lock_guard lock(mMutex);
    mAnswers[path] = std::move(answer);
}

std::string HostileServer::url(const std::string& path) const
{
    return mScheme + "://127.0.0.1:" + std::to_string(mPort) + path;
}

std::size_t HostileServer::requestCount(const std::string& path) const
{
    std::lock_guard lock(mMutex);
    const auto found = mRequests.find(path);
    return found == mRequests.end() ? 0 : found->second;
}
} // namespace test
