// The dry run of an update: the same connection, identification and checks
// as the update (type, firmware age, newer firmware, hardware, version
// window, battery), the same settings capture into the settings file or a
// file of the user's choice, then the device is let go. No loader is
// started and nothing is written to the device; the firmware, the settings,
// the clock and the stored data stay as they were.
//
// A settings file left by an earlier run is moved into the settings history
// before the capture replaces it, as the update does; a chosen file is
// replaced only when it is a settings file.
#pragma once

#include <string>

#include "app/main_window.h"

namespace tarsa::app {

// Runs the dry run on the window's selected port, capturing into
// `settingsPath` (empty: the window's settings file). On success `summary`
// says what an update would do ("Check only: would install Talox 2.29 over
// 2.10, erase stored data, restore 42 settings") and is shown as the status.
// Returns kUpdateOk (an update would be allowed), a check's refusal
// (kUpdateConnectFailed, kUpdateWrongDevice, kUpdateRefused,
// kUpdateCancelled, kUpdateLowBattery), kTransferWrongFile,
// kUpdateSettingsNotKept, or the login's or the capture's error.
int RunCheckOnly(MainWindow& window, const std::string& settingsPath, std::string& summary);

}  // namespace tarsa::app
