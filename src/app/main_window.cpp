#include "app/main_window.h"

#include <unistd.h>

#include <climits>
#include <cstdio>
#include <map>

#include "app/sensor_workflow.h"
#include "app/update_workflow.h"
#include "app/window_definition.h"
#include "loader/ti_txt.h"
#include "web/version_check.h"
#include "web/web_config.h"

namespace tarsa::app {
namespace {

constexpr const char* kNoPorts = "No Comm Ports Found";

std::string FileNameOf(const std::string& path) {
    size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The maker's contact block of the help text.
constexpr const char* kContactBlock =
    "Corvane Devices, Inc.\n"
    "1200 Harbor Road\n"
    "Port Talley, OR 97000 USA\n"
    "Telephone: +1 555 0100\n"
    "Telephone: +1 555 0101\n"
    "Fax: +1 555 0102\n"
    "support@corvane.example\n"
    "https://www.corvane.example";

constexpr const char* kCopyright = " Corvane Devices, Inc. All rights reserved.";

// The feedback window's dialogs on this window's own, for front ends that
// have no feedback window of their own (the terminal) and until the window
// attaches: messages and questions go through MainWindowUi, nothing is drawn.
class WebUiOverMainWindow : public FeedbackWindowUi {
  public:
    explicit WebUiOverMainWindow(MainWindowUi& ui) : ui_(ui) {}
    bool WebMessage(const std::string& text, const std::string& caption, bool ask,
                    int kind) override {
        if (ask) return ui_.AskOkCancel(text, caption);
        ui_.ShowMessage(text, caption, static_cast<MessageKind>(kind));
        return false;
    }
    bool OpenUrl(const std::string&) override { return false; }  // reported with the address
    void PumpMessages() override { ui_.PumpMessages(); }
    void ShowWindow() override { visible_ = true; }
    void HideWindow() override { visible_ = false; }
    void CloseWindow() override { visible_ = false; }
    bool WindowVisible() override { return visible_; }
    void SetFocus(WebControl) override {}
    void SetSendEnabled(bool) override {}
    void SetBusyCursor(bool busy) override { ui_.SetBusyCursor(busy); }
    void ShowProgress(uint64_t) override {}
    void SetProgress(uint64_t) override {}
    void HideProgress() override {}
    std::string ChooseFile(const std::string&, const std::string&, const std::string&) override {
        return {};
    }

  private:
    MainWindowUi& ui_;
    bool visible_ = false;
};

class MemoryStore : public SettingsStore {
  public:
    std::string Read(const std::string& key) override { return values_[key]; }
    bool Write(const std::string& key, const std::string& value) override {
        values_[key] = value;
        return true;
    }

  private:
    std::map<std::string, std::string> values_;
};

std::string CurrentFolder() {
    char buffer[PATH_MAX];
    return getcwd(buffer, sizeof buffer) ? std::string(buffer) : std::string(".");
}

}  // namespace

BuildConfig ProgramBuildConfig(const std::string& programVersion, bool digitalSensorVariant) {
    BuildConfig config;
    config.programVersion = programVersion;
    if (digitalSensorVariant) {
        config.targetType = kTypeDigitalSensor;
        config.digitalSensor = true;
        config.defaultSensorType = kProgramSensorType;
    }
    return config;
}

MainWindow::MainWindow(MainWindowUi& ui, SettingsStore& store, BuildConfig config,
                       PortLister lister)
    : ui_(ui), store_(store), config_(std::move(config)), lister_(std::move(lister)) {}

MainWindow::~MainWindow() = default;

const std::string& MainWindow::SelectedFriendlyName() const {
    static const std::string kNone;
    if (selectedIndex_ >= 0 && selectedIndex_ < static_cast<int>(ports_.size())) {
        return ports_[static_cast<size_t>(selectedIndex_)].friendlyName;
    }
    return kNone;
}

void MainWindow::FormShow(const Environment& environment) {
    // The target and every text derived from it.
    versionFinderPath_ = InstrumentVersionFinderPath(config_.targetType);
    displayName_ = InstrumentDisplayName(config_.targetType);
    std::string commNoun = displayName_;
    std::string connectNoun = displayName_;
    if (config_.digitalSensor) {
        // The sensor chosen at start-up names the target from here on.
        SelectTargetSensor(config_.defaultSensorType);
        commNoun = "Handra and Digital Sensor";
        connectNoun = "Handra";
        versionFinderPath_ = "/versionfinder/Handra-C-Firmware.txt";
    }
    caption_ = displayName_ + " Firmware Updater";
    ui_.SetWindowCaption(caption_);
    ui_.SetApplicationTitle(displayName_ + " Updater");
    ui_.SetMenuCaption(MenuItem::About, "About " + displayName_ + " Firmware Updater");

    // Options: exact, case-sensitive words; anything else is ignored.
    for (const std::string& arg : environment.arguments) {
        if (arg == "-factory") {
            factory_ = true;
            rep_ = true;
        } else if (arg == "-rep") {
            rep_ = true;
        }
    }
    if (rep_) ui_.SetMenuEnabled(MenuItem::OpenFirmwareFile, true);
    if (factory_) {
        ui_.SetMenuVisible(MenuItem::ReplaceSerialNumber, true);
        ui_.SetMenuVisible(MenuItem::DontEraseData, true);
        if (config_.digitalSensor) ui_.SetMenuVisible(MenuItem::DigitalSensorSection, true);
    }
    ui_.SetMenuVisible(MenuItem::DontEraseData, true);

    // Persisted settings.
    // A missing value reads as empty text: not forced, and no saved port.
    forceFindAll_ = store_.Read("FindAllComms") == "1";
    ui_.SetMenuChecked(MenuItem::ForceFindAllCommPorts, forceFindAll_);
    verbose_ = true;
    ui_.SetMenuChecked(MenuItem::VerboseErrorFile, true);
    std::string savedPort = store_.Read("CommPort");
    bool portSaved = !savedPort.empty();

    // Files.
    dataFolder_ = environment.dataFolder.empty() ? DataFolder(environment.programFolder)
                                                 : environment.dataFolder;
    if (!environment.dataFolder.empty() && !MakeFolders(dataFolder_)) {
        dataFolder_ = environment.programFolder;
    }
    logPath_ = dataFolder_ + FolderSeparator() + caption_ + ".errors.txt";
    log_ = std::make_unique<TarsaLog>(logPath_.c_str(), verbose_ ? kLogDetail : kLogOutcome, false);
    protocol_ = std::make_unique<Tarsa_protocol>(log_.get());
    host_ = std::make_unique<TarsaBSLHost>(log_.get());
    if (!runUpdate && config_.digitalSensor) {
        runUpdate = [this] { return SensorUpdate(*this, *protocol_).timerStartTimer(); };
    } else if (!runUpdate) {
        runUpdate = [this] { return InstrumentUpdate(*this, *protocol_).timerStartTimer(); };
    }
    host_->progressHook = [this](uint32_t total, uint32_t done, int phase, char op) {
        return ProgressHook(total, done, phase, op);
    };
    enumPort_.log = log_.get();
    RebuildSettingsFilePath();

    // The feedback and version-check window, hidden until asked for.
    programFolder_ = environment.programFolder;
    quietVersionCheck_ = environment.quietVersionCheck;
    webFallbackUi_ = std::make_unique<WebUiOverMainWindow>(ui_);
    SettingsStore* feedbackStore = environment.feedbackStore;
    if (!feedbackStore) {
        webFallbackStore_ = std::make_unique<MemoryStore>();
        feedbackStore = webFallbackStore_.get();
    }
    web_ = std::make_unique<TfrmWeb>(*webFallbackUi_, *feedbackStore, log_.get());
    web_->applicationTitle = displayName_ + " Updater";

    // Ports.
    FillPortList();
    selectedIndex_ = 0;
    if (portSaved) {
        for (size_t i = 0; i < ports_.size(); ++i) {
            if (ports_[i].portName == savedPort) {
                selectedIndex_ = static_cast<int>(i);
                break;
            }
        }
    }
    ui_.SetPortIndex(selectedIndex_);
    if (!ports_.empty()) {
        selectedPortName_ = ports_[static_cast<size_t>(selectedIndex_)].portName;
    } else {
        ui_.AppendPort(kNoPorts);
        selectedPortName_.clear();
        SetStartEnabled(false);
    }

    versionLabel_ = host_->image.label;
    ui_.SetLabel(Label::UserText2, versionLabel_);
    ui_.SetLabel(Label::UserText1, "This utility updates " + displayName_ + " firmware to");
    ui_.SetLabel(Label::CommLabel, "Connect to " + commNoun + " with Comm Port");
    ui_.SetLabel(Label::LblConnect, "Connect " + connectNoun + " to computer comm port.");
    progressStep_ = 1;
    progressIncrement_ = kCompiledInIncrement;
    imageVersion_ = 229;
    if (config_.digitalSensor) {
        // The sensor image's label ends in its version ("Skyra61 3.60"), read
        // as a firmware file's name is; the increment follows its length.
        imageVersion_ = static_cast<uint32_t>(IdentityFromFileName(host_->image.label).version);
        progressIncrement_ =
            host_->image.length > 0 ? 35328.0f / static_cast<float>(host_->image.length) : 0.0f;
    }

    InstrumentIdentity target{};
    SetInstrumentIdentity(config_.targetType, 999, &target);
    if (target.eraseData && !rep_ && !factory_) {
        ui_.StartTimer(Timer::EraseWarn, 500);
    } else {
        ui_.StartTimer(Timer::WebCheck, 500);
    }
    if (host_->constructorError < 0) ui_.StartTimer(Timer::ConstructorErrors, 100);
}

void MainWindow::RebuildSettingsFilePath() {
    settingsPath_ = dataFolder_ + FolderSeparator() + displayName_ + ".settings.txt";
}

void MainWindow::FillPortList() {
    std::vector<PortEntry> found;
    int count = lister_ ? lister_(enumPort_, found, forceFindAll_) : 0;
    if (count <= 0) found.clear();
    ports_ = pinnedPorts_;
    for (PortEntry& entry : found) {
        bool pinned = false;
        for (const PortEntry& p : pinnedPorts_) pinned = pinned || p.portName == entry.portName;
        if (!pinned) ports_.push_back(std::move(entry));
    }
    if (ports_.size() > static_cast<size_t>(kPortTableCapacity)) ports_.resize(kPortTableCapacity);
    ShowPorts();
}

void MainWindow::ShowPorts() {
    ui_.ClearPortList();
    for (const PortEntry& entry : ports_) ui_.AppendPort(entry.friendlyName);
}

void MainWindow::SetStartEnabled(bool enabled) {
    ui_.SetButtonEnabled(Button::Start, enabled);
}

void MainWindow::OnTimer(Timer timer) {
    ui_.StopTimer(timer);
    switch (timer) {
        case Timer::Start:
            if (runUpdate) lastResult_ = runUpdate();
            break;
        case Timer::EraseWarn:
            ErrorOK("WARNING: The " + caption_ +
                        " will erase all measurement data\n stored in your " + displayName_ +
                        ".\n\n Please download any data you want to save before continuing.",
                    "Data Erase Warning", MessageKind::Warning);
            ui_.StartTimer(Timer::WebCheck, 500);
            break;
        case Timer::WebCheck:
            if (versionCheck) {
                versionCheck(true);
            } else if (quietVersionCheck_) {
                CheckNewerVersion(true);
            }
            break;
        case Timer::ConstructorErrors: {
            int c = host_->constructorError;
            std::string text;
            if (c == kBSLNoMemory) {
                text = "The " + caption_ +
                       " ran out of memory while allocating internal buffers.\n\n"
                       "Please restart this application and try again.";
            } else if (c == kBSLImageDamaged) {
                text = "The internal firware file for this " + caption_ +
                       " is corrupt.\n\nPlease restart this application and try again.";
            } else {
                text = "The " + caption_ +
                       " got an unexpected error starting up.\n[Error: " + std::to_string(c) +
                       "]\n\nPlease restart this application and try again.";
            }
            ErrorOK(text, "Application Launch Error", MessageKind::Error);
            if (log_)
                log_->Write(kLogOutcome, kMainTag, "HostBSL class got an constructor error (%d)",
                            c);
            ui_.CloseWindow();
            break;
        }
    }
}

void MainWindow::SelectPort(const std::string& portName, const std::string& friendlyName) {
    size_t index = 0;
    while (index < ports_.size() && ports_[index].portName != portName) ++index;
    if (index == ports_.size()) {
        PortEntry entry{portName, friendlyName.empty() ? portName : friendlyName};
        pinnedPorts_.insert(pinnedPorts_.begin(), entry);
        if (pinnedPorts_.size() > static_cast<size_t>(kPortTableCapacity)) pinnedPorts_.pop_back();
        ports_.insert(ports_.begin(), entry);
        if (ports_.size() > static_cast<size_t>(kPortTableCapacity)) ports_.pop_back();
        ShowPorts();  // also drops the "No Comm Ports Found" line
        index = 0;
    }
    selectedIndex_ = static_cast<int>(index);
    selectedPortName_ = portName;
    ui_.SetPortIndex(selectedIndex_);
    SetStartEnabled(true);
}

void MainWindow::cbCommPortDropDown() {
    FillPortList();
    if (ports_.empty()) {
        ui_.AppendPort(kNoPorts);
        ui_.SetPortIndex(0);
        return;
    }
    ui_.SetPortIndex(selectedIndex_ < static_cast<int>(ports_.size()) ? selectedIndex_ : 0);
}

void MainWindow::cbCommPortChange() {
    selectedIndex_ = ui_.PortIndex();
    if (selectedIndex_ >= 0 && selectedIndex_ < static_cast<int>(ports_.size())) {
        selectedPortName_ = ports_[static_cast<size_t>(selectedIndex_)].portName;
    } else {
        selectedPortName_.clear();
    }
    if (!selectedPortName_.empty()) SetStartEnabled(true);
}

void MainWindow::ForceFindAllCommPortsClick() {
    forceFindAll_ = !forceFindAll_;
    ui_.SetMenuChecked(MenuItem::ForceFindAllCommPorts, forceFindAll_);
}

void MainWindow::VerboseErrorFileClick() {
    verbose_ = !verbose_;
    ui_.SetMenuChecked(MenuItem::VerboseErrorFile, verbose_);
    if (log_) log_->SetLevel(verbose_ ? kLogDetail : kLogOutcome);
}

void MainWindow::DontEraseDataClick() {
    dontEraseData_ = !dontEraseData_;
    ui_.SetMenuChecked(MenuItem::DontEraseData, dontEraseData_);
}

void MainWindow::ReplaceSerialNumberClick() {
    replaceSerial_ = !replaceSerial_;
    ui_.SetMenuChecked(MenuItem::ReplaceSerialNumber, replaceSerial_);
    ui_.SetSerialEditVisible(replaceSerial_);
    ui_.SetLabelVisible(Label::NewSN, replaceSerial_);
    if (replaceSerial_) ui_.FocusSerialEdit();
}

void MainWindow::btnStartClick() {
    ui_.SetButtonEnabled(Button::Start, false);
    ui_.SetButtonEnabled(Button::Close, false);
    ui_.SetMenuEnabled(MenuItem::UpdateFirmware, false);
    ui_.StartTimer(Timer::Start, 100);
}

bool MainWindow::RequestClose() {
    if (busy_) {
        ui_.WarningBox("The " + caption_ + " is updating your " + displayName_ +
                           "!\nThis process should NOT be interrupted.\n\n" + "Your " +
                           displayName_ + " may be unusable or have missing settings\n" +
                           "until you complete the firmware update process.\n\n" +
                           "Click OK to continue updating your" + displayName_ + ".\n",
                       "Don't Quit Now!");
        return false;
    }
    keepGoing_ = false;
    ui_.CloseWindow();
    return true;
}

void MainWindow::FormClose() {
    bool saved = store_.Write("FindAllComms", forceFindAll_ ? "1" : "0");
    saved = store_.Write("VerboseLog", verbose_ ? "1" : "0") && saved;
    saved = store_.Write("CommPort", selectedPortName_) && saved;
    if (!saved && log_) {
        log_->Write(kLogOutcome, kMainTag, "Could not save the window settings");
    }
}

void MainWindow::ErrorOK(const std::string& text, const std::string& caption, MessageKind kind) {
    ui_.ShowMessage(text, caption, kind);
    if (log_) log_->Write(kLogOutcome, kErrorOkTag, "%s", text.c_str());
}

bool MainWindow::AskOkCancel(const std::string& text, const std::string& caption) {
    return ui_.AskOkCancel(text, caption);
}

void MainWindow::SetProgress(int position) {
    progress_ = position < 0 ? 0 : position > 100 ? 100 : position;
    ui_.SetProgress(progress_);
}

void MainWindow::StepProgress(int steps) {
    SetProgress(progress_ + steps);
}

bool MainWindow::ProgressHook(uint32_t, uint32_t, int, char operation) {
    if (operation == 'X') {
        StepProgress(progressStep_);
    } else if (operation == 'W') {
        accumulator_ += progressIncrement_;
        SetProgress(static_cast<int>(accumulator_ + 0.5f));
    }
    ui_.PumpMessages();
    return keepGoing_;
}

void MainWindow::SelectTargetSensor(int32_t value) {
    for (size_t i = 0; i < kSensorMenu.size(); ++i)
        ui_.SetSensorEntryChecked(static_cast<int>(i), false);
    targetSensorType_ = value;
    checkedSensorEntry_ = SensorMenuEntryOf(value);
    if (checkedSensorEntry_ >= 0) {
        ui_.SetSensorEntryChecked(checkedSensorEntry_, true);
        versionFinderPath_ =
            kSensorMenu[static_cast<size_t>(checkedSensorEntry_)].versionFinderPath;
    } else if (value == kSkyra34) {
        versionFinderPath_ = kSkyra34VersionFinderPath;
    }
    displayName_ = SensorName(static_cast<uint32_t>(value));
    ui_.SetLabel(Label::UserText1, "This utility updates " + displayName_ + " firmware to");
}

FileDialog MainWindow::OpenFirmwareDialog() const {
    return {kOpenFirmwareTitle, kFirmwareExtension, kOpenFirmwareFilter, CurrentFolder(), true};
}

FileDialog MainWindow::DumpImageDialog() const {
    return {kSaveImageTitle, kFirmwareExtension, "", "", false};
}

void MainWindow::OpenFirmwareFile1Click() {
    std::string path;
    if (!ui_.ChooseFirmwareFile(OpenFirmwareDialog(), path)) return;
    OpenFirmwareFile(path);
}

int MainWindow::OpenFirmwareFile(const std::string& path) {
    std::string fileName = FileNameOf(path);
    int r = BSLLoadTIFile(*host_, path.c_str());
    if (r < 0) {
        std::string text;
        if (r == -100) {
            text = "The file \"" + fileName + "\" is not a valid firmware file.\n" +
                   "Please choose a new firmware file to open.";
        } else if (r == -60) {
            text = "The " + caption_ + " ran out of memory opening \"" + fileName + "\".\n" +
                   "Please restart this application and try again.";
        } else {
            text = "The " + caption_ + " could not opening \"" + fileName + "\".\n" +
                   "Please try again.\nError " + std::to_string(r);
        }
        ErrorOK(text, "File Error", MessageKind::Error);
        return r;
    }
    if (host_->image.typeCode == 0)
        host_->image.typeCode = static_cast<uint8_t>(config_.targetType);
    versionLabel_ = host_->image.label;
    ui_.SetLabel(Label::UserText2, versionLabel_);
    std::string name = InstrumentDisplayName(host_->image.typeCode);
    // Sensor firmware in a digital-sensor build keeps the chosen sensor as the
    // target, and the reader as what to connect.
    const bool sensorImage =
        config_.digitalSensor && host_->image.typeCode == static_cast<uint8_t>(config_.targetType);
    if (sensorImage) name = displayName_;
    ui_.SetLabel(Label::UserText1, "This utility updates " + name + " firmware to");
    if (!sensorImage) ui_.SetLabel(Label::CommLabel, "Connect to " + name + " with Comm Port");
    displayName_ = name;
    if (!sensorImage)
        ui_.SetLabel(Label::LblConnect, "Connect " + name + " to computer comm port.");
    imageVersion_ = static_cast<uint32_t>(host_->image.version);
    RebuildSettingsFilePath();
    progressStep_ = 1;
    progressIncrement_ =
        host_->image.length > 0 ? 35328.0f / static_cast<float>(host_->image.length) : 0.0f;
    ui_.BeepInformation();
    SetStartEnabled(true);
    ui_.SetMenuEnabled(MenuItem::UpdateFirmware, true);
    return r;
}

void MainWindow::DumpFirmwareImage1Click() {
    std::string path;
    if (!ui_.ChooseDumpFile(DumpImageDialog(), path)) return;
    DumpFirmwareImage(path);
}

int MainWindow::DumpFirmwareImage(const std::string& path) {
    int r = BSLWriteTIFile(*host_, path.c_str());
    if (r < 0)
        ErrorOK("Error saving firmware image: " + std::to_string(r), "Error", MessageKind::Warning);
    return r;
}

std::string MainWindow::HelpText() const {
    const std::string& n = displayName_;
    std::string text = "The " + caption_ + " replaces the firmware that operates your " + n + ".\n";
    text += "Following the simple steps will help ensure a successful update.\n\n";
    InstrumentIdentity target{};
    SetInstrumentIdentity(config_.targetType, 999, &target);
    if (target.eraseData) {
        text += "WARNING: Updating the firmware in your " + n +
                " will erase any stored measurement data.\n" +
                "Please download any measurement data stored in your" + n +
                " that you want to save.\n\n";
    }
    text += "Before beginning these steps, please make sure your instrument is powered on.\n\n";
    if (config_.digitalSensor) {
        text += "Step 1. Connect your Handra and " + n +
                " to an available serial communication port \non your computer.\n\n";
    } else {
        text += "Step 1. Connect your " + n +
                " to an available serial communication port on your computer.\n\n";
    }
    text += "Step 2. Select the correct serial port from the Comm Port control.\n\n";
    text +=
        "Step 3. Click the \"Start\" button. The updater shows progress in the Status area.\n\n";
    text += "WARNING: Do not disconnect your " + n +
            " from the computer while the updater is running.\n" +
            "An incomplete firmware update could leave your " + n + " unusable.\n\n";
    text += "WARNING: Do not quit the " + n + " Firmware Updater while the updater is running.\n" +
            "An incomplete firmware update could leave your " + n + " unusable.\n\n";
    text += "Step 4. Once the update is complete, you can disconnect your " + n +
            " from the computer.\n" + "Please verify your " + n + " configuration is correct. " +
            "Enjoy using the updated firmware version.\n\n";
    text += "If you have trouble with this " + n +
            " Firmware Updater, Please contact Halvern or\n" +
            "an authorized Halvern Group Distributor for help:\n\n";
    text += kContactBlock;
    return text;
}

std::string MainWindow::AboutText() const {
    // U+00A9 as UTF-8: the copyright sign.
    return "Firmware Updater for Windows\n\nTarsaBSL Engine version " + config_.programVersion +
           "\nCommunication Protocol version 1.8.4\n\n\xC2\xA9" + kCopyright;
}

void MainWindow::Help2Click() {
    ErrorOK(HelpText(), "Help", MessageKind::Plain);
}

void MainWindow::About1Click() {
    ErrorOK(AboutText(), "About " + displayName_ + " Firmware Updater", MessageKind::Information);
}

WEB_FORM_INFO_TYPE MainWindow::FeedbackInfo() const {
    WEB_FORM_INFO_TYPE info;
    info.programTitle = caption_;
    info.programVersion = versionLabel_;
    info.defaultEmailTo = SupportEmail();
    info.attachment1 = logPath_;
    info.browseFolder = programFolder_;
    return info;
}

bool MainWindow::SendFeedbackClick() {
    return LaunchFeedback(*web_, FeedbackInfo(), log_.get(), caption_);
}

void MainWindow::CheckNewerVersion(bool quiet) {
    CheckVersion(*web_, static_cast<int>(imageVersion_), versionFinderPath_, quiet,
                 displayName_ + " Firmware Updater");
}

bool MainWindow::CheckFirmwareWindow(const InstrumentIdentity& identity) {
    if (!identity.hasVersionWindow) return true;
    std::string bound;
    std::string ending;
    if (identity.version > identity.maxVersion) {
        bound = FormatVersionNumber(identity.maxVersion);
        ending = " (or older).";
    } else if (identity.version >= identity.minVersion) {
        return true;
    } else {
        bound = FormatVersionNumber(identity.minVersion);
        ending = " (or newer).";
    }
    std::string text = "The " + caption_ + " doesn't support this " + displayName_ +
                       "\nrunning version " + FormatVersionNumber(identity.version) +
                       ".\n\nThis updater only works with firmware version " + bound + ending;
    if (rep_ || factory_) {
        text += "\n\nClick OK to force the update anyway.";
        text += "\nClick CANCEL to quit the updater.";
        return AskOkCancel(text, "Wrong Firmware Version");
    }
    ErrorOK(text, "Wrong Firmware Version", MessageKind::Error);
    return false;
}

bool MainWindow::CheckHardwareRevision() {
    if (hardwareRevisionForm == 0) return true;
    char revision = readHardwareRevision ? readHardwareRevision() : '\0';
    bool pass = hardwareRevisionForm == 1 ? revision == 'C' : revision != 'C';
    if (pass) return true;
    std::string required = hardwareRevisionForm == 1 ? "C" : "A' or 'B";
    std::string shown(1, revision);
    ErrorOK("The hardware revision of the connected " + displayName_ + " is '" + shown + "'" +
                ".\n\nThis updater only works with " + displayName_ + " hardware revision '" +
                required + "'.",
            "Wrong Hardware Revision", MessageKind::Error);
    return false;
}

void MainWindow::ShowCalibrationReminder(int type) {
    switch (type) {
        case 7:
            ErrorOK(
                "The calibration of your Thermik is outdated or missing.\n\n"
                "Please contact Corvane or your authorized Corvane representative\n"
                "to have your Thermik calibrated.",
                "Thermik Calibration", MessageKind::Warning);
            break;
        case 8:
            ErrorOK(
                "Updating the firmware in your Solux R-40 requires you to calibrate\n"
                "the internal sensors using the external sensor as a reference.\n\n"
                "Please see your R-40 user manual for probe calibration instructions.\n\n"
                "Please also reset the Daylight Savings setting in your Solux R-40.",
                "Please Calibrate Your R-40", MessageKind::Warning);
            break;
        case 9:
            ErrorOK(
                "Updating the firmware in your Vennet requires you to calibrate\n"
                "the the sensor head using the Corvane-supplied calibration plate.\n\n"
                "Please see the Vennet user manual (version 7 or newer) for\n"
                "calibration instructions. The latest user manual is available for "
                "download from:\n"
                "https://www.corvane.example/support/literature",
                "Please Calibrate Your Venetra", MessageKind::Warning);
            break;
        default:
            break;
    }
}

}  // namespace tarsa::app
