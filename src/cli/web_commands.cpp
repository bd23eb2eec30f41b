#include "cli/web_commands.h"

#include <cstdio>

#include "cli/cli_platform.h"
#include "web/feedback_form.h"
#include "web/settings_store.h"
#include "web/system_info.h"
#include "web/version_check.h"
#include "web/web_config.h"

namespace tarsa::cli {
namespace {

// The feedback window on a terminal: messages are printed, Yes/No questions
// answered by --yes, a prompt on a terminal, or No.
class TerminalWebUi : public FeedbackWindowUi {
  public:
    explicit TerminalWebUi(bool assumeYes) : assumeYes_(assumeYes) {}

    bool WebMessage(const std::string& text, const std::string& caption, bool ask,
                    int kind) override {
        FILE* to = kind == kWebError || kind == kWebWarning ? stderr : stdout;
        fprintf(to, "%s\n%s\n", caption.c_str(), text.c_str());
        if (!ask) {
            fprintf(to, "\n");
            return false;
        }
        if (assumeYes_) {
            fprintf(stdout, "Yes (--yes)\n\n");
            return true;
        }
        if (!StdinIsTerminal()) {
            fprintf(stdout, "No (no terminal to ask; --yes answers Yes)\n\n");
            return false;
        }
        fprintf(stdout, "[y/N] ");
        fflush(stdout);
        char line[32] = {};
        bool yes = fgets(line, sizeof line, stdin) && (line[0] == 'y' || line[0] == 'Y');
        fprintf(stdout, "\n");
        return yes;
    }
    bool OpenUrl(const std::string& url) override { return LaunchBrowser(url); }
    void PumpMessages() override {}
    void ShowWindow() override { visible_ = true; }
    void HideWindow() override { visible_ = false; }
    void CloseWindow() override { visible_ = false; }
    bool WindowVisible() override { return visible_; }
    void SetFocus(WebControl) override {}
    void SetSendEnabled(bool) override {}
    void SetBusyCursor(bool) override {}
    void ShowProgress(uint64_t maximum) override {
        maximum_ = maximum ? maximum : 1;
        progressShown_ = true;
    }
    void SetProgress(uint64_t position) override {
        if (StdoutIsTerminal()) {
            fprintf(stdout, "\rSending... %3d%%", static_cast<int>(position * 100 / maximum_));
            fflush(stdout);
        }
    }
    void HideProgress() override {
        if (progressShown_ && StdoutIsTerminal()) fprintf(stdout, "\n");  // ends "Sending..."
        progressShown_ = false;
    }
    std::string ChooseFile(const std::string&, const std::string&, const std::string&) override {
        return {};
    }

  private:
    bool assumeYes_;
    bool visible_ = false;
    uint64_t maximum_ = 1;
    bool progressShown_ = false;
};

// The window's edits, as the user would have typed them; false (after the
// form said why) when the user's file cannot be sent.
bool FillForm(TfrmWeb& form, const FeedbackRequest& request) {
    form.edName = request.name;
    if (!request.company.empty()) form.edCompany = request.company;
    if (!request.email.empty()) form.edEmail = request.email;
    if (!request.phone.empty()) form.edTelephone = request.phone;
    if (!request.emailTo.empty()) form.edEmailTo = request.emailTo;
    form.reDescription = request.message;
    form.feedbackType = request.kind;
    cbFeedbackTypeChange(form);
    form.respondVia = request.respondVia;
    return request.attach.empty() || SetSendFile(form, request.attach);
}

}  // namespace

int FeedbackKindIndex(const std::string& word) {
    if (word == "general") return 0;
    if (word == "feature") return 1;
    if (word == "bug") return 2;
    if (word == "other") return 3;
    return -1;
}

int CheckVersionCommand(TarsaLog* log, int installed, const std::string& path,
                        const std::string& title, bool assumeYes) {
    TerminalWebUi ui(assumeYes);
    auto store = OpenUserSettings("FeedbackForm");
    TfrmWeb web(ui, *store, log);
    std::optional<int> remote = CheckVersion(web, installed, path, false, title);
    return remote ? 0 : 1;
}

int SendFeedbackCommand(TarsaLog* log, const FeedbackRequest& request, const std::string& caption,
                        const std::string& versionLabel, const std::string& logPath,
                        bool assumeYes) {
    TerminalWebUi ui(assumeYes);
    auto store = OpenUserSettings("FeedbackForm");
    TfrmWeb form(ui, *store, log);
    WEB_FORM_INFO_TYPE info;
    info.programTitle = caption;
    info.programVersion = versionLabel;
    info.defaultEmailTo = SupportEmail();
    info.attachment1 = logPath;
    info.browseFolder = ".";
    // A command line cannot correct a field once the form is up, so the
    // fields are judged first, before the service is contacted: a refused
    // field is told in the form's own words even when the service is out
    // of reach, and nothing is sent.
    SetFormInfo(form, info);
    FormShow(form);
    if (!FillForm(form, request) || !ValidateFeedback(form)) return 1;

    if (!LaunchFeedback(form, info, log, caption)) return 1;
    if (!FillForm(form, request)) return 1;  // shown, the form starts from the stored details
    int rc = btnSendClick(form);
    if (rc == kFeedbackSent) {
        printf("Feedback sent.\n");
        return 0;
    }
    return 1;  // the reason has been shown
}

}  // namespace tarsa::cli
