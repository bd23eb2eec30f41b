// WinHTTP behind the web services' HTTP client (Windows). A request runs its
// blocking WinHTTP calls on a worker thread while the calling thread waits on
// a condition variable, waking every pumpIntervalMs to run the pump and to
// report progress, so the progress callback and the pump run on the caller's
// thread as they do elsewhere. HttpAbort and the whole-request time-out close
// the request handle, which ends the worker's pending call; a worker that
// does not end within a second is left to finish on its own and the request
// returns at once.
//
// The session handle (kept in the client between requests, under the
// header's name CurlHandles) holds the cookies. Redirects are followed up to
// maxRedirects, never from https to http nor to another protocol: a redirect
// that is not followed fails the request. The body is sent in 64 KB pieces
// so that upload progress moves; the reply is read up to maxReplyBytes.
#include <windows.h>
// winhttp.h needs the types of windows.h first.
#include <winhttp.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <random>
#include <thread>

#include "log/tarsa_log.h"
#include "web/http_client.h"
#include "web/http_redirect.h"

namespace tarsa {

struct CurlHandles {
    HINTERNET session = nullptr;
    ~CurlHandles() {
        if (session) WinHttpCloseHandle(session);
    }
};

namespace {

constexpr const char* kTag = "frmWeb";
constexpr size_t kSendPiece = 64 * 1024;

int Fail(HttpReply& reply, int code, const std::string& text) {
    reply.error = text;
    return code;
}

std::wstring Wide(const std::string& text) {
    if (text.empty()) return {};
    const int n =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) {
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    }
    return out;
}

std::string Narrow(const std::wstring& text) {
    if (text.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) {
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                            nullptr, nullptr);
    }
    return out;
}

bool StartsWithNoCase(const std::string& s, const char* prefix) {
    size_t i = 0;
    for (; prefix[i]; ++i) {
        if (i >= s.size()) return false;
        char a = s[i];
        if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
        if (a != prefix[i]) return false;
    }
    return true;
}

std::string ErrorText(DWORD error) {
    switch (error) {
        case ERROR_WINHTTP_TIMEOUT:
            return "The operation timed out.";
        case ERROR_WINHTTP_NAME_NOT_RESOLVED:
            return "The server name could not be resolved.";
        case ERROR_WINHTTP_CANNOT_CONNECT:
            return "Could not connect to the server.";
        case ERROR_WINHTTP_CONNECTION_ERROR:
            return "The connection to the server was reset.";
        case ERROR_WINHTTP_REDIRECT_FAILED:
            return "The server's redirect could not be followed.";
        case ERROR_WINHTTP_SECURE_FAILURE:
            return "The server's certificate was not accepted.";
        default:
            break;
    }
    char text[64];
    std::snprintf(text, sizeof text, "WinHTTP error %lu.", error);
    return text;
}

// What the worker and the waiting caller share during one request.
struct Shared {
    std::mutex mutex;
    std::condition_variable changed;
    HINTERNET request = nullptr;  // closed by whoever ends the request first
    bool done = false;
    bool cancelled = false;
    std::atomic<uint64_t> sent{0};
    std::atomic<uint64_t> received{0};
    std::atomic<uint64_t> expected{0};  // reply length when the server gave one
    // The request's inputs, owned here: a worker that outlives a cancelled
    // request (see Perform) uses nothing of its caller's.
    std::string sendBody;
    std::wstring headers;
    size_t cap = 0;
    // Results of the worker.
    DWORD error = 0;
    bool tooLarge = false;
    long status = 0;
    bool redirectLeft = false;  // a redirect's own answer came back, not followed
    std::wstring location;
    std::string body;

    void CloseRequest() {
        std::lock_guard<std::mutex> lock(mutex);
        if (request) WinHttpCloseHandle(request);
        request = nullptr;
    }
};

struct Target {
    bool https = false;
    std::wstring host;
    INTERNET_PORT port = 0;
    std::wstring path;
};

bool CrackUrl(const std::string& url, Target& t) {
    const std::wstring wide = Wide(url);
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(wide.c_str(), static_cast<DWORD>(wide.size()), 0, &parts)) return false;
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS)
        return false;
    t.https = parts.nScheme == INTERNET_SCHEME_HTTPS;
    t.host.assign(parts.lpszHostName, parts.dwHostNameLength);
    t.port = parts.nPort;
    t.path.assign(parts.lpszUrlPath, parts.dwUrlPathLength);
    if (parts.lpszExtraInfo) t.path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (t.path.empty()) t.path = L"/";
    return !t.host.empty();
}

