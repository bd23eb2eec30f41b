// What the web services ask of the running system: a description of the
// operating system, the MIME type of a file name from the system's MIME
// table, the program file's path, and starting the user's web browser.
//
// The parsers take text so they can be tested without touching the machine;
// the system files they read (/etc/os-release, /etc/mime.types) are treated
// as outside input: read up to a cap, control characters dropped.
#pragma once

#include <string>

namespace tarsa {

// "<name> kernel <release> (Version <major>.<minor> build <patch>)" from the
// text of an os-release file and a kernel release such as "6.1.0-18-amd64".
// The name is PRETTY_NAME, else NAME and VERSION, else "Linux". The bracket
// is left out when the release does not begin with two dot-separated
// numbers; a missing third number is build 0.
std::string LinuxOsDescription(const std::string& osRelease, const std::string& kernelRelease);

// LinuxOsDescription of this machine (/etc/os-release, else
// /usr/lib/os-release, and uname).
std::string OperatingSystemDescription();

// Content type of `fileName` by its extension (case ignored) in the text of a
// MIME table ("type ext ext ..." lines, "#" comments); "application/
// octet-stream" when there is no extension or no entry.
std::string MimeTypeFromTable(const std::string& fileName, const std::string& table);

// MimeTypeFromTable with the table read from `tablePath`.
std::string MimeTypeForFile(const std::string& fileName,
                            const std::string& tablePath = "/etc/mime.types");

// Full path of the running program file; empty when it cannot be read.
std::string ProgramFilePath();

// The file name after the last "/" of `path`.
std::string FileNameOf(const std::string& path);

// Starts `opener` (a program name looked up in PATH, or a path) with `url` as
// its only argument, without a shell, and waits up to `waitMs` for it. True
// when it exited with status 0 or is still running after the wait (a browser
// started in the foreground); false when it could not be started or failed.
bool LaunchBrowser(const std::string& url, const std::string& opener = "xdg-open",
                   int waitMs = 10000);

}  // namespace tarsa
