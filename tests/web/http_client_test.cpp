// Tests of the HTTP client against a real server on 127.0.0.1: headers,
// redirects and cookies, multipart bodies as the server's own parser reads
// them, capped and endless replies, silent and absent servers, the pump and
// cancelling from it.
#include "web/http_client.h"

#include <gtest/gtest.h>

#include <mutex>

#include "web_test_support.h"

namespace tarsa {
namespace {

using webtest::ClosedBase;
using webtest::SilentListener;
using webtest::TestServer;

TEST(HttpClient, GetSendsFixedHeadersFollowsRedirectsAndKeepsCookies) {
    TestServer srv;
    std::mutex m;
    std::string accept, agent, cookie;
    srv.server.Get("/start", [](const httplib::Request&, httplib::Response& res) {
        res.set_header("Set-Cookie", "session=abc123; Path=/");
        res.set_redirect("/moved/here");
    });
    srv.server.Get("/moved/here", [&](const httplib::Request& req, httplib::Response& res) {
        std::lock_guard<std::mutex> lock(m);
        accept = req.get_header_value("Accept");
        agent = req.get_header_value("User-Agent");
        cookie = req.get_header_value("Cookie");
        res.set_content("arrived", "text/plain");
    });
    srv.Start();

    HttpClient client;
    HttpReply reply;
    ASSERT_EQ(HttpGet(client, srv.Base() + "/start", reply), kHttpOk) << reply.error;
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body, "arrived");
    std::unique_lock<std::mutex> lock(m);
    EXPECT_EQ(accept, "text/html, */*");
    EXPECT_EQ(agent, "Mozilla/3.0 (compatible; Indy Library)");
    EXPECT_EQ(cookie, "session=abc123");
    cookie.clear();
    lock.unlock();
    // The jar lives as long as the client.
    ASSERT_EQ(HttpGet(client, srv.Base() + "/moved/here", reply), kHttpOk);
    lock.lock();
    EXPECT_EQ(cookie, "session=abc123");
}

TEST(HttpClient, MultipartPartsArriveInOrderWithFileNamesAndTypes) {
    TestServer srv;
    std::mutex m;
    std::vector<httplib::MultipartFormData> got;
    srv.server.Post("/up", [&](const httplib::Request&, httplib::Response& res,
                               const httplib::ContentReader& reader) {
        std::vector<httplib::MultipartFormData> parts;
        reader(
            [&](const httplib::MultipartFormData& f) {
                parts.push_back(f);
                return true;
            },
            [&](const char* data, size_t n) {
                parts.back().content.append(data, n);
                return true;
            });
        std::lock_guard<std::mutex> lock(m);
        got = parts;
        res.set_content("ok", "text/plain");
    });
    srv.Start();

    std::string binary;
    for (int i = 0; i < 4096; ++i) binary += static_cast<char>(i * 7);
    const std::vector<HttpPart> parts = {
        {"Zeta", "last letter first", {}, {}},
        {"Company Name", "two\r\nlines", {}, {}},
        {"Alpha", "", {}, {}},
        {"data.bin", binary, "data.bin", "application/x-test"},
    };
    HttpClient client;
    HttpReply reply;
    ASSERT_EQ(HttpPostMultipart(client, srv.Base() + "/up", parts, reply), kHttpOk) << reply.error;
    EXPECT_EQ(reply.body, "ok");
    std::lock_guard<std::mutex> lock(m);
    ASSERT_EQ(got.size(), parts.size());
    for (size_t i = 0; i < parts.size(); ++i) {
        EXPECT_EQ(got[i].name, parts[i].name);
        EXPECT_EQ(got[i].content, parts[i].data) << parts[i].name;
        EXPECT_EQ(got[i].filename, parts[i].fileName);
    }
    EXPECT_EQ(got[3].content_type, "application/x-test");
}

TEST(HttpClient, OverlongRepliesAreCutOffNotCollected) {
    TestServer srv;
    srv.server.Get("/big", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(std::string(300000, 'x'), "text/plain");
    });
    // Never ends on its own: only the client's cap stops it.
    srv.server.Get("/endless", [](const httplib::Request&, httplib::Response& res) {
        res.set_chunked_content_provider("text/plain", [](size_t, httplib::DataSink& sink) {
            static const std::string chunk(8192, 'y');
            return sink.write(chunk.data(), chunk.size());
        });
    });
    srv.Start();

    HttpClient client;
    client.maxReplyBytes = 100000;
    HttpReply reply;
    EXPECT_EQ(HttpGet(client, srv.Base() + "/big", reply), kHttpReplyTooLarge);
    EXPECT_LE(reply.body.size(), client.maxReplyBytes);
    EXPECT_FALSE(reply.error.empty());
    EXPECT_EQ(HttpGet(client, srv.Base() + "/endless", reply), kHttpReplyTooLarge);
    EXPECT_LE(reply.body.size(), client.maxReplyBytes);
}

TEST(HttpClient, SilentServerTimesOutWhilePumping) {
    SilentListener silent;
    HttpClient client;
    client.transferTimeoutMs = 400;
    int pumps = 0;
    client.pump = [&] { ++pumps; };
    HttpReply reply;
    EXPECT_EQ(HttpGet(client, silent.Base() + "/", reply), kHttpTimeout);
    EXPECT_FALSE(reply.error.empty());
    EXPECT_GE(pumps, 3);  // the window was serviced while waiting
}

TEST(HttpClient, PumpCanCancelTheRequest) {
    // The server outlives the client, so that no kept-alive connection is
    // still open when it stops.
    TestServer srv;
    srv.server.Get("/", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("fine", "text/plain");
    });
    srv.Start();
    SilentListener silent;
    HttpClient client;
    client.transferTimeoutMs = 20000;
    client.pump = [&] { HttpAbort(client); };
    HttpReply reply;
    EXPECT_EQ(HttpGet(client, silent.Base() + "/", reply), kHttpAborted);
    // The client is usable again afterwards.
    client.pump = nullptr;
    EXPECT_EQ(HttpGet(client, srv.Base() + "/", reply), kHttpOk);
    EXPECT_EQ(reply.body, "fine");
}

TEST(HttpClient, RefusedConnectionAndBadAddressesFail) {
    HttpClient client;
    HttpReply reply;
    EXPECT_EQ(HttpGet(client, ClosedBase() + "/", reply), kHttpTransportError);
    EXPECT_FALSE(reply.error.empty());
    EXPECT_EQ(HttpGet(client, "ftp://127.0.0.1/file", reply), kHttpBadAddress);
    EXPECT_EQ(HttpGet(client, "file:///etc/passwd", reply), kHttpBadAddress);
}

TEST(HttpClient, RedirectToAnotherProtocolIsRefused) {
    TestServer srv;
    srv.server.Get("/", [](const httplib::Request&, httplib::Response& res) {
        res.set_redirect("file:///etc/passwd");
    });
    srv.Start();
    HttpClient client;
    HttpReply reply;
    EXPECT_EQ(HttpGet(client, srv.Base() + "/", reply), kHttpTransportError);
    EXPECT_EQ(reply.body.find("root:"), std::string::npos);
}

}  // namespace
}  // namespace tarsa
