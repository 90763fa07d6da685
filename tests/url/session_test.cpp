#include "url/Session.h"

#include "support/HostileServer.h"
#include "support/TestCertificate.h"
#include "url/Error.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <thread>

namespace {

const url::initialiseLibCurl gCurl;

// A plain HTTP (or HTTPS) server on 127.0.0.1 with the few odd answers the session tests need.
class TestServer {
public:
    explicit TestServer(std::unique_ptr<httplib::Server> server = std::make_unique<httplib::Server>())
        : mServer(std::move(server)) {
        mServer->Get(R"(/status/(\d+))", [](const httplib::Request& request, httplib::Response& response) {
            response.status = std::stoi(request.matches[1]);
            response.set_content("body of " + request.matches[1].str(), "text/plain");
        });
        mServer->Get("/headers", [](const httplib::Request&, httplib::Response& response) {
            response.set_header("X-Padded", " \t padded value \t ");
            response.set_header("Spaced ", "kept");
            response.set_content("ok", "text/plain");
        });
        auto echo = [](const httplib::Request& request, httplib::Response& response) {
            std::string text = request.method + "\n" + request.body + "\n";
            for (const auto& [name, value] : request.headers) text += name + ": " + value + "\n";
            response.set_content(text, "text/plain");
        };
        mServer->Get("/echo", echo);
        mServer->Post("/echo", echo);
        mServer->Post("/upload", [](const httplib::Request& request, httplib::Response& response) {
            ASSERT_EQ(request.files.size(), 1u);
            const auto& part = request.files.begin()->second;
            response.set_content(part.name + "|" + part.filename + "|" + part.content_type + "|" + part.content,
                                 "text/plain");
        });
        mServer->Get("/stall", [this](const httplib::Request&, httplib::Response& response) {
            std::unique_lock lock(mMutex);
            ++mStalled;
            mChanged.notify_all();
            mChanged.wait(lock, [this] { return mReleased; });
            response.set_content("late", "text/plain");
        });
        mPort = mServer->bind_to_any_port("127.0.0.1");
        mThread = std::thread([this] { mServer->listen_after_bind(); });
    }
    ~TestServer() {
        release();
        mServer->stop();
        mThread.join();
    }

    std::string url(const std::string& path, const char* scheme = "http") const {
        return std::string(scheme) + "://127.0.0.1:" + std::to_string(mPort) + path;
    }
    bool waitForStall() {
        std::unique_lock lock(mMutex);
        return mChanged.wait_for(lock, std::chrono::seconds(10), [this] { return mStalled > 0; });
    }
    void release() {
        std::lock_guard lock(mMutex);
        mReleased = true;
        mChanged.notify_all();
    }

private:
    std::unique_ptr<httplib::Server> mServer;
    int mPort = 0;
    std::thread mThread;
    std::mutex mMutex;
    std::condition_variable mChanged;
    int mStalled = 0;
    bool mReleased = false;
};

constexpr std::size_t kAnswerBound = 1 << 20;

std::string get(url::Session& session, const std::string& address) {
    std::string body;
    session.setUrl(address);
    session.setWriter(url::StringWriter(&body, kAnswerBound));
    session.perform();
    return body;
}

class SessionTest : public ::testing::Test {
protected:
    TestServer server;
    url::Session session;

