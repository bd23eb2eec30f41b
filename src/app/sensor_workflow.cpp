#include "app/sensor_workflow.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>

#include "app/paths.h"
#include "app/update_workflow.h"
#include "instrument/settings_file.h"
#include "link/terrel_protocol.h"
#include "loader/bsl_host.h"
#include "platform/file_ops.h"
#include "sdi12/sensor_operations.h"
#include "serial/timing.h"

namespace tarsa::app {
namespace {

constexpr int kHardwareRevisionAnswerSize = 32;
constexpr uint32_t kHardwareRevisionTimeoutMs = 1500;
constexpr uint32_t kHandOffTries = 10;
constexpr uint32_t kSteeringPauseMs = 500;
constexpr uint32_t kLeaveBridgePauseMs = 1000;
constexpr uint32_t kBeforeUploadMs = 100;
constexpr uint32_t kAfterRestartMs = 1000;

// Sensor types that select the entry of their family.
struct FamilyMember {
    int32_t type;
    int32_t family;
};
constexpr FamilyMember kFamilyMembers[] = {
    {101, 262}, {105, 262}, {106, 262}, {116, 262}, {103, 264},
    {104, 264}, {107, 261}, {108, 261}, {121, 261},
};

// Which sensor types a run for a family accepts.
struct FamilyAcceptance {
    int32_t family;
    std::array<int32_t, 4> members;  // 0 ends a shorter list
};
constexpr FamilyAcceptance kFamilyAcceptance[] = {
    {260, {115, 114, 111, 110}},
    {261, {121, 108, 107, 0}},
    {262, {116, 106, 105, 101}},
    {264, {104, 103, 0, 0}},
};

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

}  // namespace

int SensorMenuEntryOf(int32_t value) {
    for (const FamilyMember& member : kFamilyMembers) {
        if (member.type == value) {
            value = member.family;
            break;
        }
    }
    for (size_t i = 0; i < kSensorMenu.size(); ++i) {
        if (kSensorMenu[i].value == value) return static_cast<int>(i);
    }
    return -1;
}

bool SensorTypeAccepted(int32_t target, int32_t sensorType) {
    for (const FamilyAcceptance& family : kFamilyAcceptance) {
        if (family.family != target) continue;
        for (int32_t member : family.members) {
            if (member != 0 && member == sensorType) return true;
        }
        return false;
    }
    return sensorType == target;
}

SensorUpdate::SensorUpdate(MainWindow& window, Tarsa_protocol& protocol)
    : w_(window), tp_(protocol) {}

void SensorUpdate::Status(const std::string& text) {
    w_.Ui().SetLabel(Label::StatusText, text);
    w_.Ui().RepaintLabel(Label::StatusText);
    w_.Ui().PumpMessages();
}

std::string SensorUpdate::ConnectionFailureText(int c) const {
    const std::string& W = w_.WindowCaption();
    const std::string& P = w_.SelectedFriendlyName();
    std::string port = PortFailureText(c, P);
    if (!port.empty()) return port;
    switch (c) {
        case -20:
            return "The " + W + " is unable to connect to your communication device" +
                   "\n on Comm Port \"" + P +
                   "\".\n\nPlease check your serial cable and Comm Port choice.";
        default:
            return "The " + W + " is unable to connect to your communication device" +
                   "\n on Comm Port \"" + P +
                   "\".\n\nPlease check your serial cable and Comm Port choice.\nError " +
                   std::to_string(c);
    }
}

std::string SensorUpdate::LoaderFailureText(int e) const {
    return app::LoaderFailureText(w_, e);
}

int SensorUpdate::timerStartTimer() {
    return RunStartSequence(
        w_, tp_, [this] { return RunSensorUpdate(); },
        [this] {
            // Back to the reader's own commands; the port stays the connection's.
            SDIWriteCharacter(tp_.sdi, kToReader);
            BSLRelease(w_.Host());
            TPDisconnect(tp_, false);
        });
}

int SensorUpdate::CheckReader() {
    const std::string& W = w_.WindowCaption();
    const std::string F = w_.Identity().displayName;
    const int readerType = tp_.loggerSettings.typeCode;
    if (readerType == kReaderHandra) {
        char answer[kHardwareRevisionAnswerSize] = {};
        int length = kHardwareRevisionAnswerSize;
        int h = DeviceCommand(tp_.link, "get -hver\r", '>', kHardwareRevisionTimeoutMs, answer,
                              &length, nullptr);
        char revision = '\0';
        if (h > 0) {
            for (int i = 0; i < kHardwareRevisionAnswerSize && answer[i] != '\0'; ++i) {
                if (!IsBlank(answer[i])) {
                    revision = answer[i];
                    break;
                }
            }
        }
        const auto version = static_cast<uint32_t>(tp_.loggerSettings.versionNumber);
        if (h <= 0 || version < kHandraMinVersion || revision < kHandraMinRevision) {
            // A revision that could not be read is shown as nothing, not as a NUL.
            const std::string R = revision != '\0' ? std::string(1, revision) : std::string();
            w_.ErrorOK("Your " + F + " version " + FormatVersionNumber(version) +
                           " with hardware revision '" + R + "' " +
                           "doesn't\nsupport bootstrapping digital sensors.\n\nPlease use a "
                           "supported Handra (or Terrel Comm Device)",
                       "Wrong Device Version", MessageKind::Error);
            return kUpdateRefused;
        }
    } else if (readerType != kReaderCommDevice) {
        w_.ErrorOK("The " + W + " expected to find a Handra (or Terrel Comm Device)" +
                       ";\nhowever, it found a " + F + ".\n\nThis updater can not work with a " +
                       F + ".",
                   "Wrong Device", MessageKind::Error);
        return kUpdateWrongDevice;
    }

    w_.StepProgress(1);
    Status("Checking Handra battery power...");
    int32_t level = 0;
    int b = TPCheckBattery(tp_, &level);
    if (b > 0 && level <= kReaderBatteryFloor) {
        w_.ErrorOK(
            "The battery power in the Handra is too low!\n\n"
            "Please replace the batteries before running this updater.",
            "Batteries Too Low", MessageKind::Error);
        return kUpdateLowBattery;
    }
    return kUpdateOk;
}

int SensorUpdate::SaveSettingsAndStartLoader(int probe) {
    const std::string& W = w_.WindowCaption();
    const std::string N = w_.DisplayName();
    InstrumentIdentity& id = w_.Identity();
    const int target = w_.Config().targetType;

    Status("Saving settings for this digital sensor...");
    SDIWriteCharacter(tp_.sdi, kToSdi12);
    DelayMs(kSteeringPauseMs);
    int r = SaveSettingsKeepingTheEarlierFile();
    if (r == kUpdateSettingsNotKept) return r;
    // A "$" that came from a waiting loader leaves no sensor on the bus. If
    // that loader greets behind the bridge, this is an interrupted update:
    // nothing to capture, and the restore reads the earlier run's file.
    if (r == kSDINoAnswer && probe == kBSLWaitingForHost && GreetWaitingLoader()) {
        return kInterruptedUpdate;
    }
    if (r < 0) {
        if (!w_.RepMode() && !w_.FactoryMode()) {
            w_.ErrorOK("This " + W + " could not retrieve the settings from your " + N +
                           ".\nPlease try again or contact Corvane for help.",
                       "Settings Error", MessageKind::Error);
            return r;
        }
        if (!w_.AskOkCancel("The " + W + " could not retrieve the settings from your " + N +
                                ".\nThis can happen when an intrument is new or doesn't have " +
                                "a serial number set yet.\n\nClick OK to continue loading new "
                                "firmware." +
                                "\nClick CANCEL to try retrieving the settings again.",
                            "Settings Retrieve Error")) {
            return kUpdateCancelled;
        }
    }

    SetInstrumentIdentity(target, tp_.sdi.firmwareVersion, &id);
    if (!w_.CheckFirmwareWindow(id)) return kUpdateRefused;

    if (id.version > w_.ImageVersion()) {
        if (!w_.AskOkCancel("The firmware in your " + N +
                                "\nis newer than the version in this updater.\n\n" +
                                "Are you sure you want to load older firmware.",
                            "Newer Firmware")) {
            return kUpdateCancelled;
        }
    }

    if (!SensorTypeAccepted(w_.TargetSensorType(), tp_.sdi.sensorType)) {
        const std::string T = SensorName(tp_.sdi.sensorType);
        if (!w_.AskOkCancel("The attached sensor is claiming to be a \"" + T + "\"\n\n" +
                                "This firmware updater is for a \"" + N + "\".\n\n" +
                                "Are you sure you want to load the firmware for a " + N + "?\n",
                            "Wrong Sensor Type")) {
            return kUpdateCancelled;
        }
    }

    w_.SetProgress(6);
    Status("Starting the firmware loader...");
    int i = SDIInvokeTarsaBSL(tp_.sdi);
    if (i == kSDINoLoader) {
        w_.ErrorOK(std::string("This digital sensor does not have a working firmware loader.") +
                       ".\n\nPlease contact Corvane for help.",
                   "Firmware Loader Error", MessageKind::Error);
        return kSensorNoLoader;
    }
    if (i < 0) {
        w_.ErrorOK("The " + W + " is unable to connect to the firmware loader in your " + N +
                       ".\n\nPlease try again.",
                   "Firmware Loader Error", MessageKind::Error);
        return kUpdateNoLoader;
    }
    return kUpdateOk;
}

// A settings file left by an earlier run cannot be moved away before the
// save, as the instrument update does: the probe's "$" may have come from a
// loader left waiting by an interrupted update, and finishing that update
// restores this very file. So it is copied into the history first; the copy
// is kept, and the user told where it is, only when the save has replaced
// the file. When the save did not (no sensor answered, or it failed), the
// file is still in place, unchanged, and the copy is dropped.
int SensorUpdate::SaveSettingsKeepingTheEarlierFile() {
    const std::string path = w_.SettingsFilePath();
    const std::string& W = w_.WindowCaption();
    const std::string& N = w_.DisplayName();
    platform::FileIdentity before;
    const bool existed = platform::IdentifyFile(path.c_str(), before) == 0;
    std::string serial;
    if (existed) ReadInfoFileValue(path.c_str(), "sn", serial);
    std::string copy;
    const int copied =
        existed ? CopyToSettingsHistory(path, w_.DataFolderPath(), N, serial, time(nullptr), copy)
                : 0;
    if (copied < 0) {
        if (w_.Log()) {
            w_.Log()->Write(kLogOutcome, kHostTag, "Settings history: could not copy %s (error %d)",
                            path.c_str(), -copied);
        }
        w_.ErrorOK("The " + W + " could not copy the settings file left by an earlier run\n" +
                       path + "\ninto " + SettingsHistoryFolder(w_.DataFolderPath()) + " (" +
                       std::string(strerror(-copied)) + ").\n\nNothing was changed on your " + N +
                       "; the file stays where it is.",
                   "Settings Error", MessageKind::Error);
        return kUpdateSettingsNotKept;
    }

    const int r = TPSaveInfo(tp_, path.c_str());
    if (copied == 0) return r;

    // The save writes a new file and renames it over the old one, so a file
    // that was replaced is another file now.
    platform::FileIdentity after;
    const bool replaced = platform::IdentifyFile(path.c_str(), after) != 0 || after != before;
    if (!replaced) {
        unlink(copy.c_str());
        return r;
    }
    if (w_.Log()) {
        w_.Log()->Write(kLogOutcome, kHostTag, "Settings history: copied %s to %s", path.c_str(),
                        copy.c_str());
    }
    w_.ErrorOK("The " + W + " found a settings file left by an earlier run:\n" + path +
                   "\n\nYour " + N +
                   " answered with its firmware and its settings have been saved again. The "
                   "earlier file has been kept as\n" +
                   copy,
               "Earlier Settings File", MessageKind::Information);
    return r;
}

bool SensorUpdate::GreetWaitingLoader() {
    SDIWriteCharacter(tp_.sdi, kToLoaderBridge);
    DelayMs(kSteeringPauseMs);
    if (BSLAttach(w_.Host()) > 0) {
        if (w_.Log()) {
            w_.Log()->Write(kLogProgress, kHostTag,
                            "Found the digital sensor's TarsaBSL waiting for a host: finishing "
                            "an interrupted update");
        }
        return true;
    }
    // No loader either: back to the bus, where the save found nothing.
    SDIWriteCharacter(tp_.sdi, kToSdi12);
    DelayMs(kSteeringPauseMs);
    return false;
}

int SensorUpdate::RunSensorUpdate() {
    const std::string& W = w_.WindowCaption();
    const std::string N = w_.DisplayName();
    InstrumentIdentity& id = w_.Identity();
    TarsaBSLHost& host = w_.Host();
    const std::string port = w_.SelectedPortName();
    const std::string settingsPath = w_.SettingsFilePath();

    // 1. Connect to the reader.
    int c = TPConnect(tp_, port.c_str(), 2, 3, &id);
    if (c < 0) {
        w_.ErrorOK(ConnectionFailureText(c), "Connection Error", MessageKind::Error);
        return kUpdateConnectFailed;
    }

    // 2-3. A reader that can bootstrap sensors, with enough battery.
    int checked = CheckReader();
    if (checked < 0) return checked;

    // 4. The loader host borrows the connection's open port.
    w_.StepProgress(1);
    int h = BSLHandOff(host, tp_.link.port.handle, tp_.link.port.gReadBuffer, tp_.link.port.name,
                       true, kHandOffTries);
    if (h < 0) {
        w_.ErrorOK("The " + W + " is unable to start the TarsaBSL engine.\n\nPlease try again.",
                   "Firmware Loader Error", MessageKind::Error);
        return h;
    }

    // 5. Probe through the loader bridge. "$" is what the bridge answers in
    // front of a running application, and also what a loader waiting for a
    // host (an interrupted update) answers: taken as the application, which
    // is asked to leave the bridge for the reader's own commands. "?" is a
    // loader that already takes commands. Any other answer counts as the
    // application, without the extra grave accent.
    SDIWriteCharacter(tp_.sdi, kToLoaderBridge);
    DelayMs(kSteeringPauseMs);
    const int s = BSLCheck(host, port.c_str(), kBSLAppBaud);
    if (s == kBSLWaitingForHost) {
        SDIWriteCharacter(tp_.sdi, kToReader);
        DelayMs(kLeaveBridgePauseMs);
    }

    // 6. The sensor's application: save its settings, confirm, start its loader.
    tp_.type = kTypeDigitalSensor;
    SetInstrumentIdentity(w_.Config().targetType, 999, &id);
    if (s != kBSLAlreadyActive) {
        int started = SaveSettingsAndStartLoader(s);
        if (started < 0) return started;
    }

    // 7. Greet the sensor's loader.
    if (BSLAttach(host) < 0) {
        w_.ErrorOK("The " + W + " is unable to connect to the firmware loader in your " + N +
                       ".\n\nPlease try again.",
                   "Firmware Loader Error", MessageKind::Error);
        return kUpdateNoLoader;
    }

    // 8-10. Erase, upload, vectors.
    w_.StepProgress(1);
    int loaded = EraseAndUpload(w_, id, kBeforeUploadMs);
    if (loaded < 0) return loaded;

    // 11-12. Give the port back, return to the bus and let the sensor check
    // its new firmware.
    w_.SetProgress(92);
    w_.Ui().PumpMessages();
    BSLRelease(host);
    SDIWriteCharacter(tp_.sdi, kToSdi12);
    w_.StepProgress(1);
    Status("Checking new firmware...");
    DelayMs(kAfterRestartMs);
    int k = SDICheckBinary(tp_.sdi);
    if (k < 0) return ReportFailedFirmwareCheck(w_, k, k == kSDICorruptFirmware);

    // 13-14. Calibration, address and type; failures are reported, not fatal.
    w_.StepProgress(1);
    Status("Restoring settings...");
    int d = TPRestoreInfo(tp_, settingsPath.c_str(), nullptr);
    if (d < 0) {
        w_.ErrorOK("The " + W + " failed to restore the calibration and address\n" + "for your " +
                       N + ".\n\nPlease calibrate this sensor and check the address.\n\n[Error " +
                       std::to_string(d) + "]",
                   "Settings Error", MessageKind::Error);
        // A sensor that stopped answering would only fail the type as well,
        // and the run is not a success: it ends here, and the settings file
        // stays for the next run.
        if (d == kSDINoAnswer || d == kTSErrMissing || d == kTSErrSystem || d == kTSErrIo) return d;
    }
    int t = SDISetSensorType(tp_.sdi, static_cast<uint32_t>(w_.TargetSensorType()));
    if (t < 0) {
        w_.ErrorOK("The " + W + " failed to set the sensor type for your " + N +
                       ".\n\nThe sensor type will be auto-determined by the firmware.\n\n[Error " +
                       std::to_string(t) + "]",
                   "Settings Error", MessageKind::Error);
    }

    // 15. Back to the reader's own commands.
    w_.StepProgress(1);
    SDIWriteCharacter(tp_.sdi, kToReader);
    TPDisconnect(tp_, false);
    return kUpdateOk;
}

}  // namespace tarsa::app
