// The HTTP client's cases (see http_client_cases.h): headers, redirects
// (relative, see-other, endless) and cookies, multipart bodies as the
// server's parser reads them, capped and endless replies, silent and absent
// servers, the pump and cancelling from it, and addresses that are not http.
#include <gtest/gtest.h>

#include "http_client_cases.h"
#include "web/http_client.h"

namespace tarsa {
namespace {

using httptest::Bases;

TEST(HttpClient, GetSendsFixedHeadersFollowsRedirectsAndKeepsCookies) {
    HttpClient client;
    HttpReply reply;
    const std::string echo = std::string("Accept: ") + kHttpAccept +
                             "\nUser-Agent: " + kHttpUserAgent + "\nCookie: session=abc123\n";
    ASSERT_EQ(HttpGet(client, Bases().server + "/start", reply), kHttpOk) << reply.error;
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body, echo);
    // The jar lives as long as the client.
    ASSERT_EQ(HttpGet(client, Bases().server + "/moved/here", reply), kHttpOk) << reply.error;
    EXPECT_EQ(reply.body, echo);
    HttpClient fresh;
    ASSERT_EQ(HttpGet(fresh, Bases().server + "/moved/here", reply), kHttpOk) << reply.error;
    EXPECT_EQ(reply.body.find("abc123"), std::string::npos) << reply.body;
}

TEST(HttpClient, MultipartPartsArriveInOrderWithFileNamesAndTypes) {
    std::string binary;
    for (int i = 0; i < 200000; ++i) binary += static_cast<char>(i * 7);
    const std::vector<HttpPart> parts = {
        {"Zeta", "last letter first", {}, {}},
        {"Company Name", "two\r\nlines", {}, {}},
        {"Alpha", "", {}, {}},
        {"data.bin", binary, "data.bin", "application/x-test"},
        {"log", "plain file", "tarsa.log", {}},
    };
    std::string expected;
    for (const HttpPart& p : parts) {
        const std::string type = p.fileName.empty()      ? std::string()
                                 : p.contentType.empty() ? "application/octet-stream"
                                                         : p.contentType;
        expected += httptest::PartLine(p.name, p.fileName, type, p.data);
    }
    HttpClient client;
    HttpReply reply;
    ASSERT_EQ(HttpPostMultipart(client, Bases().server + "/up", parts, reply), kHttpOk)
        << reply.error;
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body, expected);
}

TEST(HttpClient, OverlongRepliesAreCutOffAndDownloadsReportProgress) {
    HttpClient client;
    client.maxReplyBytes = 100000;
    HttpReply reply;
    EXPECT_EQ(HttpGet(client, Bases().server + "/big", reply), kHttpReplyTooLarge);
    EXPECT_LE(reply.body.size(), client.maxReplyBytes);
    EXPECT_FALSE(reply.error.empty());
    EXPECT_EQ(HttpGet(client, Bases().server + "/endless", reply), kHttpReplyTooLarge);
    EXPECT_LE(reply.body.size(), client.maxReplyBytes);
    // The bounded GET restores the client's own cap.
    client.maxReplyBytes = 400000;
    EXPECT_EQ(HttpGetBounded(client, Bases().server + "/big", 1000, 20000, reply),
              kHttpReplyTooLarge);
    EXPECT_EQ(client.maxReplyBytes, 400000u);
    uint64_t total = 0, done = 0;
    client.progress = [&](HttpDirection direction, uint64_t t, uint64_t d) {
        if (direction != HttpDirection::kDownload) return;
        EXPECT_GE(d, done) << "progress never goes back";
        total = t;
        done = d;
    };
    ASSERT_EQ(HttpGet(client, Bases().server + "/big", reply), kHttpOk) << reply.error;
    EXPECT_EQ(reply.body.size(), 300000u);
    EXPECT_EQ(total, 300000u) << "the reply's length is known";
    EXPECT_EQ(done, 300000u) << "the last report is the whole reply";
}

TEST(HttpClient, SilentServerTimesOutWhilePumping) {
    HttpClient client;
    client.transferTimeoutMs = 400;
    int pumps = 0;
    client.pump = [&] { ++pumps; };
    HttpReply reply;
    EXPECT_EQ(HttpGet(client, Bases().silent + "/", reply), kHttpTimeout);
    EXPECT_FALSE(reply.error.empty());
    EXPECT_GE(pumps, 3);  // the window was serviced while waiting
}

TEST(HttpClient, PumpCanCancelTheRequest) {
    HttpClient client;
    client.transferTimeoutMs = 20000;
    client.pump = [&] { HttpAbort(client); };
    HttpReply reply;
    EXPECT_EQ(HttpGet(client, Bases().silent + "/", reply), kHttpAborted);
    EXPECT_FALSE(reply.error.empty());
    // The client is usable again afterwards.
    client.pump = nullptr;
    EXPECT_EQ(HttpGet(client, Bases().server + "/fine", reply), kHttpOk) << reply.error;
    EXPECT_EQ(reply.body, "fine");
}

TEST(HttpClient, RefusedConnectionAndBadAddressesFail) {
    HttpClient client;
    HttpReply reply;
    EXPECT_EQ(HttpGet(client, Bases().closed + "/", reply), kHttpTransportError);
    EXPECT_FALSE(reply.error.empty());
    for (const char* url : {"ftp://127.0.0.1/file", "file:///etc/passwd", "fine"}) {
        EXPECT_EQ(HttpGet(client, url, reply), kHttpBadAddress) << url;
        EXPECT_FALSE(reply.error.empty()) << url;
    }
}

TEST(HttpClient, RedirectsAreResolvedTurnPostsIntoGetsAndEnd) {
    HttpClient client;
    client.maxRedirects = 3;
    HttpReply reply;
    ASSERT_EQ(HttpGet(client, Bases().server + "/moved/relative", reply), kHttpOk) << reply.error;
    EXPECT_EQ(reply.body.rfind("Accept: ", 0), 0u) << reply.body;
    ASSERT_EQ(HttpPostMultipart(client, Bases().server + "/posted", {{"a", "b", {}, {}}}, reply),
              kHttpOk)
        << reply.error;
    EXPECT_EQ(reply.body.rfind("Accept: ", 0), 0u) << reply.body;
    EXPECT_EQ(HttpGet(client, Bases().server + "/loop", reply), kHttpTransportError);
    EXPECT_FALSE(reply.error.empty());
}

TEST(HttpClient, RedirectToAnotherProtocolIsRefused) {
    HttpClient client;
    HttpReply reply;
    EXPECT_EQ(HttpGet(client, Bases().server + "/to-file", reply), kHttpTransportError)
        << reply.status << " " << reply.body;
    EXPECT_EQ(reply.body.find("root:"), std::string::npos);
}

}  // namespace
}  // namespace tarsa
