// The main window's logic: start-up, options, persisted settings, the port
// list, the menus, the close request, firmware file selection and image dump,
// the version and hardware gates, help, About and the start-up error report.
//
// It owns the program's shared objects (log, loader host, port object) and
// speaks to the user only through MainWindowUi. Event handlers carry the
// names of the window's components (btnStartClick, cbCommPortDropDown ...);
// the window layer calls them, and calls OnTimer when a one-shot timer armed
// through the interface fires. Single-threaded: everything runs on the
// user-interface thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/main_window_ui.h"
#include "app/paths.h"
#include "catalogue/catalogue.h"
#include "instrument/tarsa_protocol.h"
#include "loader/bsl_host.h"
#include "log/tarsa_log.h"
#include "serial/serial_port.h"
#include "web/feedback_form.h"
#include "web/settings_store.h"

namespace tarsa::app {

// One entry of the port table: the name the update opens and the text shown.
struct PortEntry {
    std::string portName;
    std::string friendlyName;
};
inline constexpr int kPortTableCapacity = 16;

// Fills `ports` (at most kPortTableCapacity) and returns the count, or a
// negative code (counted as no ports).
using PortLister =
    std::function<int(TarsaSerial& port, std::vector<PortEntry>& ports, bool forceFindAll)>;

// Compile-time facts of one build.
struct BuildConfig {
    int targetType = 3;              // catalogue type code of the build target
    bool digitalSensor = false;      // the build updates an SDI-12 sensor through a reader
    int32_t defaultSensorType = 93;  // digital-sensor builds: the sensor selected at start-up
    std::string programVersion;      // shown in the About box
    // After the firmware check, send "set -act 30" (no Talox build does).
    bool resetActuator = false;
};

// The configuration of a program: the Talox build, or the digital-sensor
// variant, which starts with the program's own sensor type selected.
BuildConfig ProgramBuildConfig(const std::string& programVersion, bool digitalSensorVariant);

// What the process gives the window at start-up.
struct Environment {
    std::vector<std::string> arguments;  // after the program name
    std::string dataFolder;              // empty: the user's data folder
    std::string programFolder = ".";     // fallback for the data folder
    // The feedback window's persisted contact details; null: kept in memory.
    SettingsStore* feedbackStore = nullptr;
    // The start-up ask of the version service (the window does it; a
    // terminal run leaves it off and checks on request only).
    bool quietVersionCheck = false;
};

inline constexpr const char* kHostTag = "TarsaBSL Host";
inline constexpr const char* kMainTag = "TarsaBSL frmMain";
inline constexpr const char* kErrorOkTag = "ErrorOK Told User:";
inline constexpr float kCompiledInIncrement = 35328.0f / 113780.0f;

class MainWindow {
  public:
    MainWindow(MainWindowUi& ui, SettingsStore& store, BuildConfig config, PortLister lister);
    ~MainWindow();
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // Start-up (the window is first shown).
    void FormShow(const Environment& environment);
    // A one-shot timer fired.
    void OnTimer(Timer timer);

    // Selects the port the next update opens by its name. A port the list
    // does not show (a pseudo-terminal, a /dev/serial/by-id path named on the
    // command line) is put first in the list under `friendlyName` (the name
    // itself when empty) and stays there when the list is enumerated again.
    void SelectPort(const std::string& portName, const std::string& friendlyName = {});
    // The result of the last update run by the start timer (0 before any).
    int LastResult() const { return lastResult_; }

    void cbCommPortDropDown();
    void cbCommPortChange();
    void ForceFindAllCommPortsClick();
    void VerboseErrorFileClick();
    void DontEraseDataClick();
    void ReplaceSerialNumberClick();
    void btnStartClick();
    void UpdateFirmware1Click() { btnStartClick(); }
    // The close request ("&Exit", the title-bar box): refuses while busy.
    // Returns true when the window closes.
    bool RequestClose();
    // The window closes: writes the persisted settings.
    void FormClose();

    // The "Set Digital Sensor to:" menu (digital-sensor builds): the target
    // sensor type of the next run (a type or a family request), its entry
    // checked, its version document and the display name it gives.
    void SelectTargetSensor(int32_t value);
    int32_t TargetSensorType() const { return targetSensorType_; }
    // Index in kSensorMenu (app/sensor_workflow.h) of the checked entry, -1: none.
    int CheckedSensorEntry() const { return checkedSensorEntry_; }

    void OpenFirmwareFile1Click();
    // Loads `path` as the firmware image and retargets the window; used by
    // the open dialog and by the command line. Returns BSLLoadTIFile's result.
    int OpenFirmwareFile(const std::string& path);
    void DumpFirmwareImage1Click();
    int DumpFirmwareImage(const std::string& path);
    void Help2Click();
    void About1Click();
    // "Send Feedback to Halvern...": hands the window's texts and the log to
    // the feedback window and shows it (after the reachability check).
    // Returns true when the window was shown.
    bool SendFeedbackClick();
    // The feedback texts the menu item hands over.
    WEB_FORM_INFO_TYPE FeedbackInfo() const;
    // "Check for Newer Firmware Version" (quiet = false) and the start-up
    // check of the web-check timer (quiet = true).
    void CheckNewerVersion(bool quiet);
    void CheckForNewerFirmwareVersion1Click() { CheckNewerVersion(false); }
    // The feedback and version-check window's record, created hidden at
    // start-up. Until a window attaches its own FeedbackWindowUi (by setting
    // Web().ui) its messages go through this window's dialogs.
    TfrmWeb& Web() { return *web_; }
    // The open and save dialogs as they are run.
    FileDialog OpenFirmwareDialog() const;
    FileDialog DumpImageDialog() const;
    std::string HelpText() const;
    std::string AboutText() const;

