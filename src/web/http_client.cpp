// libcurl behind the web services' HTTP client. Each request runs on the
// multi interface so that the caller's pump can run between waits: the wait
// itself blocks in curl_multi_poll, never in a loop of its own. The
// certificate authorities that the environment names are read afresh for
// every request and handed to libcurl beside its built-in store.
#include "web/http_client.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <vector>

#include "log/tarsa_log.h"

namespace tarsa {

// The multi handle that runs requests and the share that keeps cookies,
// name lookups and open connections between them. Every request gets a fresh
// easy handle, so no setting of one request leaks into the next.
struct CurlHandles {
    CURLM* multi = nullptr;
    CURLSH* share = nullptr;
    ~CurlHandles() {
        if (multi) curl_multi_cleanup(multi);
        if (share) curl_share_cleanup(share);
    }
};

namespace {

constexpr const char* kTag = "frmWeb";

int Fail(HttpReply& reply, int code, const std::string& text) {
    reply.error = text;
    return code;
}

// A certificate file or folder named in the environment (see the header).
struct NamedTrust {
    const char* variable;
    std::string path;
};

// What one request trusts beyond the system's store: the certificates of the
// named files, read here, and the named folder.
struct TrustStore {
    std::vector<NamedTrust> named;
    std::string pem;
    std::string folder;
};

// A bundle of every public authority is a few hundred kilobytes.
constexpr std::streamoff kMaxCertificateFileBytes = 4 * 1024 * 1024;

std::string Environment(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

// Appends the file to `pem`. Only regular files are opened, so that a named
// pipe cannot block the request.
bool ReadCertificateFile(const std::string& path, std::string& pem) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return false;
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) return false;
    const std::streamoff size = in.tellg();
    if (size < 0 || size > kMaxCertificateFileBytes) return false;
    const size_t at = pem.size();
    pem.resize(at + static_cast<size_t>(size));
    in.seekg(0);
    if (!in.read(pem.data() + at, size)) return false;
    pem += '\n';
    return true;
}

// Reads the variables. Returns kHttpOk, or kHttpTransportError with
// `reply.error` set when a named file or folder cannot be used: the request
// is then not made, rather than made without what the user asked to trust.
int TrustStoreFromEnvironment(TrustStore& t, HttpReply& reply) {
    for (const char* variable : {"CURL_CA_BUNDLE", "SSL_CERT_FILE"}) {
        const std::string path = Environment(variable);
        if (path.empty()) continue;
        const std::string what = "The certificate file \"" + path + "\" named by " + variable;
        const size_t at = t.pem.size();
        if (!ReadCertificateFile(path, t.pem))
            return Fail(reply, kHttpTransportError, what + " cannot be read.");
        if (t.pem.find("-----BEGIN CERTIFICATE-----", at) == std::string::npos)
            return Fail(reply, kHttpTransportError, what + " holds no PEM certificate.");
        t.named.push_back({variable, path});
    }
    t.folder = Environment("SSL_CERT_DIR");
    if (!t.folder.empty()) {
        std::error_code ec;
        if (!std::filesystem::is_directory(t.folder, ec))
            return Fail(reply, kHttpTransportError,
                        "The certificate folder \"" + t.folder +
                            "\" named by SSL_CERT_DIR is not a folder.");
        t.named.push_back({"SSL_CERT_DIR", t.folder});
    }
    return kHttpOk;
}

// Adds the named authorities to the system's store for the request and for an
// https proxy on its way; the system's file and folder stay as libcurl was
// built to find them. The checks themselves are switched on explicitly.
void ApplyTrustStore(CURL* easy, const TrustStore& t) {
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(easy, CURLOPT_PROXY_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_PROXY_SSL_VERIFYHOST, 2L);
    if (!t.pem.empty()) {
        // A certificate blob takes the place of libcurl's own bundle file, so
        // the system's bundle goes into the blob too: the named authorities
        // are added to the system's, never put in its place.
        std::string pem = t.pem;
        char* system = nullptr;
        curl_easy_getinfo(easy, CURLINFO_CAINFO, &system);
        if (system && *system) ReadCertificateFile(system, pem);
        curl_blob blob{const_cast<char*>(pem.data()), pem.size(), CURL_BLOB_COPY};
        curl_easy_setopt(easy, CURLOPT_CAINFO_BLOB, &blob);
        curl_easy_setopt(easy, CURLOPT_PROXY_CAINFO_BLOB, &blob);
    }
    if (!t.folder.empty()) {
        // OpenSSL searches every folder of a colon-separated list.
        char* system = nullptr;
        curl_easy_getinfo(easy, CURLINFO_CAPATH, &system);
        std::string folders = t.folder;
        if (system && *system) folders += std::string(":") + system;
        curl_easy_setopt(easy, CURLOPT_CAPATH, folders.c_str());
        curl_easy_setopt(easy, CURLOPT_PROXY_CAPATH, folders.c_str());
    }
}

// The store in words for the log: paths and the variables that named them.
std::string DescribeTrustStore(CURL* easy, const TrustStore& t) {
    char* file = nullptr;
    char* folder = nullptr;
    curl_easy_getinfo(easy, CURLINFO_CAINFO, &file);
    curl_easy_getinfo(easy, CURLINFO_CAPATH, &folder);
    std::string d = "the system's";
    if (file) d += std::string(" (file \"") + file + "\"";
    if (folder) d += std::string(file ? ", " : " (") + "folder \"" + folder + "\"";
    if (file || folder) d += ")";
    for (const NamedTrust& n : t.named) d += " and \"" + n.path + "\" named by " + n.variable;
    return d;
}

struct Transfer {
    HttpClient* client;
    HttpReply* reply;
    TrustStore trust = {};
    bool https = false;
    bool tooLarge = false;
};

size_t WriteBody(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const size_t n = size * count;
    const size_t room = t->client->maxReplyBytes - t->reply->body.size();
    if (n > room) {
        t->tooLarge = true;
        return 0;  // makes libcurl stop with a write error
    }
    t->reply->body.append(data, n);
    return n;
}

int Progress(void* user, curl_off_t dlTotal, curl_off_t dlNow, curl_off_t ulTotal,
             curl_off_t ulNow) {
    auto* t = static_cast<Transfer*>(user);
    HttpClient& c = *t->client;
    if (c.abortRequested) return 1;
    if (c.progress) {
        if (ulTotal > 0 || ulNow > 0)
            c.progress(HttpDirection::kUpload, static_cast<uint64_t>(ulTotal),
                       static_cast<uint64_t>(ulNow));
        if (dlTotal > 0 || dlNow > 0)
            c.progress(HttpDirection::kDownload, static_cast<uint64_t>(dlTotal),
                       static_cast<uint64_t>(dlNow));
    }
    return c.abortRequested ? 1 : 0;
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

struct EasyDeleter {
    void operator()(CURL* e) const { curl_easy_cleanup(e); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;

struct SlistDeleter {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};
struct MimeDeleter {
    void operator()(curl_mime* m) const { curl_mime_free(m); }
};

// Runs the prepared easy handle to its end, pumping between waits.
int Perform(HttpClient& client, CURL* easy, const char* op, const std::string& url, Transfer& t) {
    HttpReply& reply = *t.reply;
    char errbuf[CURL_ERROR_SIZE] = {0};
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, errbuf);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, WriteBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, Progress);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &t);

    const auto start = std::chrono::steady_clock::now();
    client.busy = true;
    client.abortRequested = false;
    curl_multi_add_handle(client.curl->multi, easy);
    CURLcode code = CURLE_OK;
    bool aborted = false;
    for (;;) {
        int running = 0;
        if (curl_multi_perform(client.curl->multi, &running) != CURLM_OK) {
            code = CURLE_FAILED_INIT;
            break;
        }
        if (running == 0) {
            int left = 0;
            while (CURLMsg* msg = curl_multi_info_read(client.curl->multi, &left))
                if (msg->msg == CURLMSG_DONE) code = msg->data.result;
            break;
        }
        const int waitMs = client.pump ? static_cast<int>(client.pumpIntervalMs) : 1000;
        curl_multi_poll(client.curl->multi, nullptr, 0, waitMs, nullptr);
        if (client.pump) client.pump();
        if (client.abortRequested) {
            aborted = true;
            break;
        }
    }
    curl_multi_remove_handle(client.curl->multi, easy);
    client.busy = false;
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, nullptr);
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &reply.status);
    const auto elapsed =
        static_cast<unsigned>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                  std::chrono::steady_clock::now() - start)
                                  .count());

    int result = kHttpOk;
    if (aborted || code == CURLE_ABORTED_BY_CALLBACK) {
        result = Fail(reply, kHttpAborted, "The request was cancelled.");
    } else if (t.tooLarge || code == CURLE_FILESIZE_EXCEEDED) {
        char text[96];
        std::snprintf(text, sizeof text, "The reply is longer than %zu bytes.",
                      client.maxReplyBytes);
        result = Fail(reply, kHttpReplyTooLarge, text);
    } else if (code == CURLE_OPERATION_TIMEDOUT) {
        result = Fail(reply, kHttpTimeout, errbuf[0] ? errbuf : curl_easy_strerror(code));
    } else if (code != CURLE_OK) {
        result = Fail(reply, kHttpTransportError, errbuf[0] ? errbuf : curl_easy_strerror(code));
    }
    if (client.log) {
        if (result == kHttpOk)
            client.log->Write(kLogDetail, kTag, "%s %s: status %ld, %zu bytes (%u ms)", op,
                              url.c_str(), reply.status, reply.body.size(), elapsed);
        else if (t.https)
            client.log->Write(kLogOutcome, kTag, "%s %s failed: %s (%u ms); trust store: %s", op,
                              url.c_str(), reply.error.c_str(), elapsed,
                              DescribeTrustStore(easy, t.trust).c_str());
        else
            client.log->Write(kLogOutcome, kTag, "%s %s failed: %s (%u ms)", op, url.c_str(),
                              reply.error.c_str(), elapsed);
    }
    return result;
}

