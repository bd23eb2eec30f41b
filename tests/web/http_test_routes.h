// The HTTP client tests' server on 127.0.0.1 (see http_client_cases.h): a
// redirect that sets a cookie, an echo of the request headers, relative,
// see-other and endless redirects, a multipart
// parser that reports every part, an overlong and an endless reply, and a
// redirect to a file address; with a silent listener and a closed port.
#pragma once

#include "http_client_cases.h"
#include "web_test_support.h"

namespace tarsa::httptest {

class HttpTestServers {
  public:
    HttpTestServers() {
        auto& s = srv_.server;
        s.Get("/start", [](const httplib::Request&, httplib::Response& res) {
            res.set_header("Set-Cookie", "session=abc123; Path=/");
            res.set_redirect("/moved/here");
        });
        s.Get("/moved/here", [](const httplib::Request& req, httplib::Response& res) {
            res.set_content("Accept: " + req.get_header_value("Accept") +
                                "\nUser-Agent: " + req.get_header_value("User-Agent") +
                                "\nCookie: " + req.get_header_value("Cookie") + "\n",
                            "text/plain");
        });
        s.Post("/up", [](const httplib::Request&, httplib::Response& res,
                         const httplib::ContentReader& reader) {
            const std::vector<httplib::MultipartFormData> parts = webtest::ReadMultipart(reader);
            std::string report;
            for (const auto& p : parts)
                report += PartLine(p.name, p.filename, p.content_type, p.content);
            res.set_content(report, "text/plain");
        });
        s.Get("/big", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(std::string(300000, 'x'), "text/plain");
        });
        // Never ends on its own: only the client's cap stops it.
        s.Get("/endless", [](const httplib::Request&, httplib::Response& res) {
            res.set_chunked_content_provider("text/plain", [](size_t, httplib::DataSink& sink) {
                static const std::string chunk(8192, 'y');
                return sink.write(chunk.data(), chunk.size());
            });
        });
        s.Get("/fine", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("fine", "text/plain");
        });
        s.Get("/moved/relative",
              [](const httplib::Request&, httplib::Response& res) { res.set_redirect("here"); });
        s.Post("/posted", [](const httplib::Request&, httplib::Response& res) {
            res.set_redirect("/moved/here", 303);
        });
        s.Get("/loop",
              [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/loop"); });
        s.Get("/to-file", [](const httplib::Request&, httplib::Response& res) {
            res.set_redirect("file:///etc/passwd");
        });
        srv_.Start();
        bases_ = {srv_.Base(), silent_.Base(), webtest::ClosedBase()};
    }
    const HttpTestBases& Bases() const { return bases_; }

  private:
    webtest::SilentListener silent_;
    webtest::TestServer srv_;  // last: stopped first
    HttpTestBases bases_;
};

}  // namespace tarsa::httptest