    template <class Expected>
    void expectStatusThrows(int status, int expectedCode) {
        SCOPED_TRACE(status);
        session.setUrl(server.url("/status/" + std::to_string(status)));
        try {
            session.perform();
            FAIL() << "no exception";
        } catch (const Expected& e) {
            EXPECT_EQ(e.code, std::error_code(expectedCode, url::httpCategory()));
        }
    }
};

TEST_F(SessionTest, StatusesMapToTheirErrorClasses) {
    expectStatusThrows<url::BadRequestError>(400, 400);
    expectStatusThrows<url::HttpAuthenticationError>(401, 401);
    expectStatusThrows<url::ClientSideError>(402, 402);
    expectStatusThrows<url::ForbiddenError>(403, 403);
    expectStatusThrows<url::NotFoundError>(404, 404);
    expectStatusThrows<url::NotFoundError>(410, 404);
    expectStatusThrows<url::NotAcceptableError>(406, 406);
    expectStatusThrows<url::ClientSideError>(408, 408);
    expectStatusThrows<url::ConflictError>(409, 409);
    expectStatusThrows<url::ClientSideError>(499, 499);
    expectStatusThrows<url::ServerSideError>(500, 500);
    expectStatusThrows<url::ServerSideError>(599, 599);
    for (const int status : {200, 302, 399, 600}) {
        SCOPED_TRACE(status);
        EXPECT_NO_THROW(get(session, server.url("/status/" + std::to_string(status))));
    }
}

TEST_F(SessionTest, AnErrorAnswersBodyReachesTheWriter) {
    std::string body;
    session.setUrl(server.url("/status/404"));
    session.setWriter(url::StringWriter(&body, kAnswerBound));
    EXPECT_THROW(session.perform(), url::NotFoundError);
    EXPECT_EQ(body, "body of 404");
}

TEST_F(SessionTest, ACallbacksExceptionIsRethrownAsItIs) {
    session.setUrl(server.url("/status/200"));
    session.setWriter([](const char*, std::size_t) { throw std::logic_error("disk full"); });
    EXPECT_THROW(
        {
            try {
                session.perform();
            } catch (const std::logic_error& e) {
                EXPECT_STREQ(e.what(), "disk full");
                throw;
            }
        },
        std::logic_error);
    // The kept exception is gone: the next request succeeds.
    EXPECT_EQ(get(session, server.url("/status/200")), "body of 200");
}

TEST_F(SessionTest, ReaderAndProgressExceptionsAreRethrownToo)
{
    class FailingReader : public url::Session::IReader {
    public:
        std::size_t read(char*, std::size_t) override { throw std::length_error("unreadable"); }
    };
    session.addFileToUploadWithMultiPartPost(10, std::make_unique<FailingReader>());
    session.setUrl(server.url("/upload"));
    EXPECT_THROW(session.perform(), std::length_error);

    session.setProgressCallback([](double, double, double, double) { throw std::domain_error("stop"); });
    session.setUrl(server.url("/status/200"));
    EXPECT_THROW(session.perform(), std::domain_error);
    session.setProgressCallback(nullptr);
    EXPECT_EQ(get(session, server.url("/status/200")), "body of 200");
}

TEST(SessionOptions, ARefusedOptionNamesItsNumber)
{
    url::Session session;
    try {
        session.setOption(static_cast<CURLoption>(99999), 0L);
        FAIL() << "an unknown option was taken";
    } catch (const url::Error& e) {
        EXPECT_EQ(e.code, std::error_code(CURLE_UNKNOWN_OPTION, url::curlCategory()));
        EXPECT_EQ(e.message().rfind(L"Cannot set LibCurl option 99999: CURLE_UNKNOWN_OPTION: ", 0), 0u);
    }
}

TEST_F(SessionTest, HeaderValuesAreTrimmedAndNamesKeptAsSent) {
    std::vector<std::pair<std::string, std::string>> headers;
    session.setUrl(server.url("/headers"));
    session.setHeaderCallback([&](qcl::string::basic_span<char> name, qcl::string::basic_span<char> value) {
        headers.emplace_back(name.str(), value.str());
    });
    session.perform();
    EXPECT_NE(std::find(headers.begin(), headers.end(), std::pair<std::string, std::string>("X-Padded", "padded value")),
              headers.end());
    EXPECT_NE(std::find(headers.begin(), headers.end(), std::pair<std::string, std::string>("Spaced ", "kept")),
              headers.end());
}

TEST_F(SessionTest, EveryRequestStartsWithoutThePreviousRequestsState) {
    session.setUrl(server.url("/echo"));
    session.setPostBody("posted");
    session.setOption(CURLOPT_MAX_RECV_SPEED_LARGE, 10L);
    session.addHeader(std::string("X-Once"), std::string("1"));
    std::string first;
    session.setWriter(url::StringWriter(&first, kAnswerBound));
    int headerCalls = 0;
    session.setHeaderCallback([&](auto, auto) { ++headerCalls; });
    session.perform();
    EXPECT_EQ(first.rfind("POST\nposted\n", 0), 0u);
    EXPECT_NE(first.find("X-Once: 1"), std::string::npos);

    const int callsAfterFirst = headerCalls;
    const std::string second = get(session, server.url("/echo"));
    EXPECT_EQ(second.rfind("GET\n\n", 0), 0u);
    EXPECT_EQ(second.find("X-Once"), std::string::npos);
    EXPECT_EQ(headerCalls, callsAfterFirst);  // the header callback went with the first request
}

TEST_F(SessionTest, MustCloseSocketRefusesNewLinksUntilCleared) {
    session.setMustCloseSocket(true);
    session.setUrl(server.url("/status/200"));
    EXPECT_THROW(session.perform(), url::NetworkError);
    session.setMustCloseSocket(false);
    EXPECT_EQ(get(session, server.url("/status/200")), "body of 200");
}

TEST_F(SessionTest, MustCloseSocketAbortsAStalledTransferFromAnotherThread) {
    EXPECT_EQ(get(session, server.url("/status/200")), "body of 200");  // a kept-alive link is aborted too
    auto transfer = std::async(std::launch::async, [&] { get(session, server.url("/stall")); });
    ASSERT_TRUE(server.waitForStall());
    session.setMustCloseSocket(true);
    EXPECT_THROW(transfer.get(), url::NetworkError);
    server.release();
    session.setMustCloseSocket(false);
    EXPECT_EQ(get(session, server.url("/status/200")), "body of 200");
}

// A listener whose accept queue is full: a new connection to it stays in the connecting state.
class SwampedListener {
public:
    SwampedListener() {
        mListener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(mListener, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(mListener, 0);
        socklen_t length = sizeof address;
        ::getsockname(mListener, reinterpret_cast<sockaddr*>(&address), &length);
        mPort = ntohs(address.sin_port);
        for (int& filler : mFillers) {
            filler = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            ::connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof address);
        }
    }
    ~SwampedListener() {
        for (const int filler : mFillers) ::close(filler);
        ::close(mListener);
    }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(mPort) + "/"; }

private:
    int mListener;
    int mFillers[4];
    int mPort;
};