// Makes the request's easy handle with what every request shares and notes
// in `t` how it reaches its server. Returns kHttpOk or a failure with
// `reply.error` set.
int Prepare(HttpClient& client, const std::string& url, HttpReply& reply, EasyHandle& handle,
            std::unique_ptr<curl_slist, SlistDeleter>& headers, Transfer& t) {
    reply = HttpReply{};
    if (!client.curl->multi || !client.curl->share)
        return Fail(reply, kHttpSetupError, "The HTTP library could not be initialised.");
    if (client.busy) return Fail(reply, kHttpTransportError, "Another request is in progress.");
    const bool https = StartsWithNoCase(url, "https://");
    if (!https && !StartsWithNoCase(url, "http://"))
        return Fail(reply, kHttpBadAddress, "\"" + url + "\" is not an http or https address.");
    handle.reset(curl_easy_init());
    CURL* easy = handle.get();
    curl_slist* list = curl_slist_append(nullptr, (std::string("Accept: ") + kHttpAccept).c_str());
    if (list) list = curl_slist_append(list, "Expect:");
    headers.reset(list);
    if (!easy || !list) return Fail(reply, kHttpSetupError, "Out of memory.");
    curl_easy_setopt(easy, CURLOPT_SHARE, client.curl->share);
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    // Personal data must not leave an encrypted connection through a redirect.
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, https ? "https" : "http,https");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, client.maxRedirects);
    curl_easy_setopt(easy, CURLOPT_COOKIEFILE, "");
    curl_easy_setopt(easy, CURLOPT_USERAGENT, kHttpUserAgent);
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, list);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, client.connectTimeoutMs);
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, client.transferTimeoutMs);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, client.stallTimeoutS);
    curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE,
                     static_cast<curl_off_t>(client.maxReplyBytes));
    t.https = https;
    if (int r = TrustStoreFromEnvironment(t.trust, reply); r != kHttpOk) {
        if (client.log)
            client.log->Write(kLogOutcome, kTag, "Request to %s not made: %s", url.c_str(),
                              reply.error.c_str());
        return r;
    }
    ApplyTrustStore(easy, t.trust);
    return kHttpOk;
}

}  // namespace