// The worker: the request from connect to the last byte of the reply.
void RunRequest(std::shared_ptr<Shared> shared, HINTERNET connection) {
    Shared& s = *shared;
    const std::string& body = s.sendBody;
    const size_t cap = s.cap;
    HINTERNET request;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        request = s.request;
    }
    DWORD error = 0;
    const DWORD total = static_cast<DWORD>(body.size());
    if (!request || !WinHttpSendRequest(request, s.headers.c_str(), static_cast<DWORD>(-1L),
                                        WINHTTP_NO_REQUEST_DATA, 0, total, 0)) {
        error = GetLastError();
    }
    for (size_t at = 0; error == 0 && at < body.size();) {
        const DWORD piece = static_cast<DWORD>(std::min(kSendPiece, body.size() - at));
        DWORD wrote = 0;
        if (!WinHttpWriteData(request, body.data() + at, piece, &wrote) || wrote == 0) {
            error = GetLastError();
            break;
        }
        at += wrote;
        s.sent = at;
    }
    if (error == 0 && !WinHttpReceiveResponse(request, nullptr)) error = GetLastError();
    if (error == 0) {
        DWORD status = 0;
        DWORD size = sizeof status;
        WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                            WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
        s.status = static_cast<long>(status);
        // Redirects are not followed here (see Perform): their target goes back.
        if (status == 301 || status == 302 || status == 303 || status == 307 || status == 308) {
            wchar_t location[2048];
            DWORD locationSize = sizeof location;
            if (WinHttpQueryHeaders(request, WINHTTP_QUERY_LOCATION, WINHTTP_HEADER_NAME_BY_INDEX,
                                    location, &locationSize, WINHTTP_NO_HEADER_INDEX)) {
                s.redirectLeft = true;
                s.location.assign(location, locationSize / sizeof(wchar_t));
            } else if (GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
                s.redirectLeft = true;  // an overlong address is followed nowhere
            }
        }
        DWORD length = 0;
        size = sizeof length;
        if (WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH | WINHTTP_QUERY_FLAG_NUMBER,
                                WINHTTP_HEADER_NAME_BY_INDEX, &length, &size,
                                WINHTTP_NO_HEADER_INDEX)) {
            s.expected = length;
            if (length > cap) s.tooLarge = true;
        }
    }
    char buffer[16 * 1024];
    while (error == 0 && !s.tooLarge) {
        DWORD got = 0;
        if (!WinHttpReadData(request, buffer, sizeof buffer, &got)) {
            error = GetLastError();
            break;
        }
        if (got == 0) break;
        if (got > cap - s.body.size()) {
            s.tooLarge = true;  // the rest is not read
            break;
        }
        s.body.append(buffer, got);
        s.received = s.body.size();
    }
    s.CloseRequest();
    WinHttpCloseHandle(connection);
    std::lock_guard<std::mutex> lock(s.mutex);
    s.error = error;
    s.done = true;
    s.changed.notify_all();
}

// Where PerformOnce returns a redirect for Perform to follow.
constexpr int kRedirected = 1;