int noteSocketReady(void* ready, curl_socket_t, curlsocktype) {
    static_cast<std::atomic<bool>*>(ready)->store(true);
    return CURL_SOCKOPT_OK;
}

TEST(SessionAbort, ATransferStillConnectingIsAbortedToo) {
    const SwampedListener listener;
    url::Session session;
    std::atomic<bool> socketReady{false};
    std::promise<void> connecting;
    bool announced = false;
    session.setOption(CURLOPT_SOCKOPTFUNCTION, reinterpret_cast<void*>(&noteSocketReady));
    session.setOption(CURLOPT_SOCKOPTDATA, static_cast<void*>(&socketReady));
    // Progress is reported while the connection is pending, so after connect() was issued.
    session.setProgressCallback([&](double, double, double, double) {
        if (socketReady && !announced) {
            announced = true;
            connecting.set_value();
        }
    });
    session.setUrl(listener.url());
    auto transfer = std::async(std::launch::async, [&] { session.perform(); });
    ASSERT_EQ(connecting.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
    session.setMustCloseSocket(true);
    EXPECT_THROW(transfer.get(), url::NetworkError);  // at once, not after the connect time-out
}

class CountingReader : public url::Session::IReader {
public:
    explicit CountingReader(std::string data) : mData(std::move(data)) {}
    std::size_t read(char* buffer, std::size_t size) override {
        const std::size_t n = mData.copy(buffer, size, mOffset);
        mOffset += n;
        return n;
    }

private:
    std::string mData;
    std::size_t mOffset = 0;
};

TEST_F(SessionTest, MultipartUploadSendsOnePartNamedFile) {
    session.addFileToUploadWithMultiPartPost(5, std::make_unique<CountingReader>("hello"));
    session.setUrl(server.url("/upload"));
    std::string answer;
    session.setWriter(url::StringWriter(&answer, kAnswerBound));
    session.perform();
    EXPECT_EQ(answer, "file|*|application/octet-stream|hello");
}

TEST(SessionLimits, UploadsOfTwoGibibytesAreRefusedBeforeAnythingIsSet) {
    url::Session session;
    EXPECT_THROW(session.addFileToUploadWithMultiPartPost(2147483648ull, std::make_unique<CountingReader>("")),
                 url::FileTooBig);
    EXPECT_NO_THROW(session.addFileToUploadWithMultiPartPost(2147483647ull, std::make_unique<CountingReader>("")));
}

TEST(SessionLimits, OnlyHttpAndHttpsAreSpoken) {
    url::Session session;
    session.setUrl("file:///etc/hostname");
    try {
        session.perform();
        FAIL() << "file URL was read";
    } catch (const url::Error& e) {
        EXPECT_EQ(e.code, std::error_code(CURLE_UNSUPPORTED_PROTOCOL, url::curlCategory()));
    }
}

TEST(SessionTls, CertificateCheckingRefusesASelfSignedServerAndCanBeTurnedOff) {
    const fake::TestCertificate certificate;
    TestServer server(std::make_unique<httplib::SSLServer>(certificate.certificateFile().c_str(),
                                                           certificate.privateKeyFile().c_str()));
    url::Session session;
    session.setUrl(server.url("/status/200", "https"));
    try {
        session.perform();
        FAIL() << "an untrusted certificate was accepted";
    } catch (const url::NetworkError&) {
        FAIL() << "an untrusted certificate must not look like a network failure";
    } catch (const url::Error& e) {
        EXPECT_EQ(e.code, std::error_code(CURLE_PEER_FAILED_VERIFICATION, url::curlCategory()));
    }
    session.setOption(CURLOPT_SSL_VERIFYPEER, 0L);
    EXPECT_EQ(get(session, server.url("/status/200", "https")), "body of 200");
}

// The string writer takes no more than its bound; the session's pace and redirect rules are pinned by the
// upgrade tests, against the same hostile server.
TEST(SessionBounds, AnAnswerLongerThanItsBoundFailsAsANetworkError) {
    test::HostileServer server;
    const std::string body(100000, 'x');
    server.answer("/announced", test::HostileAnswer::bytes(body));
    server.answer("/unannounced", test::HostileAnswer::bytes(body, test::HostileAnswer::Length::None));
    url::Session session;
    for (const char* path : {"/announced", "/unannounced"}) {
        SCOPED_TRACE(path);
        std::string answer;
        session.setUrl(server.url(path));
        session.setWriter(url::StringWriter(&answer, body.size()));
        session.perform();
        EXPECT_EQ(answer, body);

        answer.clear();
        session.setUrl(server.url(path));
        session.setWriter(url::StringWriter(&answer, body.size() - 1));
        try {
            session.perform();
            ADD_FAILURE() << "an answer beyond its bound was taken";
        } catch (const url::NetworkError& e) {
            EXPECT_EQ(e.code, std::error_code(CURLE_FILESIZE_EXCEEDED, url::curlCategory()));
        }
        EXPECT_LT(answer.size(), body.size());
    }
}

}  // namespace
