#include "app/check_only.h"

#include <sys/stat.h>

#include <bit>
#include <cstdio>

#include "app/settings_transfer.h"
#include "app/update_workflow.h"
#include "instrument/settings_file.h"
#include "platform/file_ops.h"

namespace tarsa::app {
namespace {

std::string Version(uint32_t v) {
    char text[16];
    snprintf(text, sizeof text, "%u.%02u", v / 100, v % 100);
    return text;
}

// The number of settings a capture holds: one bit each in the mask of the
// logger record or in the instrument's flag word.
int CapturedCount(const Tarsa_protocol& tp) {
    const uint32_t mask =
        tp.loggerSettings.validMask != 0 ? tp.loggerSettings.validMask : tp.savedFlags;
    return std::popcount(mask);
}

}  // namespace

int RunCheckOnly(MainWindow& w, const std::string& settingsPath, std::string& summary) {
    MainWindowUi& ui = w.Ui();
    Tarsa_protocol& tp = w.Protocol();
    const std::string& W = w.WindowCaption();
    const std::string N = w.DisplayName();
    auto status = [&](const std::string& text) {
        ui.SetLabel(Label::StatusText, text);
        ui.RepaintLabel(Label::StatusText);
        ui.PumpMessages();
    };
    if (w.Config().digitalSensor) {
        w.ErrorOK("The " + W + " checks a digital sensor only during an update.", "Check Error",
                  MessageKind::Error);
        return kTPNotApplicable;
    }

    w.SetBusy(true);
    w.SetKeepGoing(true);
    w.SetProgress(0);
    w.RebuildSettingsFilePath();
    ForgetCapturedSettings(w, tp);
    const std::string path = settingsPath.empty() ? w.SettingsFilePath() : settingsPath;

    auto body = [&]() -> int {
        // A chosen file is replaced only when it is a settings file.
        struct stat st {};
        if (!settingsPath.empty() && platform::StatNoFollow(path.c_str(), st) == 0) {
            std::string word;
            if (!S_ISREG(st.st_mode) || ReadInfoFileValue(path.c_str(), "type", word) < 0) {
                w.ErrorOK("The file\n" + path + "\nis not a settings file, so the " + W +
                              " does not replace it.\n\nPlease choose another file.",
                          "Wrong Settings File", MessageKind::Error);
                return kTransferWrongFile;
            }
        }
        status("Connecting to " + N + "...");
        InstrumentUpdate update(w, tp);
        bool loaderWaiting = false;
        const int r = update.RunChecks(loaderWaiting);
        if (r < 0) return r;
        const InstrumentIdentity& id = w.Identity();
        const std::string label = w.Host().image.label;
        if (loaderWaiting) {
            const bool kept = stat(w.SettingsFilePath().c_str(), &st) == 0;
            summary = "Check only: your " + N +
                      " waits in its firmware loader (an earlier update did not finish); an "
                      "update would install " +
                      label + " and " +
                      (kept ? "restore the settings from " + w.SettingsFilePath()
                            : std::string("find no settings file to restore"));
            return kUpdateOk;
        }

        int count = 0;
        if (id.saveSettings) {
            status("Saving settings for this " + N + "...");
            const std::string retrieveError = "This " + W +
                                              " could not retrieve the settings from your " + N +
                                              ".\nPlease try again or contact Corvane for help.";
            if (id.needsLogin) {
                const int l = TPLogin(tp);
                if (l < 0) {
                    w.ErrorOK(retrieveError, "Login Error", MessageKind::Error);
                    return l;
                }
            }
            const int kept = SetAsideEarlierSettingsFile(w, path);
            if (kept < 0) return kept;
            const int s = TPSaveInfo(tp, path.c_str());
            if (s < 0 && s != kTPPartial) {
                w.ErrorOK(retrieveError, "Settings Error", MessageKind::Error);
                return s;
            }
            count = CapturedCount(tp);
        }
        summary = "Check only: would install " + label + " over " + Version(id.version);
        if (id.eraseData && !w.DontErase()) summary += ", erase stored data";
        if (id.saveSettings) summary += ", restore " + std::to_string(count) + " settings";
        return kUpdateOk;
    };

    const int result = body();
    TPDisconnect(tp, result > 0);
    BSLDisconnect(w.Host());
    if (result > 0) {
        w.SetProgress(100);
        status(summary);
        if (w.Log()) w.Log()->Write(kLogOutcome, kHostTag, "%s", summary.c_str());
    } else {
        w.SetProgress(0);
    }
    w.SetBusy(false);
    return result;
}

}  // namespace tarsa::app
