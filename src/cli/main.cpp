// tarsa-update: the firmware updater on a command line, for scripts and
// factory use. It runs the same window logic as the graphical program behind
// a terminal user interface; cli/options.cpp holds the commands. Exit status: 0
// success, 1 the job failed or was cancelled (the message has been printed),
// 2 usage error.
#include <cstdio>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/check_only.h"
#include "app/main_window.h"
#include "app/paths.h"
#include "app/settings_transfer.h"
#include "cli/cli_platform.h"
#include "cli/json_events.h"
#include "cli/multi_port.h"
#include "cli/options.h"
#include "cli/terminal_ui.h"
#include "cli/web_commands.h"
#include "serial/port_enum.h"
#include "serial/serial_port.h"
#include "serial/timing.h"
#include "web/system_info.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// The digital-sensor variant (TARSA_DIGITAL_SENSOR) updates an SDI-12 sensor
// through a reader; its --simulate plays a Handra with a Skyra 61 on its bus.
constexpr bool kSensorVariant = TARSA_DIGITAL_SENSOR_BUILD != 0;

using tarsa::cli::Options;

int ListPorts() {
    tarsa::TarsaSerial port;
    tarsa::CommPortEntry entries[tarsa::kCommPortCapacity];
    size_t count = tarsa::kCommPortCapacity;
    int rc = tarsa::CommPortEnum(port, entries, &count, false);
    if (rc < 0) {
        fprintf(stderr, "tarsa-update: could not list the serial ports (error %d)\n", rc);
        return kExitFailed;
    }
    for (size_t i = 0; i < count; ++i) printf("%s\t%s\n", entries[i].name, entries[i].description);
    return kExitOk;
}

int ListForWindow(tarsa::TarsaSerial& port, std::vector<tarsa::app::PortEntry>& out, bool force) {
    tarsa::CommPortEntry entries[tarsa::kCommPortCapacity];
    size_t count = tarsa::kCommPortCapacity;
    int rc = tarsa::CommPortEnum(port, entries, &count, force);
    if (rc < 0) return rc;
    for (size_t i = 0; i < count; ++i) out.push_back({entries[i].name, entries[i].description});
    return static_cast<int>(count);
}

// The window logic behind a terminal, with the options applied.
class Session {
  public:
    explicit Session(const Options& o)
        : ui_(o.json ? std::make_unique<tarsa::cli::JsonUi>(stdout, o.port, o.yes)
                     : std::make_unique<tarsa::cli::TerminalUi>(stdout, stderr, o.yes,
                                                                tarsa::cli::StdinIsTerminal(),
                                                                tarsa::cli::StdoutIsTerminal())),
          store_(tarsa::OpenUserSettings("TarsaBSL")),
          window_(*ui_, *store_, tarsa::app::ProgramBuildConfig(TARSA_VERSION, kSensorVariant),
                  ListForWindow) {
        if (o.json) Json()->Follow(window_);
        tarsa::app::Environment env;
        if (o.factory) env.arguments.push_back("-factory");
        if (o.rep) env.arguments.push_back("-rep");
        env.dataFolder = o.dataDir;
        window_.FormShow(env);
        if (o.verbose && window_.Log()) window_.Log()->SetLevel(tarsa::kLogBytes);
    }
    tarsa::cli::TerminalUi& Ui() { return *ui_; }
    // The events of a --json run; null otherwise.
    tarsa::cli::JsonUi* Json() { return dynamic_cast<tarsa::cli::JsonUi*>(ui_.get()); }
    tarsa::app::MainWindow& Window() { return window_; }
    // A damaged built-in image ends the program before anything else.
    bool Healthy() {
        if (window_.Host().constructorError >= 0) return true;
        window_.OnTimer(tarsa::app::Timer::ConstructorErrors);
        return false;
    }

  private:
    std::unique_ptr<tarsa::cli::TerminalUi> ui_;
    std::unique_ptr<tarsa::SettingsStore> store_;
    tarsa::app::MainWindow window_;
};

int DumpImage(const Options& o) {
    Session session(o);
    if (!session.Healthy()) return kExitFailed;
    if (!o.firmware.empty() && session.Window().OpenFirmwareFile(o.firmware) < 0)
        return kExitFailed;
    if (session.Window().DumpFirmwareImage(o.dumpPath) < 0) return kExitFailed;
    printf("Wrote %s (%s)\n", o.dumpPath.c_str(), session.Window().Host().image.label.c_str());
    return kExitOk;
}

