// The online version check: asks the version service for the document of the
// target's firmware, reads the version and the download address from it,
// compares the version with the one this program installs, and offers to
// open the address in the web browser.
//
// The version document is outside input: it is read up to 64 KB, and an
// address that does not start with "http://" or "https://" or holds control
// characters, or a version that is not a finite number in range, counts as
// unreadable. Nothing is stored between checks.
#pragma once

#include <optional>
#include <string>

#include "web/feedback_form.h"

namespace tarsa {

// Statuses of a failed check.
inline constexpr int kVersionConnectError = -1001;  // the request failed
inline constexpr int kVersionParseError = -1002;    // the reply could not be read

inline constexpr size_t kMaxVersionReplyBytes = 64 * 1024;
inline constexpr size_t kMaxDownloadAddressChars = 999;
inline constexpr long kVersionTimeoutMs = 30000;  // the whole request

struct VersionDocument {
    int status = 0;  // 0, or kVersionParseError
    int remoteVersion = 0;
    std::string address;
    bool directDownload = false;  // the address names an .exe
};

// Reads a version document: the address from the first "http" to the end,
// the version text before the character that precedes it, read as an integer,
// or, when that is below 10, as a decimal number scaled by 100 when below 100.
VersionDocument ParseVersionDocument(const std::string& reply);

// Runs one check against the version service of `web`. `installed` is the
// installed version number (2.29 is 229), `path` the document's path on the
// service, `title` the product title used in the messages. A quiet check
// shows only the offer of a newer version (and a failed browser start).
// Returns the service's version, or nothing when the check was not made or
// failed.
std::optional<int> CheckVersion(TfrmWeb& web, int installed, const std::string& path, bool quiet,
                                const std::string& title);

}  // namespace tarsa