// One request without following redirects: kRedirected with the reply's
// Location in `redirect`, or a result of HttpGet.
int PerformOnce(HttpClient& client, const std::string& url, bool post, const std::string& body,
                const std::string& contentType, std::chrono::steady_clock::time_point start,
                HttpReply& reply, std::string& redirect) {
    reply = HttpReply{};
    Target target;
    if ((!StartsWithNoCase(url, "http://") && !StartsWithNoCase(url, "https://")) ||
        !CrackUrl(url, target)) {
        return Fail(reply, kHttpBadAddress, "\"" + url + "\" is not an http or https address.");
    }
    HINTERNET session = client.curl->session;
    const int connectMs = static_cast<int>(std::max(1L, client.connectTimeoutMs));
    const int stallMs = static_cast<int>(std::max(1L, client.stallTimeoutS) * 1000);
    WinHttpSetTimeouts(session, connectMs, connectMs, stallMs, stallMs);
    HINTERNET connection = WinHttpConnect(session, target.host.c_str(), target.port, 0);
    if (!connection) return Fail(reply, kHttpTransportError, ErrorText(GetLastError()));
    HINTERNET request = WinHttpOpenRequest(
        connection, post ? L"POST" : L"GET", target.path.c_str(), nullptr, WINHTTP_NO_REFERER,
        WINHTTP_DEFAULT_ACCEPT_TYPES, target.https ? WINHTTP_FLAG_SECURE : 0);
    if (!request) {
        const DWORD error = GetLastError();
        WinHttpCloseHandle(connection);
        return Fail(reply, kHttpTransportError, ErrorText(error));
    }
    // Perform follows redirects itself, so that each one is checked first.
    DWORD noRedirects = WINHTTP_DISABLE_REDIRECTS;
    WinHttpSetOption(request, WINHTTP_OPTION_DISABLE_FEATURE, &noRedirects, sizeof noRedirects);
    std::wstring headers = L"Accept: " + Wide(kHttpAccept) + L"\r\n";
    if (!contentType.empty()) headers += L"Content-Type: " + Wide(contentType) + L"\r\n";

    auto shared = std::make_shared<Shared>();
    Shared& s = *shared;
    s.request = request;
    s.sendBody = body;
    s.headers = headers;
    s.cap = client.maxReplyBytes;
    std::thread worker(RunRequest, shared, connection);
    bool aborted = false;
    bool timedOut = false;
    bool finished = false;
    uint64_t shownSent = 0, shownReceived = 0;
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(s.mutex);
            const uint32_t waitMs = client.pump ? client.pumpIntervalMs : 1000;
            s.changed.wait_for(lock, std::chrono::milliseconds(waitMs), [&] { return s.done; });
            if (s.done) break;
        }
        if (client.progress && s.sent != shownSent) {
            shownSent = s.sent;
            client.progress(HttpDirection::kUpload, s.sendBody.size(), shownSent);
        }
        if (client.progress && s.received != shownReceived) {
            shownReceived = s.received;
            client.progress(HttpDirection::kDownload, s.expected, shownReceived);
        }
        if (client.pump) client.pump();
        const auto elapsed = std::chrono::steady_clock::now() - start;
        timedOut = elapsed > std::chrono::milliseconds(client.transferTimeoutMs);
        if (client.abortRequested || timedOut) {
            aborted = client.abortRequested;
            break;
        }
    }
    {
        std::unique_lock<std::mutex> lock(s.mutex);
        finished = s.done;
    }
    if (!finished) {
        // Closing the request handle ends the worker's pending call on
        // Windows; where it does not at once (wine), the worker is left to end
        // on its own, holding the state it shares, and the request returns.
        s.CloseRequest();
        std::unique_lock<std::mutex> lock(s.mutex);
        finished = s.changed.wait_for(lock, std::chrono::seconds(1), [&] { return s.done; });
    }
    // The worker's results are read only once it has ended.
    if (!finished) {
        worker.detach();
    } else {
        worker.join();
        if (client.progress && s.received != shownReceived) {
            client.progress(HttpDirection::kDownload, s.expected, s.received);
        }
        reply.status = s.status;
        reply.body = std::move(s.body);
    }
    int result = kHttpOk;
    if (aborted) {
        result = Fail(reply, kHttpAborted, "The request was cancelled.");
    } else if (timedOut || s.error == ERROR_WINHTTP_TIMEOUT) {
        result = Fail(reply, kHttpTimeout, "The operation timed out.");
    } else if (s.tooLarge) {
        char text[96];
        std::snprintf(text, sizeof text, "The reply is longer than %zu bytes.",
                      client.maxReplyBytes);
        reply.body.clear();
        result = Fail(reply, kHttpReplyTooLarge, text);
    } else if (s.error != 0) {
        result = Fail(reply, kHttpTransportError, ErrorText(s.error));
    } else if (s.redirectLeft) {
        redirect = Narrow(s.location);
        result = kRedirected;
    }
    return result;
}

