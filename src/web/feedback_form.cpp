// The feedback window's logic and the feedback submission.
#include "web/feedback_form.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "log/tarsa_log.h"
#include "platform/file_ops.h"
#include "web/feedback_texts.h"
#include "web/system_info.h"
#include "web/web_config.h"

namespace tarsa {

namespace {

constexpr const char* kTag = "frmWeb";
constexpr size_t kMaxProbeReplyBytes = 64 * 1024;
constexpr long kProbeTimeoutMs = 30000;

constexpr const char* kFileNotFound = "The system cannot find the file specified.";
constexpr const char* kFileInUse =
    "The process cannot access the file because it is being used by another process.";

std::string ErrnoText(int err) {
    if (err == ENOENT || err == ENOTDIR) return kFileNotFound;
    if (err == EBUSY || err == ETXTBSY) return kFileInUse;
    return std::strerror(err);
}

// Reads a regular file of at most `cap` bytes into `data`. False with `error`
// set otherwise; never blocks on a pipe or device.
bool ReadAttachment(const std::string& path, size_t cap, std::string& data, std::string& error) {
    const int fd = platform::OpenForReading(path.c_str());
    if (fd < 0) {
        error = ErrnoText(-fd);
        return false;
    }
    struct stat st {};
    bool ok = false;
    if (fstat(fd, &st) != 0) {
        error = ErrnoText(errno);
    } else if (!S_ISREG(st.st_mode)) {
        error = "It is not a regular file.";
    } else if (static_cast<uint64_t>(st.st_size) > cap) {
        error = "The file is larger than 8 MB.";
    } else {
        data.assign(static_cast<size_t>(st.st_size), '\0');
        size_t done = 0;
        ok = true;
        while (done < data.size()) {
            const ssize_t n = read(fd, data.data() + done, data.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                error = ErrnoText(errno);
                ok = false;
                break;
            }
            if (n == 0) break;  // the file shrank while being read
            done += static_cast<size_t>(n);
        }
        data.resize(done);
    }
    close(fd);
    return ok;
}

std::string FileErrorText(const std::string& name, const std::string& failure) {
    const std::string head = "Error sending the file \"" + name + "\". ";
    if (failure.find("cannot find the file") != std::string::npos)
        return head + "\nThe file is empty or can't be found on the system." +
               "\n\nPlease check your file name and try again.";
    if (failure.find("used by another process") != std::string::npos)
        return head + "\nThe file is open and in use with another application." +
               "\n\nPlease close the file and try again.";
    std::string text = head + "\n\nPlease try again.";
    if (!failure.empty()) text += "\n\nError: " + failure;
    return text;
}

void Refuse(TfrmWeb& form, const std::string& text, const char* caption, WebControl focus) {
    form.ui->WebMessage(text, caption, false, kWebWarning);
    form.ui->SetFocus(focus);
}

// Validation in the order the user is told about it; false after the first
// refused field.
bool Validate(TfrmWeb& form) {
    if (form.edName.empty()) {
        Refuse(form, "Please enter your name in the name field", "Missing Information",
               WebControl::kName);
        return false;
    }
    if (form.edEmail.empty() && form.edTelephone.empty() && form.respondVia != 0) {
        Refuse(form,
               "Please enter your phone number or email address so Corvane "
               "can respond to your feedback.",
               "Missing Information", WebControl::kTelephone);
        return false;
    }
    if (!form.edEmailTo.empty() && form.edEmailTo.find('@') == std::string::npos) {
        Refuse(form,
               "The email address you entered for your Corvane\n"
               "Representative isn't complete.\n\n"
               "Please enter a complete email address including\n"
               "the '@' symbol and domain name.",
               "Bad Email Address", WebControl::kEmailTo);
        return false;
    }
    const bool blank = form.edEmail.find(' ') != std::string::npos;
    if (!form.edEmail.empty() && (form.edEmail.find('@') == std::string::npos || blank)) {
        std::string text =
            "The email address you entered doesn't seem to be correct.\n\n"
            "Please enter a complete email address including\n"
            "the '@' symbol and domain name.";
        if (blank) text += "\n\nPlease remove any space characters in the email address.";
        Refuse(form, text, "Bad Email Address", WebControl::kEmail);
        return false;
    }
    return true;
}

void UploadProgress(TfrmWeb& form, HttpDirection direction, uint64_t total, uint64_t done) {
    if (direction == HttpDirection::kUpload && form.sending) {
        if (!form.uploadStarted && total > 0) {
            form.uploadStarted = true;
            if (total > kProgressShowBytes) {
                form.ui->ShowProgress(total);
                form.progressShown = true;
            }
        }
        if (form.progressShown) form.ui->SetProgress(done);
    }
    form.ui->PumpMessages();
}

}  // namespace

TfrmWeb::TfrmWeb(FeedbackWindowUi& windowUi, SettingsStore& settings, TarsaLog* logFile)
    : ui(&windowUi), store(&settings), log(logFile) {
    versionService =
        ServiceAddress(kVersionServiceEnv, DefaultVersionService(), versionServiceError);
    feedbackService =
        ServiceAddress(kFeedbackServiceEnv, DefaultFeedbackService(), feedbackServiceError);
    installationPath = ProgramFilePath();
    http.log = logFile;
    http.pump = [this] { ui->PumpMessages(); };
    http.progress = [this](HttpDirection d, uint64_t total, uint64_t done) {
        UploadProgress(*this, d, total, done);
    };
    if (log && !feedbackService.empty() && feedbackService.rfind("https://", 0) != 0)
        log->Write(kLogOutcome, kTag, "Feedback service %s does not use HTTPS",
                   feedbackService.c_str());
}

void SetFormInfo(TfrmWeb& form, const WEB_FORM_INFO_TYPE& info) {
    form.info = info;
}

bool LaunchFeedback(TfrmWeb& form, const WEB_FORM_INFO_TYPE& info, TarsaLog* mainLog,
                    const std::string& mainCaption) {
    SetFormInfo(form, info);
    if (mainLog) {
        if (mainLog->Size() > 0)
            mainLog->KeepTail(kFeedbackLogTailBytes);
        else
            mainLog->Write(kLogProgress, mainCaption.c_str(), "%s",
                           "Launching web feedback with an empty error file.");
    }
    return ShowFeedback(form);
}

bool ShowFeedback(TfrmWeb& form) {
    std::string error = form.feedbackServiceError;
    bool reachable = false;
    if (!form.feedbackService.empty()) {
        HttpReply reply;
        const int r = HttpGetBounded(form.http, form.feedbackService + "/", kMaxProbeReplyBytes,
                                     kProbeTimeoutMs, reply);
        // Any answer shows that the service can be reached, even a long one.
        reachable = r == kHttpOk || r == kHttpReplyTooLarge;
        error = reply.error;
    }
    if (!reachable) {
        std::string text =
            std::string("Error connecting to Corvane's customer feedback internet service.\n\n") +
            "This feature requires your computer to be connected to the internet\n" +
            "and be able to contact Corvane's Web Site (" + MakerWebHost() + ")." +
            "\n\nPlease make a connection to the internet and try again.";
        if (!error.empty()) text += "\n\nError: " + error;
        form.ui->WebMessage(text, "Internet Access Error", false, kWebError);
        return false;
    }
    FormShow(form);
    form.ui->ShowWindow();
    return true;
}

void FormShow(TfrmWeb& form) {
    form.edName = form.store->Read(kStoreName);
    form.edCompany = form.store->Read(kStoreCompany);
    form.edTelephone = form.store->Read(kStorePhone);
    form.edEmail = form.store->Read(kStoreEmail);
    form.savedEmailTo = form.store->Read(kStoreEmailTo);
    if (!form.info.registeredName.empty()) form.edName = form.info.registeredName;
    if (!form.info.registeredCompany.empty()) form.edCompany = form.info.registeredCompany;
    if (form.info.programTitle.empty()) form.info.programTitle = form.applicationTitle;
    form.chkErrorLogCaption = "Include " + form.info.programTitle + " error log files";
    form.edEmailTo = form.savedEmailTo;
    form.edSendFile.clear();
    form.sendFilePath.clear();
    form.reDescription.clear();
    form.respondVia = 1;
    form.feedbackType = 0;
    cbFeedbackTypeChange(form);
    form.ui->HideProgress();
    form.sending = false;
}

void cbFeedbackTypeChange(TfrmWeb& form) {
    static constexpr const char* kKinds[kFeedbackTypeCount] = {
        "General Feedback", "Feature Suggestion", "Bug Report", "Other Feedback"};
    static constexpr const char* kLabels[kFeedbackTypeCount] = {
        "Please describe the feedback below", "Please describe the feature suggestion below",
        "Please describe the bug or issue below", "Please describe the other feedback below"};
    const int i =
        (form.feedbackType >= 0 && form.feedbackType < kFeedbackTypeCount) ? form.feedbackType : 0;
    form.feedbackKind = kKinds[i];
    form.lblDescription = kLabels[i];
}

void btnSendFileClick(TfrmWeb& form) {
    form.edSendFile.clear();
    form.sendFilePath.clear();
    const std::string path =
        form.ui->ChooseFile(kSendFileDialogTitle, kSendFileDialogFilter, form.info.browseFolder);
    if (!path.empty()) SetSendFile(form, path);
}

bool SetSendFile(TfrmWeb& form, const std::string& path) {
    form.edSendFile.clear();
    form.sendFilePath.clear();
    const std::string name = FileNameOf(path);
    struct stat st {};
    std::string failure;
    if (stat(path.c_str(), &st) != 0)
        failure = ErrnoText(errno);
    else if (!S_ISREG(st.st_mode))
        failure = "It is not a regular file.";
    if (!failure.empty()) {
        form.ui->WebMessage(FileErrorText(name, failure), "Error Reading File", false, kWebError);
        return false;
    }
    const auto size = static_cast<uint64_t>(st.st_size);
    if (size > kMaxSendFileBytes) {
        char megabytes[32];
        std::snprintf(megabytes, sizeof megabytes, "%.1f", static_cast<double>(size) / 1048576.0);
        form.ui->WebMessage("The file \"" + name + "\" is too big.\n\n" +
                                "The maximun file size you can send with your feedback\n" +
                                "is 8 megabytes (this file is " + megabytes + " MB)." +
                                "\n\nPlease choose a different file to send.",
                            "File Size Error", false, kWebError);
        return false;
    }
    form.edSendFile = name;
    form.sendFilePath = path;
    return true;
}

bool ValidateFeedback(TfrmWeb& form) {
    return Validate(form);
}

int btnSendClick(TfrmWeb& form) {
    form.lastError.clear();
    if (!Validate(form)) return kFeedbackRefused;

    form.ui->SetSendEnabled(false);
    form.ui->SetBusyCursor(true);
    bool stored = form.store->Write(kStoreName, form.edName);
    stored = form.store->Write(kStoreCompany, form.edCompany) && stored;
    stored = form.store->Write(kStorePhone, form.edTelephone) && stored;
    stored = form.store->Write(kStoreEmail, form.edEmail) && stored;
    stored = form.store->Write(kStoreEmailTo, form.edEmailTo) && stored;
    if (!stored && form.log)
        form.log->Write(kLogOutcome, kTag, "%s", "The contact details could not be stored");

    const int r = SubmitFeedback(form);
    form.ui->SetSendEnabled(true);
    form.ui->SetBusyCursor(false);

    if (r == kFeedbackSent) {
        form.ui->HideWindow();
        form.ui->PumpMessages();
        form.ui->WebMessage("Thank you for submitting your " + form.feedbackKind + ".",
                            "Feedback Successfully Sent", false, kWebInformation);
        form.ui->CloseWindow();
    } else if (r < 0 && form.ui->WindowVisible()) {
        std::string text = "There was an error trying to send your " + form.feedbackKind +
                           " to Corvane.\n\nPlease try again.";
        if (!form.lastError.empty()) text += "\n\nError: " + form.lastError;
        form.ui->WebMessage(text, "Error Sending Feedback", false, kWebWarning);
    }
    return r;
}

int SubmitFeedback(TfrmWeb& form) {
    const WEB_FORM_INFO_TYPE& info = form.info;
    const std::string respondVia = (form.respondVia >= 0 && form.respondVia < kRespondViaCount)
                                       ? kRespondViaItems[form.respondVia]
                                       : "Unknown RespondVia";
    std::vector<HttpPart> parts = {
        {"EmailTo", form.edEmailTo.empty() ? info.defaultEmailTo : form.edEmailTo, {}, {}},
        {"EmailSubject", info.programTitle + " " + form.feedbackKind, {}, {}},
        {"Name", form.edName, {}, {}},
        {"Company Name", form.edCompany, {}, {}},
        {"Email", form.edEmail, {}, {}},
        {"Telephone", form.edTelephone, {}, {}},
        {"Respond Via", respondVia, {}, {}},
        {"Registered Name", info.registeredName, {}, {}},
        {"Registered Company", info.registeredCompany, {}, {}},
        {"Software Version", info.programTitle + " version " + info.programVersion, {}, {}},
        {"Installation Path", form.installationPath, {}, {}},
        {"Computer Information",
         form.computerInformation.empty() ? OperatingSystemDescription() : form.computerInformation,
         {},
         {}},
        {"Feedback", CutToChars(form.reDescription, kMaxDescriptionChars), {}, {}},
    };

    auto attach = [&](const std::string& path, std::string& failure) {
        HttpPart part;
        part.name = part.fileName = FileNameOf(path);
        part.contentType = MimeTypeForFile(part.fileName, form.mimeTable);
        if (!ReadAttachment(path, kMaxAttachmentBytes, part.data, failure)) return false;
        parts.push_back(std::move(part));
        return true;
    };
    for (const std::string* path : {&info.attachment1, &info.attachment2, &info.attachment3}) {
        std::string failure;
        if (!path->empty() && !attach(*path, failure) && form.log)
            form.log->Write(kLogDetail, kTag, "Attachment %s left out: %s",
                            FileNameOf(*path).c_str(), failure.c_str());
    }
    if (!form.edSendFile.empty()) {
        std::string failure;
        if (!attach(form.sendFilePath, failure)) {
            form.ui->WebMessage(FileErrorText(form.edSendFile, failure), "Error Reading File",
                                false, kWebError);
            return kFeedbackFileError;
        }
    }

    if (form.feedbackService.empty()) {
        form.lastError = form.feedbackServiceError;
        return kFeedbackFailed;
    }
    HttpReply reply;
    form.sending = true;
    form.uploadStarted = false;
    form.progressShown = false;
    const int r = HttpPostMultipart(form.http, form.feedbackService + kFeedbackPath, parts, reply);
    if (form.progressShown) form.ui->HideProgress();
    form.progressShown = false;
    form.sending = false;

    if (r != kHttpOk) {
        form.lastError = reply.error;
        return kFeedbackFailed;
    }
    if (reply.body.find("Script Completed") != std::string::npos) return kFeedbackSent;
    if (reply.status >= 400)
        form.lastError =
            "The service answered with HTTP status " + std::to_string(reply.status) + ".";
    if (form.log)
        form.log->Write(kLogOutcome, kTag, "Feedback not confirmed by the service (status %ld)",
                        reply.status);
    return kFeedbackFailed;
}

void FormClose(TfrmWeb& form) {
    if (form.sending) HttpAbort(form.http);
}

std::string CutToChars(const std::string& text, size_t maxChars) {
    size_t chars = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            if (chars == maxChars) return text.substr(0, i);
            ++chars;
        }
    }
    return text;
}

}  // namespace tarsa
