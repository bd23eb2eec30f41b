// Tests of the HTTP client over real TLS on 127.0.0.1: which certificate
// authorities are trusted under CURL_CA_BUNDLE, SSL_CERT_FILE and
// SSL_CERT_DIR, refused host names and expired certificates, a redirect
// from https to plain http, and the feedback form posting over TLS.
//
// The certificates are made once per run by the openssl command in a
// temporary folder: a test CA, an unrelated CA, and three server
// certificates signed by the test CA (for 127.0.0.1, for another host name,
// and one that has expired), each served by its own TLS server.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "log/tarsa_log.h"
#include "web/feedback_form.h"
#include "web/http_client.h"
#include "web/web_config.h"
#include "web_test_support.h"

namespace tarsa {
namespace {

using webtest::FakeWindow;
using webtest::MemoryStore;
using webtest::ReadWhole;
using webtest::TempDir;
using webtest::TestServer;

class TlsServer {
  public:
    TlsServer(const std::string& cert, const std::string& key) : server(cert.c_str(), key.c_str()) {
        if (server.is_valid()) port_ = server.bind_to_any_port("127.0.0.1");
    }
    ~TlsServer() {
        server.stop();
        if (thread_.joinable()) thread_.join();
    }
    bool Start() {
        if (port_ <= 0) return false;
        thread_ = std::thread([this] { server.listen_after_bind(); });
        while (!server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return true;
    }
    std::string Base() const { return "https://127.0.0.1:" + std::to_string(port_); }

    httplib::SSLServer server;

  private:
    int port_ = 0;
    std::thread thread_;
};

// Extensions of the certificates, independent of the system's openssl.cnf.
constexpr const char* kOpensslConfig = R"([req]
distinguished_name = dn
[dn]
[ca]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[loopback]
basicConstraints = CA:FALSE
keyUsage = digitalSignature
extendedKeyUsage = serverAuth
subjectAltName = IP:127.0.0.1, DNS:localhost
[otherhost]
basicConstraints = CA:FALSE
keyUsage = digitalSignature
extendedKeyUsage = serverAuth
subjectAltName = DNS:other.example
)";

// What every test of the suite shares: the certificates and the servers.
struct Pki {
    TempDir dir;
    std::string error;  // why the set-up failed; empty when it worked
    std::unique_ptr<TlsServer> good, otherHost, expired;
    TestServer plain;
    std::atomic<int> plainHits{0};
    std::mutex m;
    std::vector<httplib::MultipartFormData> posted;

    std::string Path(const std::string& name) const { return dir.Path(name); }

    bool Run(const std::string& command) {
        const std::string full = "cd '" + dir.Root() + "' && " + command + " >>openssl.out 2>&1";
        if (std::system(full.c_str()) == 0) return true;
        error = "`" + command + "` failed:\n" + ReadWhole(Path("openssl.out"));
        return false;
    }

    bool MakeCertificates() {
        if (std::system("openssl version >/dev/null 2>&1") != 0) {
            error =
                "The openssl command is needed to make the test certificates: install the "
                "Debian package openssl (`make deps` does).";
            return false;
        }
        dir.Write("openssl.cnf", kOpensslConfig);
        const std::string key = " -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes";
        const std::string sign =
            "openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -extfile openssl.cnf";
        return Run("openssl req -config openssl.cnf -x509 -extensions ca" + key +
                   " -keyout ca.key -out ca.pem -days 2 -subj /CN=Tarsa-Test-CA") &&
               Run("openssl req -config openssl.cnf -x509 -extensions ca" + key +
                   " -keyout unrelated.key -out unrelated.pem -days 2 -subj /CN=Unrelated-CA") &&
               Run("openssl req -config openssl.cnf -new" + key +
                   " -keyout server.key -out server.csr -subj /CN=Tarsa-Test-Server") &&
               Run(sign + " -extensions loopback -set_serial 1 -days 2 -out good.pem") &&
               Run(sign + " -extensions otherhost -set_serial 2 -days 2 -out otherhost.pem") &&
               // Valid from now until a day ago: expired.
               Run(sign + " -extensions loopback -set_serial 3 -days -1 -out expired.pem") &&
               Run("mkdir cadir && cp ca.pem cadir/ && openssl rehash cadir");
    }

