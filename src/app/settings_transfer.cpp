#include "app/settings_transfer.h"

#include <sys/stat.h>

#include <functional>

#include "app/update_workflow.h"
#include "instrument/settings_file.h"
#include "platform/file_ops.h"

namespace tarsa::app {
namespace {

class SettingsJob {
  public:
    explicit SettingsJob(MainWindow& window) : w_(window), tp_(window.Protocol()) {}

    // Prepares the window and the protocol object as a Start does, runs
    // `body`, and returns the window to idle; a failure gives the port back.
    int Run(const std::function<int()>& body) {
        MainWindowUi& ui = w_.Ui();
        ui.SetButtonEnabled(Button::Start, false);
        ui.SetButtonEnabled(Button::Close, false);
        ui.SetMenuEnabled(MenuItem::UpdateFirmware, false);
        ui.SetPortListEnabled(false);
        w_.SetBusy(true);
        ui.SetBusyCursor(true);
        w_.SetProgress(0);
        ForgetCapturedSettings(w_, tp_);
        ui.SetLabelVisible(Label::StatusText, true);

        const int result = body();

        if (result < 0) {
            TPDisconnect(tp_, false);
            ui.SetLabelVisible(Label::StatusText, false);
            w_.SetProgress(0);
        } else {
            w_.SetProgress(100);
        }
        ReturnToIdle(w_);
        return result;
    }

    void Status(const std::string& text) {
        w_.Ui().SetLabel(Label::StatusText, text);
        w_.Ui().RepaintLabel(Label::StatusText);
        w_.Ui().PumpMessages();
    }

    // Connects to the application of the device on the selected port and
    // checks its type, with the update's messages. `inLoaderText` ends the
    // message for a device that waits in its loader.
    int Connect(const std::string& inLoaderText) {
        const std::string& N = w_.DisplayName();
        Status("Connecting to " + N + "...");
        InstrumentIdentity& id = w_.Identity();
        const int r = TPConnect(tp_, w_.SelectedPortName().c_str(), 2, 3, &id);
        if (r == kTPLoaderAnswered || r == kTPLoaderPrompt) {
            w_.ErrorOK("Your " + N +
                           " is waiting in its firmware loader: an earlier update did not "
                           "finish.\n\nPlease run the update to finish it; " +
                           inLoaderText,
                       "Connection Error", MessageKind::Error);
            return kTransferInLoader;
        }
        if (r < 0) {
            w_.ErrorOK(InstrumentUpdate(w_, tp_).ConnectionFailureText(r), "Connection Error",
                       MessageKind::Error);
            return kUpdateConnectFailed;
        }
        w_.SetProgress(10);
        return ConfirmDeviceType(w_, id);
    }

    // The connected device must be the type `word` (a settings file's type
    // line) was written for.
    int ConfirmFileType(const std::string& path, const std::string& word) {
        const InstrumentIdentity& id = w_.Identity();
        if (word == SettingsFileTypeWord(id.type)) return kTransferOk;
        const int fileType = SettingsFileTypeOf(word);
        const std::string F = id.displayName;
        const std::string other = fileType != kTypeUnknown
                                      ? std::string(InstrumentDisplayName(fileType))
                                      : "device of the type \"" + word + "\"";
        w_.ErrorOK("The settings file\n" + path + "\nwas saved from a " + other + ", not from a " +
                       F + ".\n\nNothing was changed on your " + F + ".",
                   "Wrong Settings File", MessageKind::Error);
        return kTransferWrongFile;
    }

    int Login(const std::string& failureText) {
        if (!w_.Identity().needsLogin) return kTransferOk;
        const int l = TPLogin(tp_);
        if (l < 0) w_.ErrorOK(failureText, "Login Error", MessageKind::Error);
        return l < 0 ? l : kTransferOk;
    }

    void NotAFile(const std::string& path, const std::string& why) {
        w_.ErrorOK("The file\n" + path + "\n" + why, "Wrong Settings File", MessageKind::Error);
    }

    void Logged(const std::string& what) {
        if (w_.Log()) w_.Log()->Write(kLogOutcome, kHostTag, "%s", what.c_str());
    }

