// Service addresses from the build configuration and the environment.
#include "web/web_config.h"

#include <cstdlib>

#ifndef TARSA_VERSION_SERVICE_DEFAULT
#error "TARSA_VERSION_SERVICE_DEFAULT must be defined by the build"
#endif
#ifndef TARSA_FEEDBACK_SERVICE_DEFAULT
#error "TARSA_FEEDBACK_SERVICE_DEFAULT must be defined by the build"
#endif
#ifndef TARSA_MAKER_WEB_HOST
#error "TARSA_MAKER_WEB_HOST must be defined by the build"
#endif
#ifndef TARSA_SUPPORT_EMAIL
#error "TARSA_SUPPORT_EMAIL must be defined by the build"
#endif

namespace tarsa {

const char* DefaultVersionService() {
    return TARSA_VERSION_SERVICE_DEFAULT;
}
const char* DefaultFeedbackService() {
    return TARSA_FEEDBACK_SERVICE_DEFAULT;
}
const char* MakerWebHost() {
    return TARSA_MAKER_WEB_HOST;
}
const char* SupportEmail() {
    return TARSA_SUPPORT_EMAIL;
}

namespace {

bool IsHostChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.';
}

bool IsHexOrColon(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == ':' ||
           c == '.';
}

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

}  // namespace

bool IsServiceAddress(const std::string& base) {
    std::string rest;
    const std::string lower = Lower(base.substr(0, 8));
    if (lower.rfind("https://", 0) == 0)
        rest = base.substr(8);
    else if (lower.rfind("http://", 0) == 0)
        rest = base.substr(7);
    else
        return false;
    if (!rest.empty() && rest.back() == '/') rest.pop_back();
    size_t i = 0;
    if (!rest.empty() && rest[0] == '[') {
        const size_t close = rest.find(']');
        if (close == std::string::npos || close == 1) return false;
        for (size_t k = 1; k < close; ++k)
            if (!IsHexOrColon(rest[k])) return false;
        i = close + 1;
    } else {
        while (i < rest.size() && IsHostChar(rest[i])) ++i;
        if (i == 0) return false;
    }
    if (i == rest.size()) return true;
    if (rest[i] != ':' || i + 1 == rest.size() || rest.size() - i - 1 > 5) return false;
    unsigned long port = 0;
    for (size_t k = i + 1; k < rest.size(); ++k) {
        if (rest[k] < '0' || rest[k] > '9') return false;
        port = port * 10 + static_cast<unsigned long>(rest[k] - '0');
    }
    return port >= 1 && port <= 65535;
}

std::string ServiceAddress(const char* envName, const char* fallback, std::string& error) {
    error.clear();
    const char* env = envName ? std::getenv(envName) : nullptr;
    std::string base = (env && *env) ? env : (fallback ? fallback : "");
    if (!IsServiceAddress(base)) {
        error = "The service address \"" + base + "\"";
        if (env && *env) error += std::string(" in ") + envName;
        error += " is not of the form http(s)://host[:port].";
        return {};
    }
    if (base.back() == '/') base.pop_back();
    return base;
}

}  // namespace tarsa