    void AddRoutes(httplib::Server& s) {
        s.Get("/", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("hello over tls", "text/plain");
        });
        s.Get("/to-tls",
              [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/"); });
        const auto toPlain = [this](const httplib::Request&, httplib::Response& res) {
            res.set_redirect(plain.Base() + "/landed");
        };
        s.Get("/to-plain", toPlain);
        s.Post("/to-plain", toPlain);
        s.Post(kFeedbackPath, [this](const httplib::Request&, httplib::Response& res,
                                     const httplib::ContentReader& reader) {
            const std::vector<httplib::MultipartFormData> parts = webtest::ReadMultipart(reader);
            std::lock_guard<std::mutex> lock(m);
            posted = parts;
            res.set_content("<p>Script Completed</p>", "text/html");
        });
    }

    std::unique_ptr<TlsServer> Serve(const std::string& cert) {
        auto s = std::make_unique<TlsServer>(Path(cert), Path("server.key"));
        AddRoutes(s->server);
        if (!s->Start()) error = "The TLS server could not use " + cert + ".";
        return s;
    }

    Pki() {
        if (!MakeCertificates()) return;
        plain.server.Get("/landed", [this](const httplib::Request&, httplib::Response& res) {
            ++plainHits;
            res.set_content("plain", "text/plain");
        });
        plain.server.Post("/landed", [this](const httplib::Request&, httplib::Response& res) {
            ++plainHits;
            res.set_content("plain", "text/plain");
        });
        plain.Start();
        good = Serve("good.pem");
        otherHost = Serve("otherhost.pem");
        expired = Serve("expired.pem");
    }
};

constexpr const char* kTrustVariables[] = {"CURL_CA_BUNDLE", "SSL_CERT_FILE", "SSL_CERT_DIR"};

class Https : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        // A proxy of the machine must not stand between the client and loopback.
        setenv("no_proxy", "127.0.0.1,localhost", 1);
        setenv("NO_PROXY", "127.0.0.1,localhost", 1);
        pki = new Pki;
    }
    static void TearDownTestSuite() {
        delete pki;
        pki = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(pki->error.empty()) << pki->error;
        ClearTrust();
    }
    void TearDown() override { ClearTrust(); }
    static void ClearTrust() {
        for (const char* v : kTrustVariables) unsetenv(v);
    }
    // Sets the three variables; a null value leaves one unset.
    static void SetTrust(const char* bundle, const char* file, const char* folder) {
        ClearTrust();
        const char* values[] = {bundle, file, folder};
        for (int i = 0; i < 3; ++i)
            if (values[i]) setenv(kTrustVariables[i], values[i], 1);
    }

    static Pki* pki;
};
Pki* Https::pki = nullptr;

TEST_F(Https, TestCaIsTrustedOnlyWhenNamedAndChecksStayOn) {
    const std::string ca = pki->Path("ca.pem");
    const std::string unrelated = pki->Path("unrelated.pem");
    const std::string folder = pki->Path("cadir");
    const std::string missing = pki->Path("no-such-bundle.pem");
    const std::string key = pki->Path("server.key");
    const std::string noIssuer = "unable to get local issuer certificate";
    const std::string system = "trust store: the system's";
    struct Case {
        const char *bundle, *file, *folder;
        TlsServer* server;
        std::string error;  // empty: the request succeeds
        std::string logged;
    };
    const Case cases[] = {
        {nullptr, nullptr, nullptr, pki->good.get(), noIssuer, system},
        {ca.c_str(), nullptr, nullptr, pki->good.get(), "", ""},
        {nullptr, ca.c_str(), nullptr, pki->good.get(), "", ""},
        {nullptr, nullptr, folder.c_str(), pki->good.get(), "", ""},
        {"", ca.c_str(), "", pki->good.get(), "", ""},  // empty values count as unset
        {nullptr, unrelated.c_str(), nullptr, pki->good.get(), noIssuer,
         " and \"" + unrelated + "\" named by SSL_CERT_FILE"},
        // No variable hides what another names.
        {unrelated.c_str(), ca.c_str(), nullptr, pki->good.get(), "", ""},
        {ca.c_str(), unrelated.c_str(), nullptr, pki->good.get(), "", ""},
        {nullptr, unrelated.c_str(), folder.c_str(), pki->good.get(), "", ""},
        {nullptr, missing.c_str(), nullptr, pki->good.get(),
         "The certificate file \"" + missing + "\" named by SSL_CERT_FILE cannot be read.",
         "not made"},
        {key.c_str(), nullptr, nullptr, pki->good.get(),
         "The certificate file \"" + key + "\" named by CURL_CA_BUNDLE holds no PEM certificate.",
         "not made"},
        {nullptr, nullptr, ca.c_str(), pki->good.get(),
         "The certificate folder \"" + ca + "\" named by SSL_CERT_DIR is not a folder.",
         "not made"},
        {nullptr, ca.c_str(), nullptr, pki->otherHost.get(), "subject name matches",
         " and \"" + ca + "\" named by SSL_CERT_FILE"},
        {nullptr, nullptr, folder.c_str(), pki->expired.get(), "certificate has expired",
         " and \"" + folder + "\" named by SSL_CERT_DIR"},
    };
    int row = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE("row " + std::to_string(row));
        const std::string logPath = pki->Path("trust" + std::to_string(row++) + ".log");
        TarsaLog log(logPath.c_str(), kLogDetail, true);
        SetTrust(c.bundle, c.file, c.folder);
        HttpClient client;
        client.log = &log;
        HttpReply reply;
        const int r = HttpGet(client, c.server->Base() + "/", reply);
        if (c.error.empty()) {
            EXPECT_EQ(r, kHttpOk) << reply.error;
            EXPECT_EQ(reply.body, "hello over tls");
            continue;
        }
        EXPECT_EQ(r, kHttpTransportError);
        EXPECT_EQ(reply.body, "");
        EXPECT_NE(reply.error.find(c.error), std::string::npos) << reply.error;
        const std::string logged = ReadWhole(logPath);
        EXPECT_NE(logged.find(c.logged), std::string::npos) << logged;
        EXPECT_NE(logged.find(c.error), std::string::npos) << logged;
    }
}