    MainWindow& w_;
    Tarsa_protocol& tp_;
};

int NotForSensors(MainWindow& w) {
    w.ErrorOK("The " + w.WindowCaption() +
                  " reads and writes the settings of a digital sensor only during an update.",
              "Settings Error", MessageKind::Error);
    return kTPNotApplicable;
}

}  // namespace

int RestoreSettingsFromFile(MainWindow& w, const std::string& path) {
    if (w.Config().digitalSensor) return NotForSensors(w);
    SettingsJob job(w);
    return job.Run([&]() -> int {
        const std::string& W = w.WindowCaption();
        const std::string& N = w.DisplayName();
        // The file first: nothing is sent to the device for a file that
        // cannot be restored.
        std::string word;
        const int f = ReadInfoFileValue(path.c_str(), "type", word);
        if (f == kTPBadAnswer) {
            job.NotAFile(path, "is not a settings file.\n\nNothing was changed on your " + N + ".");
            return kTransferWrongFile;
        }
        if (f < 0) {
            w.ErrorOK(RestoreFailureText(w, f) + "\n\n" + path, "Settings Error",
                      MessageKind::Error);
            return f;
        }
        int rc = job.Connect("then write the settings back.");
        if (rc < 0) return rc;
        rc = job.ConfirmFileType(path, word);
        if (rc < 0) return rc;
        rc = job.Login("This " + W + " failed to log into your " + N +
                       ".\nPlease check the settings on your instrument or contact Corvane for "
                       "help.");
        if (rc < 0) return rc;

        w.SetProgress(50);
        job.Status("Restoring settings...");
        const std::string newSerial = w.Ui().SerialEditText();
        const int d =
            TPRestoreInfo(w.Protocol(), path.c_str(),
                          w.ReplaceSerial() && !newSerial.empty() ? newSerial.c_str() : nullptr);
        if (d < 0) {
            w.ErrorOK(RestoreFailureText(w, d), "Settings Error", MessageKind::Error);
            return d;
        }
        TPDisconnect(w.Protocol(), true);
        job.Logged("Restored the settings from " + path);
        job.Status("Restored the settings of your " + N + " from " + path + ".");
        return kTransferOk;
    });
}

int BackupSettingsToFile(MainWindow& w, const std::string& path) {
    if (w.Config().digitalSensor) return NotForSensors(w);
    SettingsJob job(w);
    return job.Run([&]() -> int {
        const std::string& W = w.WindowCaption();
        const std::string& N = w.DisplayName();
        // A file already there is replaced only when it is a settings file.
        std::string word;
        struct stat st {};
        const bool exists = platform::StatNoFollow(path.c_str(), st) == 0;
        if (exists) {
            const int f =
                S_ISREG(st.st_mode) ? ReadInfoFileValue(path.c_str(), "type", word) : kTPBadAnswer;
            if (f < 0) {
                job.NotAFile(
                    path, (f == kTPBadAnswer ? std::string("is not a settings file")
                                             : "cannot be read (Error " + std::to_string(f) + ")") +
                              ", so the " + W +
                              " does not replace it.\n\nPlease choose another file.");
                return kTransferWrongFile;
            }
        }
        int rc = job.Connect("its settings can be read after that.");
        if (rc < 0) return rc;
        if (exists) {
            rc = job.ConfirmFileType(path, word);
            if (rc < 0) return rc;
        }
        const std::string retrieveError = "This " + W +
                                          " could not retrieve the settings from your " + N +
                                          ".\nPlease try again or contact Corvane for help.";
        rc = job.Login(retrieveError);
        if (rc < 0) return rc;

        w.SetProgress(50);
        job.Status("Saving settings for this " + N + "...");
        if (exists) {
            std::string movedTo;
            const int kept = KeepSettingsFile(w, path, movedTo);
            if (kept < 0) {
                w.ErrorOK("The " + W + " could not move the earlier settings file\n" + path +
                              "\ninto " + SettingsHistoryFolder(w.DataFolderPath()) +
                              ", so it does not replace it.\n\n[Error " + std::to_string(kept) +
                              "]",
                          "Settings Error", MessageKind::Error);
                return kUpdateSettingsNotKept;
            }
            if (kept > 0) {
                w.ErrorOK("The earlier settings file\n" + path + "\nhas been moved to\n" + movedTo +
                              "\nbefore the settings are saved again.",
                          "Earlier Settings File", MessageKind::Information);
            }
        }
        // As in the update, a capture with gaps (kTPPartial: settings this
        // device does not have) is a capture: the file holds all it has.
        const int s = TPSaveInfo(w.Protocol(), path.c_str());
        if (s < 0 && s != kTPPartial) {
            w.ErrorOK(retrieveError, "Settings Error", MessageKind::Error);
            return s;
        }
        TPDisconnect(w.Protocol(), true);
        job.Logged("Saved the settings to " + path);
        job.Status("Saved the settings of your " + N + " to " + path + ".");
        return kTransferOk;
    });
}

}  // namespace tarsa::app
