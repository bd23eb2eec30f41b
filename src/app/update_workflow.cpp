#include "app/update_workflow.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "instrument/settings_file.h"
#include "link/terrel_protocol.h"
#include "serial/serial_errors.h"
#include "serial/timing.h"

namespace tarsa::app {
namespace {

constexpr int kReconnectAttempts = 3;
constexpr uint32_t kReconnectPauseMs = 1500;
constexpr int kBatteryFloorPercent = 10;
constexpr const char* kCalibratedAdc = "50.98";

// The clock command's answer for a logger without a clock.
constexpr int kNoClock = -1;

// Whether a failure after the restart means that the device no longer
// answers (power lost, cable pulled, port gone). Such a failure of the
// restore or of the clock ends the run there, with that one message: the
// clock and the data erase that would follow could only fail again and show
// a second message for the same failure. Skipping the erase also keeps the
// measurements on a device whose settings are not back yet; the settings
// file stays for the next run, which erases the data once it has restored
// the settings. A restore that failed while the device still answers (some
// settings refused, no settings file) is reported and the run goes on.
bool DeviceStoppedAnswering(int code) {
    return code == kDCNoListener || code == kDCNoAnswer || code == kDCLastTrySilent ||
           code == kTSErrMissing || code == kTSErrSystem || code == kTSErrIo;
}

// Catalogue types whose builds carry extra steps.
constexpr int kTypeSoluxR40 = 8;
constexpr int kTypeHygraVX = 16;

}  // namespace

InstrumentUpdate::InstrumentUpdate(MainWindow& window, Tarsa_protocol& protocol)
    : w_(window), tp_(protocol) {}

void InstrumentUpdate::Status(const std::string& text) {
    w_.Ui().SetLabel(Label::StatusText, text);
    w_.Ui().RepaintLabel(Label::StatusText);
    w_.Ui().PumpMessages();
}

void InstrumentUpdate::Step(int steps) {
    w_.StepProgress(steps);
}

std::string InstrumentUpdate::ConnectionFailureText(int r) const {
    const std::string& W = w_.WindowCaption();
    const std::string& N = w_.DisplayName();
    const std::string& P = w_.SelectedFriendlyName();
    const InstrumentIdentity& id = const_cast<MainWindow&>(w_).Identity();
    switch (r) {
        case -5:
            return "Comm Port \"" + P + "\" is already in use by another application.\n" +
                   "Please choose a new Comm Port to use or quit the application using this port.";
        case -2:
            return "Comm Port \"" + P +
                   "\" isn't available.\nPlease choose a new Comm Port to use.";
        case -20:
        case -21: {
            std::string text = "The " + W + " is unable to connect to your " + N +
                               "\n on Comm Port \"" + P +
                               "\".\n\nPlease check your serial cable and Comm Port choice.";
            if (w_.Config().targetType == kTypeSoluxR40) {
                text += "\n\nIf your " + N +
                        " is running firmware version older than 2.00, please make"
                        "\nsure the R-40 baud rate is set to 9600 (see the Setup menu of your "
                        "R-40).";
            }
            return text;
        }
        case -120:
            if (id.version != 0 && id.type != 0) {
                return "The " + W + " does not support your " + std::string(id.displayName) + "\n" +
                       "running version " + std::to_string(id.version) + ".";
            }
            return "The " + W + " is unable to connect to your unknown device" +
                   "\n on Comm Port \"" + P +
                   "\".\n\nPlease check your serial cable and Comm Port choice.\n\n" +
                   "Please verify the device connected is a \"" + N +
                   "\" and has a version of\nfirmware that supports updates.";
        case kTSErrNotTerminal:
            return PortFailureText(r, P);
        case -25:
            return "The " + W + " is unable to log into to your " + N + "\n on Comm Port \"" + P +
                   "\".\n\nPlease try again or contact your Corvane representative.";
        default:
            return "The " + W + " is unable to connect to your " + N + "\n on Comm Port \"" + P +
                   "\".\n\nPlease check your serial cable and Comm Port choice.\nError " +
                   std::to_string(r);
    }
}

std::string InstrumentUpdate::LoaderFailureText(int e) const {
    return app::LoaderFailureText(w_, e);
}

void ForgetCapturedSettings(MainWindow& w, Tarsa_protocol& tp) {
    tp.loggerSettings = LoggerSettings{};
    tp.instrumentSettings = InstrumentSettings{};
    FreeRecords(tp.users);
    FreeRecords(tp.equations);
    tp.captured = 0;
    tp.savedFlags = 0;
    w.Identity() = InstrumentIdentity{};
}

int RunStartSequence(MainWindow& w, Tarsa_protocol& tp, const std::function<int()>& run,
                     const std::function<void()>& undoFailure) {
    MainWindowUi& ui = w.Ui();
    const std::string N = w.DisplayName();
    ui.SetPortListEnabled(false);
    w.SetBusy(true);
    w.SetKeepGoing(true);
    w.SetProgress(0);
    ui.SetBusyCursor(true);
    ui.SetLabel(Label::LblConnect, "Do NOT disconnect " + N + " until finished.");
    w.RebuildSettingsFilePath();

    ForgetCapturedSettings(w, tp);

    ui.SetLabel(Label::StatusText, "Connecting to " + N + "...");
    ui.SetLabelVisible(Label::StatusText, true);
    ui.RepaintLabel(Label::StatusText);
    ui.PumpMessages();

    const uint32_t start = TickMs();
    int result = run();

    if (result < 0) {
        ui.SetLabelVisible(Label::StatusText, false);
        w.SetProgress(0);
        undoFailure();
        ui.SetLabel(Label::LblConnect, "Connect " + N + " to computer comm port.");
    } else {
        uint32_t seconds = (TickMs() - start) / 1000;
        if (w.Identity().calibrationReminder) w.ShowCalibrationReminder(w.Identity().type);
        w.SetProgress(100);
        ui.SetLabel(Label::StatusText,
                    "Successfully updated firmware in " + std::to_string(seconds) + " seconds.");
        ui.BeepInformation();
        ui.PumpMessages();
        if (w.Log()) {
            w.Log()->Write(kLogOutcome, kHostTag, "Finished updating device in %d seconds",
                           static_cast<int>(seconds));
        }
        // The settings are back on the device; the file goes to the history,
        // not away, in case the restore did not take everything.
        std::string kept;
        KeepSettingsFile(w, w.SettingsFilePath(), kept);
        ui.SetLabel(Label::LblConnect, "You may disconnect your " + N + " now.");
    }

    ReturnToIdle(w);
    return result;
}

void ReturnToIdle(MainWindow& w) {
    MainWindowUi& ui = w.Ui();
    ui.SetButtonEnabled(Button::Start, true);
    ui.SetDefaultButton(Button::Start, false);
    ui.SetButtonEnabled(Button::Close, true);
    ui.SetDefaultButton(Button::Close, true);
    ui.SetMenuEnabled(MenuItem::UpdateFirmware, true);
    ui.SetMenuChecked(MenuItem::ReplaceSerialNumber, false);
    ui.SetSerialEditVisible(false);
    ui.SetLabelVisible(Label::NewSN, false);
    ui.SetSerialEditText("");
    ui.SetPortListEnabled(true);
    ui.SetBusyCursor(false);
    w.SetBusy(false);
}

int KeepSettingsFile(MainWindow& w, const std::string& path, std::string& movedTo) {
    std::string serial;
    ReadInfoFileValue(path.c_str(), "sn", serial);
    const int rc = MoveToSettingsHistory(path, w.DataFolderPath(), w.DisplayName(), serial,
                                         time(nullptr), movedTo);
    if (w.Log() && rc > 0) {
        w.Log()->Write(kLogOutcome, kHostTag, "Settings history: moved %s to %s", path.c_str(),
                       movedTo.c_str());
    } else if (w.Log() && rc < 0) {
        w.Log()->Write(kLogOutcome, kHostTag,
                       "Settings history: could not move %s (error %d); it stays where it is",
                       path.c_str(), -rc);
    }
    return rc;
}

int SetAsideEarlierSettingsFile(MainWindow& w, const std::string& path) {
    const std::string& W = w.WindowCaption();
    const std::string& N = w.DisplayName();
    std::string movedTo;
    const int rc = KeepSettingsFile(w, path, movedTo);
    if (rc == 0) return kUpdateOk;
    if (rc < 0) {
        w.ErrorOK("The " + W + " could not move the settings file left by an earlier run\n" + path +
                      "\ninto " + SettingsHistoryFolder(w.DataFolderPath()) + " (" +
                      std::string(strerror(-rc)) + ").\n\nNothing was changed on your " + N +
                      "; the file stays where it is.",
                  "Settings Error", MessageKind::Error);
        return kUpdateSettingsNotKept;
    }
    w.ErrorOK("The " + W + " found a settings file left by an earlier run:\n" + path + "\n\nYour " +
                  N +
                  " answers with its firmware, so that file is not needed to finish an "
                  "update. It has been moved to\n" +
                  movedTo + "\nbefore the settings are saved again.\n\nTo write those " +
                  "settings back to your " + N + ", run:\ntarsa-update --restore-settings " +
                  ShellWord(movedTo) + " --port " + ShellWord(w.SelectedPortName()),
              "Earlier Settings File", MessageKind::Information);
    return kUpdateOk;
}

int ConfirmDeviceType(MainWindow& w, const InstrumentIdentity& id) {
    if (id.type == w.Host().image.typeCode) return kUpdateOk;
    const std::string F = id.displayName;
    std::string text = "The " + w.WindowCaption() + " expected to find a " + w.DisplayName() +
                       ";\nhowever, it found a " + F + ".\n\nThis updater can not update a " + F +
                       ".";
    if (w.FactoryMode()) {
        text += "\n\n[Factory Mode Override: Click OK to load FW anyway]";
        return w.AskOkCancel(text, "Wrong Device") ? kUpdateOk : kUpdateWrongDevice;
    }
    w.ErrorOK(text, "Wrong Device", MessageKind::Error);
    return kUpdateWrongDevice;
}

std::string RestoreFailureText(const MainWindow& w, int d) {
    const std::string& W = w.WindowCaption();
    const std::string& N = w.DisplayName();
    if (d == kTPFileNotFound) {
        return "The " + W + " couldn't find the settings file for your " + N +
               ".\n\nPlease try again or contact Corvane for help.";
    }
    if (d == kTPFileAccessDenied || d == kTPFileBadHandle) {
        return "The " + W + " failed to read the settings file for your " + N +
               ".\n\nPlease try again or contact Corvane for help." +
               "\n\nError: " + std::to_string(d);
    }
    if (d == kTPPartial) {
        return "The " + W + " failed to restore some of the settings for your " + N +
               ".\n\nPlease check the settings after this updater is finished.";
    }
    if (d < 0) {
        return "The " + W + " failed to restore the settings for your " + N +
               ".\n\nPlease try again.\n\n[Error " + std::to_string(d) + "]";
    }
    return {};
}

std::string PortFailureText(int code, const std::string& P) {
    if (code == -5) {
        return "Comm Port \"" + P + "\" is already in use by another application.\n" +
               "Please choose a new Comm Port to use or quit the application using this port.";
    }
    if (code == -2) {
        return "Comm Port \"" + P + "\" isn't available.\nPlease choose a new Comm Port to use.";
    }
    if (code == kTSErrNotTerminal) {
        return "Comm Port \"" + P +
               "\" is not a serial port.\nPlease choose a new Comm Port to use.";
    }
    return {};
}

std::string LoaderFailureText(const MainWindow& w, int e) {
    return "The " + w.WindowCaption() + " encountered an error working with your " +
           w.DisplayName() + ".\n\nPlease try again.\n\n[Error " + std::to_string(e) + "]";
}

int ReportFailedFirmwareCheck(MainWindow& w, int code, bool corrupt) {
    if (corrupt) {
        w.ErrorOK("The new firmware for your " + w.DisplayName() +
                      " is corrupt!\n\nPlease try again or contact Corvane.",
                  "Firmware Error", MessageKind::Error);
    } else {
        w.ErrorOK("The " + w.WindowCaption() + " was unable to verify the new firmware in your " +
                      w.DisplayName() + ".\n\nPlease try again or contact Corvane.\n\n[Error " +
                      std::to_string(code) + "]",
                  "Firmware Error", MessageKind::Error);
    }
    return code;
}

int EraseAndUpload(MainWindow& w, const InstrumentIdentity& id, uint32_t pauseBeforeUploadMs) {
    TarsaBSLHost& host = w.Host();
    auto status = [&](const std::string& text) {
        w.Ui().SetLabel(Label::StatusText, text);
        w.Ui().RepaintLabel(Label::StatusText);
        w.Ui().PumpMessages();
    };
    auto fail = [&](int code, const char* caption) {
        w.ErrorOK(LoaderFailureText(w, code), caption, MessageKind::Error);
        return code;
    };
    status("Erasing firmware memory...");
    const bool ext = id.extendedAddressing != 0;
    int e = BSLEraseINFO(host, id.infoStart, id.infoSegments, id.infoSegmentSize, ext);
    if (e < 0) return fail(e, "INFO Memory Erase Error");
    e = BSLEraseFlash(host, id.flashStart, id.flashEnd, ext);
    if (e < 0) return fail(e, "Firmware Erase Error");
    w.ProgressAccumulator() = 21.0f;
    w.SetProgress(21);
    status("Uploading new firmware code...");
    if (pauseBeforeUploadMs) DelayMs(pauseBeforeUploadMs);
    int u = BSLSendFirmware(host, ext);
    if (u < 0) return fail(u, "Firmware Upload Error");
    status("Restarting the " + w.DisplayName() + ", please wait...");
    int v = BSLSendVectors(host);
    if (v < 0) return fail(v, "Firmware Upload Error");
    return 1;
}

int InstrumentUpdate::timerStartTimer() {
    return RunStartSequence(
        w_, tp_, [this] { return RunUpdate(); },
        [this] {
            BSLDisconnect(w_.Host());
            TPDisconnect(tp_, false);
        });
}

// A loader left taking commands (the port vanished in the middle of an
// upload and came back) answers the application's commands with a bare "?",
// which the connection reads as old firmware whose settings cannot be read
// (kTPPartial). The loader's own probe tells the two apart; only its answer
// "?" to a carriage return counts, so a device running its application is
// never taken for a loader.
bool InstrumentUpdate::LoaderLeftTakingCommands(const char* port) {
    TPDisconnect(tp_, false);
    InstrumentIdentity target{};
    SetInstrumentIdentity(w_.Host().image.typeCode, 999, &target);
    const int s = BSLCheck(w_.Host(), port, target.loaderBaud);
    BSLDisconnect(w_.Host());
    return s == kBSLAlreadyActive;
}

int InstrumentUpdate::RunChecks(bool& loaderWaiting) {
    const std::string N = w_.DisplayName();
    InstrumentIdentity& id = w_.Identity();
    TarsaBSLHost& host = w_.Host();
    const char* port = w_.SelectedPortName().c_str();

    // 1. Connect and identify.
    int r = TPConnect(tp_, port, 2, 3, &id);
    loaderWaiting = r == kTPLoaderAnswered || r == kTPLoaderPrompt ||
                    (r == kTPPartial && LoaderLeftTakingCommands(port));
    if (r < 0 && !loaderWaiting) {
        w_.ErrorOK(ConnectionFailureText(r), "Connection Error", MessageKind::Error);
        return kUpdateConnectFailed;
    }
    Step(2);

    if (loaderWaiting) {
        // An interrupted update left the loader waiting: straight to the loader.
        SetInstrumentIdentity(host.image.typeCode, 999, &id);
        return kUpdateOk;
    }
    // 4. The right device?
    if (ConfirmDeviceType(w_, id) < 0) return kUpdateWrongDevice;
    // 5. Firmware that can be updated at all.
    if (!id.supported) {
        w_.ErrorOK("The firmware in the connected " + N +
                       "\nis too old.\n\nThis updater can not update this device.",
                   "Firmware Too Old", MessageKind::Error);
        return kUpdateRefused;
    }
    // 6. Installing older firmware than the device runs is asked.
    if (id.version > w_.ImageVersion() && !w_.FactoryMode()) {
        if (!w_.AskOkCancel("The firmware in your " + N +
                                "\nis newer than the version in this updater.\n\n" +
                                "Are you sure you want to load older firmware.",
                            "Newer Firmware")) {
            return kUpdateCancelled;
        }
    }
    // A Hygra VX build refuses while a test runs.
    if (w_.Config().targetType == kTypeHygraVX) {
        char answer[32] = {};
        int length = sizeof answer;
        int rc = DeviceCommand(tp_.link, "ping -stat\r", '>', 3000, answer, &length, nullptr);
        int running = -1;
        if (rc > 0 && sscanf(answer, "%d", &running) == 1 && running != -1) {
            w_.ErrorOK(
                "Your HVX is currently running a test.\n\n"
                "Please stop the test and save the measurement\n data before "
                "updating the HVX firmware.",
                "Test Running Error", MessageKind::Error);
            return kUpdateCancelled;
        }
    }
    // 7. Hardware and version gates (they show their own messages).
    if (!w_.CheckHardwareRevision()) return kUpdateRefused;
    if (!w_.CheckFirmwareWindow(id)) return kUpdateRefused;

    // 8. Battery.
    if (id.checkBattery) {
        Status("Checking battery power...");
        int32_t percent = 0;
        int b = TPCheckBattery(tp_, &percent);
        if (b > 0 && percent < kBatteryFloorPercent) {
            w_.ErrorOK(
                "The battery power is too low!\n\n"
                "Please replace the batteries before running this updater.",
                "Batteries Too Low", MessageKind::Error);
            return kUpdateLowBattery;
        }
    }
    Step(2);
    return kUpdateOk;
}

int InstrumentUpdate::RunUpdate() {
    const std::string& W = w_.WindowCaption();
    const std::string N = w_.DisplayName();
    InstrumentIdentity& id = w_.Identity();
    TarsaBSLHost& host = w_.Host();
    const char* port = w_.SelectedPortName().c_str();

    bool loaderWaiting = false;
    int r = RunChecks(loaderWaiting);
    if (r < 0) return r;

    if (!loaderWaiting) {
        // 9. Capture the settings into the settings file.
        if (id.saveSettings) {
            Status("Saving settings for this " + N + "...");
            const std::string retrieveError = "This " + W +
                                              " could not retrieve the settings from your " + N +
                                              ".\nPlease try again or contact Corvane for help.";
            if (id.needsLogin) {
                int l = TPLogin(tp_);
                if (l < 0) {
                    w_.ErrorOK(retrieveError, "Login Error", MessageKind::Error);
                    return l;
                }
            }
            // The application answered, so a file left by an earlier run is
            // not a recovery's: keep it in the history before it is replaced.
            int kept = SetAsideEarlierSettingsFile(w_, w_.SettingsFilePath());
            if (kept < 0) return kept;
            int s = TPSaveInfo(tp_, w_.SettingsFilePath().c_str());
            if (s < 0) {
                if (w_.RepMode() || w_.FactoryMode()) {
                    if (!w_.AskOkCancel(
                            "The " + W + " could not retrieve the settings from your " + N +
                                ".\nThis can happen when an intrument is new or doesn't have " +
                                "a serial number set yet.\n\nClick OK to continue loading new "
                                "firmware." +
                                "\nClick CANCEL to try retrieving the settings again.",
                            "Settings Retrieve Error")) {
                        return kUpdateCancelled;
                    }
                } else if (s != kTPPartial) {
                    w_.ErrorOK(retrieveError, "Settings Error", MessageKind::Error);
                    return s;
                }
            }
        }
    }

    // 10-11. Hand over to the loader.
    TPDisconnect(tp_, false);
    w_.SetProgress(6);
    Status("Starting the firmware loader...");
    int c = BSLConnect(host, port, id.loaderBaud, true, 3);
    if (c == kBSLNoLoader) {
        w_.ErrorOK("This " + N + " does not have a working firmware loader." +
                       "\n\nPlease contact Corvane for help.",
                   "Firmware Loader Error", MessageKind::Error);
        return kBSLNoLoader;
    }
    if (c < 0) {
        w_.ErrorOK("The " + W + " is unable to connect to the firmware loader in your " + N +
                       ".\n\nPlease try again.",
                   "Firmware Loader Error", MessageKind::Error);
        return kUpdateNoLoader;
    }

    // 12-16. Erase, upload, vectors.
    Step(2);
    int loaded = EraseAndUpload(w_, id, 0);
    if (loaded < 0) return loaded;

    // 17-18. Restart and reconnect.
    BSLDisconnect(host);
    DelayMs(id.restartDelayMs);
    w_.SetProgress(92);
    w_.Ui().PumpMessages();
    for (int attempt = 0; attempt < kReconnectAttempts; ++attempt) {
        r = TPConnect(tp_, port, 2, 3, &id);
        if (r > 0) break;
        DelayMs(static_cast<uint32_t>(attempt) * kReconnectPauseMs);
    }
    if (r < 0) {
        w_.ErrorOK(LoaderFailureText(r), "Connection Error", MessageKind::Error);
        return r;
    }
    if (id.needsLogin && TPLogin(tp_) < 0) {
        w_.ErrorOK("This " + W + " failed to log into your " + N +
                       ".\nPlease check the settings on your instrument or contact Corvane for "
                       "help.",
                   "Login Error", MessageKind::Error);
    }

    // 20. The new firmware checks itself.
    Step(2);
    Status("Checking new firmware...");
    // Only the device's own "Code Corrupt!" means a corrupt firmware; a
    // device that stopped answering or gave no verdict is said to be
    // unverified, so that a pulled cable is not reported as a bad image.
    int k = TPCheckFirmware(tp_, id.postInit);
    if (k < 0) return ReportFailedFirmwareCheck(w_, k, k == kTPCorruptFirmware);
    if (w_.Config().resetActuator) {
        char answer[32] = {};
        int length = sizeof answer;
        int a = DeviceCommand(tp_.link, "set -act 30\r", '>', 1500, answer, &length, nullptr);
        if (a < 0) {
            w_.ErrorOK("Resetting the actuator parameter returned error: " + std::to_string(a),
                       "Reset Actuator Error", MessageKind::Error);
        }
    }

    // 21. Restore the settings.
    Step(2);
    Status("Restoring settings...");
    if (id.saveSettings) {
        std::string newSerial = w_.Ui().SerialEditText();
        int d =
            TPRestoreInfo(tp_, w_.SettingsFilePath().c_str(),
                          w_.ReplaceSerial() && !newSerial.empty() ? newSerial.c_str() : nullptr);
        const std::string text = RestoreFailureText(w_, d);
        if (!text.empty()) w_.ErrorOK(text, "Settings Error", MessageKind::Error);
        if (DeviceStoppedAnswering(d)) return d;
    }

    // 22. The clock: a failure is reported and the run goes on, unless the
    // device stopped answering.
    if (id.setClock) {
        const int t = TPSetTime(tp_);
        const bool lost = DeviceStoppedAnswering(t);
        if (t < 0 && t != kTPNotApplicable && t != kNoClock) {
            w_.ErrorOK("The " + W + " failed to set the clock in your " + N + ".\n\n" +
                           (lost ? "Please try again."
                                 : "Please check the clock after this updater is finished.") +
                           "\n\n[Error " + std::to_string(t) + "]",
                       "Clock Error", MessageKind::Error);
        }
        if (lost) return t;
    }
    Step(2);

    // 23. The old measurement data.
    if (id.eraseData && !w_.DontErase()) {
        Status("Erasing old data...");
        int x = TPEraseData(tp_);
        if (x < 0) {
            std::string text = "The " + W + " was unable to erase the data in your " + N;
            if (x == kTPDataFlash) {
                text +=
                    "because the data storage chip is reporting errors.\n\nPlease contact "
                    "Corvane for help.";
            } else {
                text += ".\nPlease try again.\n[Error: " + std::to_string(x) + "]";
            }
            w_.ErrorOK(text, "Data Erase Error", MessageKind::Error);
            return x;
        }
    }

    // 24. Done: remind about calibration when the captured "adc" says so.
    const char* adc = tp_.instrumentSettings.adc;
    if (adc[0] == '\0' || strcmp(adc, kCalibratedAdc) != 0) id.calibrationReminder = 1;
    TPDisconnect(tp_, true);
    return kUpdateOk;
}

}  // namespace tarsa::app