TEST_F(Https, RedirectFromHttpsToPlainHttpIsRefused) {
    SetTrust(nullptr, pki->Path("ca.pem").c_str(), nullptr);
    HttpClient client;
    HttpReply reply;
    ASSERT_EQ(HttpGet(client, pki->good->Base() + "/to-tls", reply), kHttpOk) << reply.error;
    EXPECT_EQ(reply.body, "hello over tls");

    EXPECT_EQ(HttpGet(client, pki->good->Base() + "/to-plain", reply), kHttpTransportError);
    EXPECT_EQ(HttpPostMultipart(client, pki->good->Base() + "/to-plain",
                                {{"Name", "Ann Example", {}, {}}}, reply),
              kHttpTransportError);
    EXPECT_EQ(pki->plainHits.load(), 0);
}

TEST_F(Https, FeedbackFormPostsFieldsAndAttachmentsOverTls) {
    TempDir dir;
    FakeWindow ui;
    MemoryStore store;
    TfrmWeb web{ui, store, nullptr};
    web.feedbackService = pki->good->Base();
    web.mimeTable = dir.Write("mime.types", "text/plain txt\n");
    WEB_FORM_INFO_TYPE info;
    info.programTitle = "Talox Firmware Updater";
    info.programVersion = "Talox 2.29";
    info.defaultEmailTo = "support@maker.example";
    info.attachment1 = dir.Write("updater.errors.txt", "log line\r\n");
    SetFormInfo(web, info);

    // Without the CA the service cannot be reached, and the user is told why.
    ASSERT_FALSE(ShowFeedback(web));
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].caption, "Internet Access Error");
    EXPECT_NE(ui.messages[0].text.find("unable to get local issuer certificate"), std::string::npos)
        << ui.messages[0].text;
    ui.messages.clear();

    SetTrust(nullptr, pki->Path("ca.pem").c_str(), nullptr);
    ASSERT_TRUE(ShowFeedback(web));
    web.edName = "Ann Example";
    web.edEmail = "ann@example.com";
    web.reDescription = "Sent over TLS.";
    std::string binary;  // larger than one TLS record, every byte value
    for (int i = 0; i < 100000; ++i) binary += static_cast<char>(i * 131);
    ASSERT_TRUE(SetSendFile(web, dir.Write("capture.bin", binary)));
    ASSERT_EQ(btnSendClick(web), kFeedbackSent);

    std::lock_guard<std::mutex> lock(pki->m);
    const auto& parts = pki->posted;
    ASSERT_EQ(parts.size(), 15u);
    EXPECT_EQ(parts[0].name, "EmailTo");
    EXPECT_EQ(parts[0].content, "support@maker.example");
    EXPECT_EQ(parts[2].content, "Ann Example");
    EXPECT_EQ(parts[4].content, "ann@example.com");
    EXPECT_EQ(parts[12].content, "Sent over TLS.");
    EXPECT_EQ(parts[13].filename, "updater.errors.txt");
    EXPECT_EQ(parts[13].content, "log line\r\n");
    EXPECT_EQ(parts[14].filename, "capture.bin");
    EXPECT_EQ(parts[14].content, binary);
}

}  // namespace
}  // namespace tarsa
