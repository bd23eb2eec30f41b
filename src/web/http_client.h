// The HTTP client of the web services: GET and multipart/form-data POST over
// libcurl, with redirects followed, an in-memory cookie engine, fixed Accept
// and User-Agent headers, time-outs and a cap on the size of every reply.
//
// A request blocks its caller but keeps the user interface alive: while it
// waits it calls the installed pump at least every `pumpIntervalMs`, and it
// reports upload and download progress through the installed callback. Only
// http and https are spoken, and a request that starts on https is never
// redirected to plain http. Replies are outside input: they are read up to
// `maxReplyBytes` and the transfer is abandoned past that.
//
// The client does not interpret replies (status codes of 400 and above are
// reported, nothing more) and does not log request contents, which carry the
// user's personal data; it logs the address, status, byte counts and time.
//
// Certificate authorities for https. Certificate and host-name checks are
// always on; no setting turns them off. The system's store is always trusted,
// and each of these variables, read at every request, ADDS to it:
//   CURL_CA_BUNDLE  a file of PEM certificates
//   SSL_CERT_FILE   a file of PEM certificates
//   SSL_CERT_DIR    one folder of PEM certificates under their hash names
//                   (as `openssl rehash` makes them)
// None overrides another, so a variable that already points at the system's
// bundle (as many machines set) does not hide a company CA named in the
// other. Empty values count as unset. A named file or folder that cannot be
// used fails the request with a message saying so. A failed https request
// logs the stores it used.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tarsa {

class TarsaLog;

// Result codes of HttpGet and HttpPostMultipart.
inline constexpr int kHttpOk = 0;               // a reply arrived (any status)
inline constexpr int kHttpTransportError = -1;  // name lookup, connect, TLS or transfer failed
inline constexpr int kHttpTimeout = -2;         // a connect or transfer time-out expired
inline constexpr int kHttpReplyTooLarge = -3;   // the reply exceeded maxReplyBytes
inline constexpr int kHttpAborted = -4;         // HttpAbort was called during the request
inline constexpr int kHttpBadAddress = -5;      // the URL is not an http or https address
inline constexpr int kHttpSetupError = -6;      // libcurl could not be initialised

// The request headers every request carries.
inline constexpr const char* kHttpAccept = "text/html, */*";
inline constexpr const char* kHttpUserAgent = "Mozilla/3.0 (compatible; Indy Library)";

// One part of a multipart/form-data body: a text field when `fileName` is
// empty, a file part otherwise.
struct HttpPart {
    std::string name;
    std::string data;
    std::string fileName;
    std::string contentType;
};

enum class HttpDirection { kUpload, kDownload };

struct HttpReply {
    long status = 0;    // HTTP status of the final answer; 0 when none arrived
    std::string body;   // at most maxReplyBytes
    std::string error;  // failure text for the user; empty on kHttpOk
};

struct CurlHandles;

struct HttpClient {
    HttpClient();
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    long connectTimeoutMs = 15000;
    long transferTimeoutMs = 600000;  // whole request, upload included
    long stallTimeoutS = 60;          // abort when less than 1 byte/s flows this long
    size_t maxReplyBytes = 1024 * 1024;
    uint32_t pumpIntervalMs = 50;
    long maxRedirects = 10;

    // Called while a request waits; may run window events (which may call
    // HttpAbort). Empty: the request just blocks.
    std::function<void()> pump;
    // Called on progress with the direction, the expected byte count (0 while
    // unknown) and the bytes moved so far.
    std::function<void(HttpDirection, uint64_t total, uint64_t done)> progress;

    TarsaLog* log = nullptr;

    bool abortRequested = false;
    bool busy = false;
    std::unique_ptr<CurlHandles> curl;  // kept between requests: the cookie jar lives here
};

// GETs `url` into `reply`. Results: kHttpOk, or one of the negative codes above
// with `reply.error` set.
int HttpGet(HttpClient& client, const std::string& url, HttpReply& reply);

// HttpGet with a smaller reply cap and whole-request time-out than the
// client's own (which are restored afterwards), for short documents.
int HttpGetBounded(HttpClient& client, const std::string& url, size_t maxReplyBytes,
                   long transferTimeoutMs, HttpReply& reply);

// POSTs `parts` in order as one multipart/form-data body. Results as HttpGet.
int HttpPostMultipart(HttpClient& client, const std::string& url,
                      const std::vector<HttpPart>& parts, HttpReply& reply);

// Asks a running request to stop at its next progress event; it then returns
// kHttpAborted. Does nothing when no request runs.
void HttpAbort(HttpClient& client);

}  // namespace tarsa