    // Messages: shows the dialog, then logs the text at level 1.
    void ErrorOK(const std::string& text, const std::string& caption, MessageKind kind);
    bool AskOkCancel(const std::string& text, const std::string& caption);

    // Gates around an update.
    bool CheckFirmwareWindow(const InstrumentIdentity& identity);
    bool CheckHardwareRevision();
    void ShowCalibrationReminder(int type);

    // Called by the loader host during erase ('X') and upload ('W').
    bool ProgressHook(uint32_t total, uint32_t done, int phase, char operation);

    // Replaces the start-up version check of the web-check timer (tests);
    // empty: CheckNewerVersion(true) when the environment asked for it.
    std::function<void(bool quiet)> versionCheck;
    // The update run by the start timer; returns its result code. Start-up
    // installs the instrument update, or the sensor update in a
    // digital-sensor build; tests may replace it.
    std::function<int()> runUpdate;

    // State, read by the workflows and by tests.
    const std::string& WindowCaption() const { return caption_; }
    const std::string& DisplayName() const { return displayName_; }
    const std::string& SelectedPortName() const { return selectedPortName_; }
    const std::string& SelectedFriendlyName() const;
    const std::string& DataFolderPath() const { return dataFolder_; }
    const std::string& LogFilePath() const { return logPath_; }
    const std::string& SettingsFilePath() const { return settingsPath_; }
    void RebuildSettingsFilePath();
    bool FactoryMode() const { return factory_; }
    bool RepMode() const { return rep_; }
    bool ForceFindAll() const { return forceFindAll_; }
    bool DontErase() const { return dontEraseData_; }
    bool ReplaceSerial() const { return replaceSerial_; }
    bool Busy() const { return busy_; }
    void SetBusy(bool busy) { busy_ = busy; }
    bool KeepGoing() const { return keepGoing_; }
    void SetKeepGoing(bool keepGoing) { keepGoing_ = keepGoing; }
    uint32_t ImageVersion() const { return imageVersion_; }
    const std::string& VersionFinderPath() const { return versionFinderPath_; }
    void SetVersionFinderPath(std::string path) { versionFinderPath_ = std::move(path); }
    void SetDisplayName(std::string name) { displayName_ = std::move(name); }
    int Progress() const { return progress_; }
    void SetProgress(int position);
    void StepProgress(int steps);
    float& ProgressAccumulator() { return accumulator_; }
    const BuildConfig& Config() const { return config_; }
    MainWindowUi& Ui() { return ui_; }
    TarsaLog* Log() { return log_.get(); }
    TarsaBSLHost& Host() { return *host_; }
    Tarsa_protocol& Protocol() { return *protocol_; }
    InstrumentIdentity& Identity() { return identity_; }
    const std::vector<PortEntry>& Ports() const { return ports_; }

    // Lets the update workflow probe the hardware revision (returns the
    // revision character, or 0 when it could not be read). Empty: no probe.
    std::function<char()> readHardwareRevision;
    // Which form of the hardware-revision check this build carries: 0 none
    // (the build passes at once), 1 requires 'C', 2 refuses 'C'.
    int hardwareRevisionForm = 0;

  private:
    void FillPortList();
    void ShowPorts();
    void SetStartEnabled(bool enabled);

    MainWindowUi& ui_;
    SettingsStore& store_;
    BuildConfig config_;
    PortLister lister_;

    std::unique_ptr<TarsaLog> log_;
    std::unique_ptr<Tarsa_protocol> protocol_;
    std::unique_ptr<TarsaBSLHost> host_;
    TarsaSerial enumPort_;
    std::unique_ptr<FeedbackWindowUi> webFallbackUi_;
    std::unique_ptr<SettingsStore> webFallbackStore_;
    std::unique_ptr<TfrmWeb> web_;
    InstrumentIdentity identity_{};

    std::string caption_;
    std::string displayName_;
    std::string versionFinderPath_;
    bool factory_ = false;
    bool rep_ = false;
    bool forceFindAll_ = false;
    bool verbose_ = true;
    bool replaceSerial_ = false;
    bool dontEraseData_ = false;
    bool busy_ = false;
    bool keepGoing_ = true;
    std::vector<PortEntry> ports_;
    std::vector<PortEntry> pinnedPorts_;  // named by SelectPort, shown first
    std::string programFolder_ = ".";
    std::string versionLabel_;  // the text of userText2
    bool quietVersionCheck_ = false;
    int selectedIndex_ = 0;
    std::string selectedPortName_;
    std::string dataFolder_;
    std::string logPath_;
    std::string settingsPath_;
    int progress_ = 0;
    int progressStep_ = 1;
    float progressIncrement_ = kCompiledInIncrement;
    float accumulator_ = 0.0f;
    uint32_t imageVersion_ = 229;
    int lastResult_ = 0;
    int32_t targetSensorType_ = 0;
    int checkedSensorEntry_ = -1;
};

}  // namespace tarsa::app
