// Where a redirect leads, and whether the HTTP client may follow it.
#include "web/http_redirect.h"

#include <cctype>

namespace tarsa {
namespace {

bool StartsWithNoCase(const std::string& s, const char* prefix) {
    size_t i = 0;
    for (; prefix[i]; ++i) {
        if (i >= s.size()) return false;
        if (std::tolower(static_cast<unsigned char>(s[i])) != prefix[i]) return false;
    }
    return true;
}

}  // namespace

std::string ResolveRedirect(const std::string& base, const std::string& location) {
    // A scheme: a letter, then letters, digits, "+", "-" or ".", then ":".
    size_t i = 0;
    while (i < location.size() && (std::isalnum(static_cast<unsigned char>(location[i])) ||
                                   location[i] == '+' || location[i] == '-' || location[i] == '.'))
        ++i;
    if (i > 0 && i < location.size() && location[i] == ':' &&
        std::isalpha(static_cast<unsigned char>(location[0])))
        return location;
    const size_t scheme = base.find("://");
    if (scheme == std::string::npos) return location;
    if (location.rfind("//", 0) == 0) return base.substr(0, scheme + 1) + location;
    const size_t pathStart = base.find_first_of("/?#", scheme + 3);
    const std::string origin = base.substr(0, pathStart);
    if (location.rfind('/', 0) == 0) return origin + location;
    std::string path = pathStart == std::string::npos ? "/" : base.substr(pathStart);
    path = path.substr(0, path.find_first_of("?#"));
    if (path.empty()) path = "/";
    if (location.rfind('?', 0) == 0) return origin + path + location;
    return origin + path.substr(0, path.rfind('/') + 1) + location;
}

const char* RedirectRefusal(const std::string& from, const std::string& to, long hops,
                            long maxRedirects) {
    const bool toHttp = StartsWithNoCase(to, "http://");
    if (!toHttp && !StartsWithNoCase(to, "https://"))
        return "The server's redirect could not be followed.";
    if (toHttp && StartsWithNoCase(from, "https://"))
        return "The server redirected the secure request to an insecure address.";
    if (hops >= maxRedirects) return "The server redirected the request too many times.";
    return nullptr;
}

}  // namespace tarsa
