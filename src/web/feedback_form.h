// The feedback window's logic: the texts the main window hands over, the
// persisted contact details, the reachability check before the window opens,
// the feedback kinds, the user's file choice with its size limit, validation
// of the form, and the multipart submission with the diagnostic log and the
// user's file attached.
//
// TfrmWeb is the window's model. The window (or a terminal) draws it and
// copies the user's edits into it; everything it must do on its own (dialogs,
// focus, progress bar, showing and closing) goes through FeedbackWindowUi.
// The same record carries the HTTP client and the dialog that the online
// version check uses.
//
// A front end uses it in this order: LaunchFeedback (or ShowFeedback) when
// the user asks for the window; after it returns true, draw the fields;
// cbFeedbackTypeChange after a kind is picked; btnSendFileClick for the
// browse button (or SetSendFile with a path a terminal was given); copy the
// edits into the record and call btnSendClick; FormClose when the window
// closes. The settings store of a real run is an IniFileStore on
// UserSettingsPath("FeedbackForm").
//
// Nothing here logs the user's details or the description; the contact
// details are stored only in the settings store.
#pragma once

#include <cstdint>
#include <string>

#include "web/http_client.h"
#include "web/settings_store.h"
#include "web/web_ui.h"

namespace tarsa {

class TarsaLog;

// The texts the caller hands over before the window is shown.
struct WEB_FORM_INFO_TYPE {
    std::string programTitle;       // subject, software version, check-box caption
    std::string programVersion;     // software version field
    std::string registeredName;     // pre-fills the name when not empty
    std::string registeredCompany;  // pre-fills the company when not empty
    std::string defaultEmailTo;     // "EmailTo" when the user gave no representative
    std::string attachment1;        // the diagnostic log; attached when not empty
    std::string attachment2;        // attached when not empty
    std::string attachment3;        // attached when not empty
    std::string browseFolder;       // initial folder of the file dialog
};

// Results of btnSendClick and SubmitFeedback.
inline constexpr int kFeedbackSent = 1;         // the service answered "Script Completed"
inline constexpr int kFeedbackFileError = 0;    // the user's file could not be attached (shown)
inline constexpr int kFeedbackFailed = -1000;   // not sent, or the service did not confirm
inline constexpr int kFeedbackRefused = -1010;  // validation refused the form (shown)

inline constexpr uint64_t kMaxSendFileBytes = 8388608;    // 8 MB, the user's file
inline constexpr uint64_t kProgressShowBytes = 2097152;   // uploads above show pbWeb
inline constexpr uint32_t kFeedbackLogTailBytes = 32768;  // log kept before attaching
inline constexpr size_t kMaxDescriptionChars = 2048;      // characters of reDescription
inline constexpr size_t kMaxAttachmentBytes = 8388608;    // any one attached file

// Items of cbFeedbackType and cbRespondVia, in list order.
inline constexpr int kFeedbackTypeCount = 4;
inline constexpr const char* kFeedbackTypeItems[kFeedbackTypeCount] = {
    "General Feedback", "Feature Suggestion", "Bug Report", "Other"};
inline constexpr int kRespondViaCount = 5;
inline constexpr const char* kRespondViaItems[kRespondViaCount] = {
    "No response necessary", "Email", "Telephone (morning is best)", "Telephone (mid day is best)",
    "Telephone (afternoon is best)"};

// Settings store keys.
inline constexpr const char* kStoreName = "Name";
inline constexpr const char* kStoreCompany = "Company";
inline constexpr const char* kStorePhone = "Phone";
inline constexpr const char* kStoreEmail = "Email";
inline constexpr const char* kStoreEmailTo = "EmailTo";

struct TfrmWeb {
    // The service addresses come from the build configuration and the
    // environment (web/web_config.h); an unusable override leaves the address
    // empty and its reason in the matching error text.
    TfrmWeb(FeedbackWindowUi& ui, SettingsStore& store, TarsaLog* log);
    TfrmWeb(const TfrmWeb&) = delete;
    TfrmWeb& operator=(const TfrmWeb&) = delete;

