// The instrument update, end to end, as the main window runs it when Start is
// pressed: connect and identify, the checks, the settings capture, the
// loader session (erase, upload, vectors), the restart and reconnection, the
// firmware check, the settings restore, the clock, the data erase, and the
// finishing that returns the window to idle.
//
// Every step shows a status line and moves the progress bar; every failure
// shows exactly one message (the gates show their own) and ends the run with
// a negative result. The settings file survives a failed run, so a later run
// that finds the loader already waiting restores what the failed run saved.
// It is never overwritten or deleted: a capture that would replace it, and a
// successful run, move it into the settings history (app/paths.h).
#pragma once

#include <functional>
#include <string>

#include "app/main_window.h"
#include "instrument/tarsa_protocol.h"

namespace tarsa::app {

// Results of RunUpdate besides the failing operation's own code.
inline constexpr int kUpdateOk = 1;
inline constexpr int kUpdateConnectFailed = -20;
inline constexpr int kUpdateCancelled = -40;
inline constexpr int kUpdateNoLoader = -110;
inline constexpr int kUpdateRefused = -120;
inline constexpr int kUpdateWrongDevice = -121;
inline constexpr int kUpdateLowBattery = -130;
inline constexpr int kUpdateSettingsNotKept = -140;  // an earlier settings file could not be kept

// Forgets all an earlier run captured (settings, records, masks and the
// device's identity), so that a capture that fails leaves nothing a restore
// would write back. Every job that captures calls it first.
void ForgetCapturedSettings(MainWindow& window, Tarsa_protocol& protocol);

// The Start sequence both workflows share: prepares the window and the
// protocol object, runs `run`, then reports success (elapsed time, log line,
// settings file deleted) or calls `undoFailure` to give back the port, and
// returns the window to idle. Returns run's result.
int RunStartSequence(MainWindow& window, Tarsa_protocol& protocol, const std::function<int()>& run,
                     const std::function<void()>& undoFailure);

// Gives the controls back after a job: Start and Close enabled, Close the
// default, the serial-number replacement put away, the port list enabled,
// the window no longer busy.
void ReturnToIdle(MainWindow& window);

// Moves the settings file at `path` into the settings history, named after
// the window's device and the serial number the file holds, and logs where
// it went. Returns MoveToSettingsHistory's result (1 moved, 0 no file).
int KeepSettingsFile(MainWindow& window, const std::string& path, std::string& movedTo);

// Before a capture replaces the settings file at `path`: a file left there
// by an earlier run is moved into the history, and the user is told where
// it went and the command that writes it back. Returns 1 (nothing there, or
// moved), or kUpdateSettingsNotKept after its message when the file could
// not be moved, in which case the capture must not run.
int SetAsideEarlierSettingsFile(MainWindow& window, const std::string& path);

// The type check: the connected `identity` must be of the type the loader
// host's image is for. Otherwise the "Wrong Device" message is shown (asked,
// in factory mode, whether to go on). Returns 1 or kUpdateWrongDevice.
int ConfirmDeviceType(MainWindow& window, const InstrumentIdentity& identity);

// The "Settings Error" text for a TPRestoreInfo result `d`; empty when d
// is not negative.
std::string RestoreFailureText(const MainWindow& window, int d);

// The connection failure texts for a port that is in use (-5) or missing
// (-2), shared by both workflows; empty for other codes.
std::string PortFailureText(int code, const std::string& friendlyName);

// "The W encountered an error working with your N ... [Error E]".
std::string LoaderFailureText(const MainWindow& window, int e);

// Shows the message of a failed self-check of the new firmware and returns
// `code`: "corrupt" when the device said so (`corrupt`), "unable to verify"
// with the code otherwise (no answer, no verdict).
int ReportFailedFirmwareCheck(MainWindow& window, int code, bool corrupt);

// Erases the information memory and the flash, uploads the image and sends
// the vectors with the memory map of `identity`, showing each phase; a
// failure shows its message and returns its code. `pauseBeforeUploadMs` is
// waited after the upload status is shown.
int EraseAndUpload(MainWindow& window, const InstrumentIdentity& identity,
                   uint32_t pauseBeforeUploadMs);

class InstrumentUpdate {
  public:
    InstrumentUpdate(MainWindow& window, Tarsa_protocol& protocol);

    // The start timer's handler: prepares the window, runs RunUpdate and
    // finishes (success report or failure clean-up). Returns the result.
    int timerStartTimer();
    int RunUpdate();
    // The first steps of RunUpdate, shared with the dry run: connect and
    // identify, the type, firmware-age, newer-firmware, hardware, version and
    // battery checks, each with its message. `loaderWaiting` is set when the
    // device waits in its loader (the checks are then skipped). Returns
    // kUpdateOk or the refusal's result; the connection stays open.
    int RunChecks(bool& loaderWaiting);

    // Texts of the connection failure message and of the loader failure
    // message, by result code.
    std::string ConnectionFailureText(int r) const;
    std::string LoaderFailureText(int e) const;

  private:
    void Status(const std::string& text);
    void Step(int steps);
    bool LoaderLeftTakingCommands(const char* port);

    MainWindow& w_;
    Tarsa_protocol& tp_;
};

}  // namespace tarsa::app