// Ctrl-C during an update asks the window to close, which refuses while it
// is busy ("Don't Quit Now!"); a second Ctrl-C within 3 s ends the program,
// leaving the settings file for the recovery run.
class InterruptGuard {
  public:
    explicit InterruptGuard(tarsa::app::MainWindow& window) : window_(window) {
        tarsa::cli::CatchInterrupts(true);
        // Waits of the protocol layers sleep here and notice Ctrl-C at once.
        previousPump_ = tarsa::SetMessagePump([this](uint32_t maxWaitMs) {
            tarsa::cli::WaitForInterrupt(maxWaitMs);
            Check();
        });
    }
    ~InterruptGuard() {
        tarsa::SetMessagePump(std::move(previousPump_));
        tarsa::cli::CatchInterrupts(false);
    }
    void Check() {
        if (tarsa::cli::InterruptCount() == handled_) return;
        handled_ = tarsa::cli::InterruptCount();
        uint32_t now = tarsa::TickMs();
        if (handled_ > 1 && now - lastMs_ <= 3000) {
            fprintf(stderr,
                    "\ntarsa-update: stopped by the user; the settings file is kept for "
                    "the next run\n");
            std::_Exit(kExitFailed);
        }
        lastMs_ = now;
        if (window_.RequestClose()) std::_Exit(kExitFailed);  // idle: nothing to protect
    }

  private:
    tarsa::app::MainWindow& window_;
    tarsa::MessagePump previousPump_;
    int handled_ = 0;
    uint32_t lastMs_ = 0;
};

int RunSession(Session& session, const Options& o, const std::string& port) {
    tarsa::app::MainWindow& window = session.Window();
    tarsa::cli::TerminalUi& ui = session.Ui();
    if (!session.Healthy()) return kExitFailed;
    if (!o.firmware.empty() && window.OpenFirmwareFile(o.firmware) < 0) return kExitFailed;
    if (o.keepData) window.DontEraseDataClick();
    if (!o.newSerial.empty()) {
        window.ReplaceSerialNumberClick();
        ui.SetSerialEditText(o.newSerial);
    }
    window.SelectPort(port);
    auto fire = [&](tarsa::app::Timer timer) { window.OnTimer(timer); };
    ui.Run(fire);  // start-up: the data erase warning
    InterruptGuard guard(window);
    ui.onPump = [&] { guard.Check(); };
    window.btnStartClick();
    ui.Run(fire);
    ui.onPump = nullptr;
    if (window.LastResult() > 0) return kExitOk;
    // A port this user may not open: say so and name the fix.
    char path[tarsa::kPortNameSize + 8];
    tarsa::TSDevicePath(port.c_str(), path, sizeof path);
    tarsa::cli::ExplainPortAccess(path);
    return kExitFailed;
}

// --restore-settings and --backup-settings: the settings alone, through the
// same window logic as the update, without its start-up warnings.
int TransferSettings(const Options& o) {
    Session session(o);
    tarsa::app::MainWindow& window = session.Window();
    if (!session.Healthy()) return kExitFailed;
    if (!o.firmware.empty() && window.OpenFirmwareFile(o.firmware) < 0) return kExitFailed;
    if (!o.newSerial.empty()) {
        window.ReplaceSerialNumberClick();
        session.Ui().SetSerialEditText(o.newSerial);
    }
    window.SelectPort(o.port);
    InterruptGuard guard(window);
    session.Ui().onPump = [&] { guard.Check(); };
    const int rc = o.mode == "restore-settings"
                       ? tarsa::app::RestoreSettingsFromFile(window, o.settingsPath)
                       : tarsa::app::BackupSettingsToFile(window, o.settingsPath);
    session.Ui().onPump = nullptr;
    return rc < 0 ? kExitFailed : kExitOk;
}

// --check-only: the checks and the capture, then the device is let go.
int CheckOnly(Session& session, const Options& o, const std::string& port, std::string& summary) {
    tarsa::app::MainWindow& window = session.Window();
    if (!session.Healthy()) return kExitFailed;
    if (!o.firmware.empty() && window.OpenFirmwareFile(o.firmware) < 0) return kExitFailed;
    if (o.keepData) window.DontEraseDataClick();
    window.SelectPort(port);
    InterruptGuard guard(window);
    session.Ui().onPump = [&] { guard.Check(); };
    const int rc = tarsa::app::RunCheckOnly(window, o.settingsPath, summary);
    session.Ui().onPump = nullptr;
    return rc;
}