int Perform(HttpClient& client, const char* op, const std::string& url, const std::string& body,
            const std::string& contentType, HttpReply& reply) {
    reply = HttpReply{};
    if (!client.curl->session)
        return Fail(reply, kHttpSetupError, "The HTTP library could not be initialised.");
    if (client.busy) return Fail(reply, kHttpTransportError, "Another request is in progress.");
    const auto start = std::chrono::steady_clock::now();
    client.busy = true;
    client.abortRequested = false;
    bool post = !contentType.empty();
    std::string current = url;
    int result = kHttpOk;
    for (long hops = 0;; ++hops) {
        std::string location;
        result = PerformOnce(client, current, post, post ? body : std::string(),
                             post ? contentType : std::string(), start, reply, location);
        if (result != kRedirected) break;
        const std::string next = ResolveRedirect(current, location);
        const char* refusal = location.empty()
                                  ? "The server's redirect could not be followed."
                                  : RedirectRefusal(current, next, hops, client.maxRedirects);
        if (refusal) {
            reply.body.clear();
            result = Fail(reply, kHttpTransportError, refusal);
            break;
        }
        // As browsers do: a POST answered by 301, 302 or 303 goes on as a GET.
        if (reply.status == 301 || reply.status == 302 || reply.status == 303) post = false;
        current = next;
    }
    client.busy = false;
    const auto elapsedMs =
        static_cast<unsigned>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                  std::chrono::steady_clock::now() - start)
                                  .count());
    if (client.log) {
        if (result == kHttpOk)
            client.log->Write(kLogDetail, kTag, "%s %s: status %ld, %s bytes (%u ms)", op,
                              url.c_str(), reply.status, std::to_string(reply.body.size()).c_str(),
                              elapsedMs);
        else
            client.log->Write(kLogOutcome, kTag, "%s %s failed: %s (%u ms)", op, url.c_str(),
                              reply.error.c_str(), elapsedMs);
    }
    return result;
}

}  // namespace

HttpClient::HttpClient() : curl(std::make_unique<CurlHandles>()) {
    curl->session = WinHttpOpen(Wide(kHttpUserAgent).c_str(), WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
}

HttpClient::~HttpClient() = default;

int HttpGet(HttpClient& client, const std::string& url, HttpReply& reply) {
    return Perform(client, "HttpGet", url, std::string(), std::string(), reply);
}

int HttpGetBounded(HttpClient& client, const std::string& url, size_t maxReplyBytes,
                   long transferTimeoutMs, HttpReply& reply) {
    const size_t savedCap = client.maxReplyBytes;
    const long savedTimeout = client.transferTimeoutMs;
    client.maxReplyBytes = std::min(savedCap, maxReplyBytes);
    client.transferTimeoutMs = std::min(savedTimeout, transferTimeoutMs);
    const int r = HttpGet(client, url, reply);
    client.maxReplyBytes = savedCap;
    client.transferTimeoutMs = savedTimeout;
    return r;
}

int HttpPostMultipart(HttpClient& client, const std::string& url,
                      const std::vector<HttpPart>& parts, HttpReply& reply) {
    // A boundary that occurs in no part.
    std::random_device seed;
    std::mt19937_64 random(seed());
    std::string boundary;
    for (bool clash = true; clash;) {
        char text[48];
        std::snprintf(text, sizeof text, "------------------------%016llx",
                      static_cast<unsigned long long>(random()));
        boundary = text;
        clash = std::any_of(parts.begin(), parts.end(), [&](const HttpPart& p) {
            return p.data.find(boundary) != std::string::npos;
        });
    }
    auto quoted = [](const std::string& text) {
        std::string out;
        for (char c : text) {
            if (c == '"' || c == '\r' || c == '\n' || c == '\\') out += '\\';
            if (c != '\r' && c != '\n') out += c;
        }
        return out;
    };
    std::string body;
    for (const HttpPart& p : parts) {
        body +=
            "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + quoted(p.name) + "\"";
        if (!p.fileName.empty()) {
            body += "; filename=\"" + quoted(p.fileName) + "\"\r\nContent-Type: " +
                    (p.contentType.empty() ? "application/octet-stream" : p.contentType);
        }
        body += "\r\n\r\n" + p.data + "\r\n";
    }
    body += "--" + boundary + "--\r\n";
    return Perform(client, "HttpPost", url, body, "multipart/form-data; boundary=" + boundary,
                   reply);
}

void HttpAbort(HttpClient& client) {
    if (client.busy) client.abortRequested = true;
}

}  // namespace tarsa