    FeedbackWindowUi* ui;
    SettingsStore* store;
    TarsaLog* log;
    HttpClient http;

    std::string versionService;
    std::string versionServiceError;
    std::string feedbackService;
    std::string feedbackServiceError;

    std::string applicationTitle = "TarsaBSL";
    std::string installationPath;     // "Installation Path": the program file
    std::string computerInformation;  // "Computer Information"; empty: this machine's
    std::string mimeTable = "/etc/mime.types";

    WEB_FORM_INFO_TYPE info;

    // The window's fields.
    std::string edName;
    std::string edCompany;
    std::string edEmail;
    std::string edTelephone;
    std::string edEmailTo;
    std::string edSendFile;    // the user's file name without folder
    std::string sendFilePath;  // its full path, used when sending
    std::string reDescription;
    int feedbackType = 0;  // index into kFeedbackTypeItems; -1 none
    int respondVia = 1;    // index into kRespondViaItems; -1 none

    std::string feedbackKind = "General Feedback";
    std::string lblDescription = "Please describe the feedback below";
    std::string chkErrorLogCaption;
    std::string savedEmailTo;
    std::string lastError;
    bool sending = false;
    bool uploadStarted = false;
    bool progressShown = false;
};

// Copies the nine texts into the window.
void SetFormInfo(TfrmWeb& form, const WEB_FORM_INFO_TYPE& info);

// The main window's menu item: hands over `info`, cuts `mainLog` to its last
// 32768 bytes when it is not empty (otherwise notes the empty log in it with
// `mainCaption` as the tag), then ShowFeedback. Returns ShowFeedback's result.
bool LaunchFeedback(TfrmWeb& form, const WEB_FORM_INFO_TYPE& info, TarsaLog* mainLog,
                    const std::string& mainCaption);

// Checks that the feedback service answers (a GET of "/"; any HTTP answer
// will do). When it does not, shows "Internet Access Error" and returns false;
// otherwise runs FormShow, shows the window and returns true.
bool ShowFeedback(TfrmWeb& form);

// Fills the window for a new message: stored contact details, registered
// name and company, check-box caption, "Email" and "General Feedback".
void FormShow(TfrmWeb& form);

// Sets the feedback kind text and the description label from feedbackType.
void cbFeedbackTypeChange(TfrmWeb& form);

// Empties the file choice, asks the user for a file in browseFolder and takes
// it through SetSendFile.
void btnSendFileClick(TfrmWeb& form);

// Takes `path` as the user's file when it is at most 8 MB; otherwise (or when
// it cannot be measured) shows why and leaves the choice empty. Returns true
// when the file was taken.
bool SetSendFile(TfrmWeb& form, const std::string& path);

// Send's checks of the fields, in the order the user is told of them: shows
// the first refusal (a warning; the focus moves to the field) and returns
// false; true when every field passes.
bool ValidateFeedback(TfrmWeb& form);

// Send: validates, stores the contact details, submits and reports.
//   kFeedbackSent      sent and confirmed; thanked, window closed
//   kFeedbackFileError the user's file could not be attached (shown)
//   kFeedbackFailed    not confirmed; "Error Sending Feedback" shown when visible
//   kFeedbackRefused   a field was refused (shown, focus moved)
int btnSendClick(TfrmWeb& form);

// Builds and POSTs the form. kFeedbackSent, kFeedbackFileError or
// kFeedbackFailed (lastError says why, when there is a reason).
int SubmitFeedback(TfrmWeb& form);

// The window is closing: a running submission is cancelled.
void FormClose(TfrmWeb& form);

// The first `maxChars` UTF-8 characters of `text`.
std::string CutToChars(const std::string& text, size_t maxChars);

}  // namespace tarsa
