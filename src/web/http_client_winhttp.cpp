// WinHTTP behind the web services' HTTP client (Windows). A request runs its
// blocking WinHTTP calls on a worker thread while the calling thread waits on
// a condition variable, waking every pumpIntervalMs to run the pump and to
// report progress, so the progress callback and the pump run on the caller's
// thread as they do elsewhere. HttpAbort and the whole-request time-out close
// the request handle, which ends the worker's pending call.
//
// The session handle (kept in the client between requests, under the
// header's name CurlHandles) holds the cookies. Redirects are followed up to
// maxRedirects, never from https to http. The body is sent in 64 KB pieces
// so that upload progress moves; the reply is read up to maxReplyBytes.
#include <windows.h>
// winhttp.h needs the types of windows.h first.
#include <winhttp.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <random>
#include <thread>

#include "log/tarsa_log.h"
#include "web/http_client.h"

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
    uint64_t sendTotal = 0;
    // Results of the worker.
    DWORD error = 0;
    bool tooLarge = false;
    long status = 0;
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
void RunRequest(Shared& s, HINTERNET connection, const std::string& body,
                const std::wstring& headers, size_t cap) {
    HINTERNET request;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        request = s.request;
    }
    DWORD error = 0;
    const DWORD total = static_cast<DWORD>(body.size());
    if (!request || !WinHttpSendRequest(request, headers.c_str(), static_cast<DWORD>(-1L),
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

int Perform(HttpClient& client, const char* op, const std::string& url, const std::string& body,
            const std::string& contentType, HttpReply& reply) {
    reply = HttpReply{};
    if (!client.curl->session)
        return Fail(reply, kHttpSetupError, "The HTTP library could not be initialised.");
    if (client.busy) return Fail(reply, kHttpTransportError, "Another request is in progress.");
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
    HINTERNET request =
        WinHttpOpenRequest(connection, body.empty() && contentType.empty() ? L"GET" : L"POST",
                           target.path.c_str(), nullptr, WINHTTP_NO_REFERER,
                           WINHTTP_DEFAULT_ACCEPT_TYPES, target.https ? WINHTTP_FLAG_SECURE : 0);
    if (!request) {
        const DWORD error = GetLastError();
        WinHttpCloseHandle(connection);
        return Fail(reply, kHttpTransportError, ErrorText(error));
    }
    // Personal data must not leave an encrypted connection through a redirect.
    DWORD policy = WINHTTP_OPTION_REDIRECT_POLICY_DISALLOW_HTTPS_TO_HTTP;
    WinHttpSetOption(request, WINHTTP_OPTION_REDIRECT_POLICY, &policy, sizeof policy);
    DWORD redirects = static_cast<DWORD>(std::max(0L, client.maxRedirects));
    WinHttpSetOption(request, WINHTTP_OPTION_MAX_HTTP_AUTOMATIC_REDIRECTS, &redirects,
                     sizeof redirects);
    std::wstring headers = L"Accept: " + Wide(kHttpAccept) + L"\r\n";
    if (!contentType.empty()) headers += L"Content-Type: " + Wide(contentType) + L"\r\n";

    Shared s;
    s.request = request;
    s.sendTotal = body.size();
    const auto start = std::chrono::steady_clock::now();
    client.busy = true;
    client.abortRequested = false;
    std::thread worker(RunRequest, std::ref(s), connection, std::cref(body), std::cref(headers),
                       client.maxReplyBytes);
    bool aborted = false;
    bool timedOut = false;
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
            client.progress(HttpDirection::kUpload, s.sendTotal, shownSent);
        }
        if (client.progress && s.received != shownReceived) {
            shownReceived = s.received;
            client.progress(HttpDirection::kDownload, s.expected, shownReceived);
        }
        if (client.pump) client.pump();
        const auto elapsed = std::chrono::steady_clock::now() - start;
        timedOut = elapsed > std::chrono::milliseconds(client.transferTimeoutMs);
        if ((client.abortRequested || timedOut) && !s.cancelled) {
            aborted = client.abortRequested;
            s.cancelled = true;
            s.CloseRequest();  // the worker's pending call returns at once
        }
    }
    worker.join();
    client.busy = false;
    if (client.progress && s.received != shownReceived) {
        client.progress(HttpDirection::kDownload, s.expected, s.received);
    }
    const auto elapsedMs =
        static_cast<unsigned>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                  std::chrono::steady_clock::now() - start)
                                  .count());
    reply.status = s.status;
    reply.body = std::move(s.body);
    int result = kHttpOk;
    if (aborted) {
        result = Fail(reply, kHttpAborted, "The request was cancelled.");
    } else if (s.tooLarge) {
        char text[96];
        std::snprintf(text, sizeof text, "The reply is longer than %zu bytes.",
                      client.maxReplyBytes);
        reply.body.clear();
        result = Fail(reply, kHttpReplyTooLarge, text);
    } else if (timedOut || s.error == ERROR_WINHTTP_TIMEOUT) {
        result = Fail(reply, kHttpTimeout, "The operation timed out.");
    } else if (s.error != 0) {
        result = Fail(reply, kHttpTransportError, ErrorText(s.error));
    } else if (target.https && reply.status >= 300 && reply.status < 400) {
        // WinHTTP hands back a redirect to plain http instead of following it.
        result = Fail(reply, kHttpTransportError,
                      "The server redirected the secure request to an insecure address.");
    }
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
