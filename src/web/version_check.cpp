// The online version check and the reading of the version document.
#include "web/version_check.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>

#include "log/tarsa_log.h"

namespace tarsa {

namespace {

std::string TrimRight(std::string s) {
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.pop_back();
    return s;
}

size_t SkipBlanks(const std::string& s) {
    size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    return i;
}

// A whole decimal integer with optional sign and leading blanks; 0 otherwise.
int64_t IntegerOrZero(const std::string& text) {
    size_t i = SkipBlanks(text);
    if (i < text.size() && text[i] == '+') ++i;
    int32_t value = 0;
    const char* first = text.data() + i;
    const char* last = text.data() + text.size();
    if (first == last) return 0;
    auto [end, ec] = std::from_chars(first, last, value);
    if (ec != std::errc() || end != last) return 0;
    return value;
}

// A whole decimal number (point as separator); false when it is not one.
bool ReadDecimal(const std::string& text, double& value) {
    size_t i = SkipBlanks(text);
    if (i < text.size() && text[i] == '+') ++i;
    const char* first = text.data() + i;
    const char* last = text.data() + text.size();
    if (first == last) return false;
    auto [end, ec] = std::from_chars(first, last, value, std::chars_format::general);
    return ec == std::errc() && end == last;
}

bool HasControlCharacter(const std::string& s) {
    for (char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) return true;
    }
    return false;
}

std::string ConnectErrorText(const std::string& error) {
    std::string text =
        "Error connecting to Corvane's version check service.\n"
        "This feature requires your computer to be connected \n"
        "to the internet.\n"
        "\n\nPlease make a connection to the internet and try again.";
    if (!error.empty()) text += "\n\nError: " + error;
    return text;
}

std::string ParseErrorText(int status) {
    return "Error parsing the version information returned by \n"
           "Corvane's version check service.\n"
           "[error " +
           std::to_string(status) +
           "]"
           "\n\nPlease try again or contact Corvane for help.";
}

}  // namespace

VersionDocument ParseVersionDocument(const std::string& reply) {
    VersionDocument doc;
    const size_t at = reply.find("http");
    if (at == std::string::npos) {
        doc.status = kVersionParseError;
        return doc;
    }
    doc.address = TrimRight(reply.substr(at, kMaxDownloadAddressChars));
    const std::string versionText = TrimRight(reply.substr(0, at == 0 ? 0 : at - 1));
    // The address goes to the web browser: only a web address is opened.
    if (HasControlCharacter(doc.address) ||
        (doc.address.rfind("http://", 0) != 0 && doc.address.rfind("https://", 0) != 0)) {
        doc.status = kVersionParseError;
        return doc;
    }

    const int64_t whole = IntegerOrZero(versionText);
    if (static_cast<uint32_t>(whole) < 10) {
        double number = 0;
        if (!ReadDecimal(versionText, number) || !std::isfinite(number)) {
            doc.status = kVersionParseError;
            return doc;
        }
        if (number < 100) number *= 100;
        number = std::round(number);
        if (number < std::numeric_limits<int>::min() || number > std::numeric_limits<int>::max()) {
            doc.status = kVersionParseError;
            return doc;
        }
        doc.remoteVersion = static_cast<int>(number);
    } else {
        doc.remoteVersion = static_cast<int>(whole);
    }
    doc.directDownload = doc.address.find(".exe") != std::string::npos;
    return doc;
}

std::optional<int> CheckVersion(TfrmWeb& web, int installed, const std::string& path, bool quiet,
                                const std::string& title) {
    if (path.empty() || installed == 0) return std::nullopt;

    int status = 0;
    std::string error;
    VersionDocument doc;
    if (web.versionService.empty()) {
        status = kVersionConnectError;
        error = web.versionServiceError;
    } else {
        const std::string url = web.versionService + (path[0] == '/' ? "" : "/") + path;
        HttpReply reply;
        const int r =
            HttpGetBounded(web.http, url, kMaxVersionReplyBytes, kVersionTimeoutMs, reply);
        if (r == kHttpReplyTooLarge) {
            status = kVersionParseError;
        } else if (r != kHttpOk) {
            status = kVersionConnectError;
            error = reply.error;
        } else if (reply.status >= 400) {
            status = kVersionConnectError;
            error = "The service answered with HTTP status " + std::to_string(reply.status) + ".";
        } else {
            doc = ParseVersionDocument(reply.body);
            status = doc.status;
        }
    }

    if (status != 0) {
        if (web.log)
            web.log->Write(kLogOutcome, "frmWeb", "CheckVersion failed: status %d %s", status,
                           error.c_str());
        if (!quiet)
            web.ui->WebMessage(
                status == kVersionConnectError ? ConnectErrorText(error) : ParseErrorText(status),
                "Version Check Error", false, kWebError);
        return std::nullopt;
    }
    if (web.log)
        web.log->Write(kLogProgress, "frmWeb", "CheckVersion: installed %d, available %d",
                       installed, doc.remoteVersion);

    if (installed < doc.remoteVersion) {
        const std::string text =
            doc.directDownload
                ? "There is newer version of " + title + " available for download." +
                      "\n\nWould you like to download this new version with your web browser now?"
                : "There is information about a newer version of " + title + "\navailable at " +
                      doc.address +
                      "\n\nWould you like to visit this page with your web browser now?";
        if (web.ui->WebMessage(text, "New Version Available", true, kWebInformation) &&
            !web.ui->OpenUrl(doc.address)) {
            web.ui->WebMessage(title + " had trouble launching your web browser.\n" +
                                   "Please try manually going to:\n" + doc.address,
                               "Web Browser Launch Error", false, kWebWarning);
        }
    } else if (installed == doc.remoteVersion) {
        if (!quiet)
            web.ui->WebMessage("You are using the latest version of " + title + ".",
                               "Version Finder", false, kWebInformation);
    } else if (!quiet) {
        web.ui->WebMessage("You are running a newer version of " + title +
                               "\nthan is available from Corvane's web site.",
                           "Version Finder", false, kWebInformation);
    }
    return doc.remoteVersion;
}

}  // namespace tarsa
