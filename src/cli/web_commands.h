// The web services on the command line: the menu form of the online version
// check, and sending feedback with the diagnostic log attached.
#pragma once

#include <string>
#include <vector>

namespace tarsa {
class TarsaLog;
}

namespace tarsa::cli {

// What --send-feedback was given.
struct FeedbackRequest {
    std::string name;
    std::string company;
    std::string email;
    std::string phone;
    std::string emailTo;
    std::string message;
    std::string attach;  // the user's file, optional
    int kind = 0;        // index into the feedback kinds
    int respondVia = 1;  // index into the answer ways
};

// Asks the version service about `path`; prints what it found. Returns the
// exit status (1 when the check could not be made).
int CheckVersionCommand(TarsaLog* log, int installed, const std::string& path,
                        const std::string& title, bool assumeYes);

// Sends feedback as the window would; prints the outcome. `caption` is the
// main window caption, `versionLabel` the image label, `logPath` the log
// attached. Returns the exit status.
int SendFeedbackCommand(TarsaLog* log, const FeedbackRequest& request, const std::string& caption,
                        const std::string& versionLabel, const std::string& logPath,
                        bool assumeYes);

// Maps a --kind word (general, feature, bug, other) to its index; -1 if unknown.
int FeedbackKindIndex(const std::string& word);

}  // namespace tarsa::cli