// One port: the update or the dry run, framed by the start and result
// events of a --json run.
int RunOne(Session& session, const Options& o, const std::string& port) {
    tarsa::cli::JsonUi* json = session.Json();
    if (json) json->EmitStart(o.checkOnly ? "check-only" : "update");
    const uint32_t start = tarsa::TickMs();
    int code = 0;
    int rc = kExitFailed;
    std::string summary;
    if (o.checkOnly) {
        code = CheckOnly(session, o, port, summary);
        rc = code > 0 ? kExitOk : kExitFailed;
    } else {
        rc = RunSession(session, o, port);
        code = session.Window().LastResult();
    }
    if (json) {
        json->EmitResult(code, (tarsa::TickMs() - start) / 1000, code > 0 ? summary : "");
    }
    return rc;
}

int Update(const Options& o, const std::string& port) {
    Session session(o);
    return RunOne(session, o, port);
}

std::string ProgramPath() {
    const std::string path = tarsa::ProgramFilePath();
    return path.empty() ? "tarsa-update" : path;
}

// Several ports at once: one child process per port (cli/multi_port.h).
int MultiPort(const Options& o, const std::vector<std::string>& ports) {
    tarsa::cli::MultiPortJob job;
    job.ports = ports;
    job.program = ProgramPath();
    job.dataDir = o.dataDir.empty() ? tarsa::app::DataFolder(".") : o.dataDir;
    job.json = o.json;
    job.tty = tarsa::cli::StdoutIsTerminal();
    std::vector<std::string>& a = job.childArgs;
    if (o.yes) a.push_back("--yes");
    if (o.rep) a.push_back("--rep");
    if (o.factory) a.push_back("--factory");
    if (!o.firmware.empty()) a.insert(a.end(), {"--firmware", o.firmware});
    if (o.keepData) a.push_back("--keep-data");
    if (o.verbose) a.push_back("--verbose");
    if (o.checkOnly) a.push_back("--check-only");
    return tarsa::cli::RunMultiPort(job, stdout, stderr, nullptr);
}

int MultiPort(const Options& o) {
    if (!o.allPorts) return MultiPort(o, o.ports);
    const std::vector<std::string> ports = tarsa::cli::FreePorts();
    if (ports.empty()) {
        fprintf(stderr, "tarsa-update: --all-ports found no serial port that is free\n");
        return kExitFailed;
    }
    return MultiPort(o, ports);
}

// A complete update of a simulated Talox on a pseudo-terminal (in the
// digital-sensor variant: a Handra with a Skyra 61 on its bus): its settings
// differ from the factory's, so the restore is visible in the log.
int Simulate(const Options& o) {
    const bool wireTime = o.simulateBaud != 0;
    const int count = o.simulateCount > 0 ? o.simulateCount : 1;
    std::vector<std::unique_ptr<tarsa::cli::SimulatedDevice>> devices;
    for (int n = 1; n <= count; ++n) {
        std::string shown, error;
        devices.push_back(tarsa::cli::StartDemoDevice(kSensorVariant, wireTime, n, shown, error));
        if (!devices.back()) {
            fprintf(stderr, "tarsa-update: %s\n", error.c_str());
            return kExitFailed;
        }
        if (!o.json) {
            printf("Simulated %s on %s%s\n", shown.c_str(), devices.back()->PortPath().c_str(),
                   wireTime ? " (9600 baud wire time)" : "");
        }
    }
    fflush(stdout);
    Options run = o;
    run.yes = true;
    if (o.simulateCount > 0) {
        std::vector<std::string> ports;
        for (const auto& d : devices) ports.push_back(d->PortPath());
        return MultiPort(run, ports);
    }
    run.port = devices.front()->PortPath();
    Session session(run);
    int rc = RunOne(session, run, run.port);
    if (!o.json) printf("Log: %s\n", session.Window().LogFilePath().c_str());
    return rc;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (std::optional<int> status = tarsa::cli::ParseOptions(argc, argv, o)) return *status;
    if (o.mode == "list-ports") return ListPorts();
    if (o.mode == "dump-image") return DumpImage(o);
    if (o.mode == "port" && (o.allPorts || o.ports.size() > 1)) return MultiPort(o);
    if (o.mode == "port") return Update(o, o.port);
    if (o.mode == "restore-settings" || o.mode == "backup-settings") return TransferSettings(o);
    if (o.mode == "check-version" || o.mode == "send-feedback") {
        Session session(o);
        tarsa::app::MainWindow& w = session.Window();
        if (o.mode == "check-version") {
            return tarsa::cli::CheckVersionCommand(w.Log(), static_cast<int>(w.ImageVersion()),
                                                   w.VersionFinderPath(),
                                                   w.DisplayName() + " Firmware Updater", o.yes);
        }
        return tarsa::cli::SendFeedbackCommand(w.Log(), o.feedback, w.WindowCaption(),
                                               w.Host().image.label, w.LogFilePath(), o.yes);
    }
    return Simulate(o);
}