HttpClient::HttpClient() : curl(std::make_unique<CurlHandles>()) {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    curl->multi = curl_multi_init();
    curl->share = curl_share_init();
    if (curl->share) {
        curl_share_setopt(curl->share, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
        curl_share_setopt(curl->share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
        curl_share_setopt(curl->share, CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT);
    }
}

HttpClient::~HttpClient() = default;

int HttpGet(HttpClient& client, const std::string& url, HttpReply& reply) {
    EasyHandle easy;
    std::unique_ptr<curl_slist, SlistDeleter> headers;
    Transfer t{&client, &reply};
    if (int r = Prepare(client, url, reply, easy, headers, t); r != kHttpOk) return r;
    curl_easy_setopt(easy.get(), CURLOPT_HTTPGET, 1L);
    return Perform(client, easy.get(), "HttpGet", url, t);
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
    // Declared before the easy handle so that it is freed after it.
    std::unique_ptr<curl_mime, MimeDeleter> mime;
    EasyHandle easy;
    std::unique_ptr<curl_slist, SlistDeleter> headers;
    Transfer t{&client, &reply};
    if (int r = Prepare(client, url, reply, easy, headers, t); r != kHttpOk) return r;
    mime.reset(curl_mime_init(easy.get()));
    if (!mime) return Fail(reply, kHttpSetupError, "Out of memory.");
    for (const HttpPart& p : parts) {
        curl_mimepart* part = curl_mime_addpart(mime.get());
        if (!part || curl_mime_name(part, p.name.c_str()) != CURLE_OK ||
            curl_mime_data(part, p.data.data(), p.data.size()) != CURLE_OK)
            return Fail(reply, kHttpSetupError, "Out of memory.");
        if (!p.fileName.empty()) {
            curl_mime_filename(part, p.fileName.c_str());
            curl_mime_type(
                part, p.contentType.empty() ? "application/octet-stream" : p.contentType.c_str());
        }
    }
    curl_easy_setopt(easy.get(), CURLOPT_MIMEPOST, mime.get());
    return Perform(client, easy.get(), "HttpPost", url, t);
}

void HttpAbort(HttpClient& client) {
    if (client.busy) client.abortRequested = true;
}

}  // namespace tarsa
