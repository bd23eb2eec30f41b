// Settings without a firmware change: writing a settings file back to a
// connected device (from the settings history, or the file a failed run
// left), and capturing a device's settings into a file of the user's choice.
//
// Both run the update's own steps and messages for what they share: the
// connection and its failure texts, the type check (with the factory-mode
// override), the login and the restore or capture. Neither touches the
// firmware, the clock or the measurement data. Both refuse a file written for
// another device type before anything is sent to the device, and the backup
// never replaces a file that is not a settings file; a settings file it
// replaces goes to the settings history first. The command line and the
// window call them the same way; they show their messages through the
// window and leave it idle again.
#pragma once

#include <string>

#include "app/main_window.h"

namespace tarsa::app {

// Results besides the update's (app/update_workflow.h) and the failing
// operation's own code.
inline constexpr int kTransferOk = 1;
inline constexpr int kTransferWrongFile =
    -122;                                       // a file for another device, or not a settings file
inline constexpr int kTransferInLoader = -123;  // the device waits in its firmware loader

// Writes the settings in the settings file at `path` to the device on the
// window's selected port; with "&Replace Serial Number" checked and the edit
// filled, the device gets that serial number instead. Returns kTransferOk,
// kUpdateConnectFailed, kUpdateWrongDevice, kTransferWrongFile,
// kTransferInLoader, the file's read error, the login's or the restore's
// error (kTPPartial when only some settings were written).
int RestoreSettingsFromFile(MainWindow& window, const std::string& path);

// Captures the settings of the device on the window's selected port into
// the settings file at `path`. Returns kTransferOk, kUpdateConnectFailed,
// kUpdateWrongDevice, kTransferWrongFile, kTransferInLoader,
// kUpdateSettingsNotKept, or the login's or the capture's error.
int BackupSettingsToFile(MainWindow& window, const std::string& path);

}  // namespace tarsa::app
