// tarsa-update: the firmware updater on a command line, for scripts and
// factory use. It runs the same window logic as the graphical program behind
// a terminal user interface; see PrintUsage for the commands. Exit status: 0
// success, 1 the job failed or was cancelled (the message has been printed),
// 2 usage error.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/check_only.h"
#include "app/main_window.h"
#include "app/paths.h"
#include "app/settings_transfer.h"
#include "cli/json_events.h"
#include "cli/multi_port.h"
#include "cli/terminal_ui.h"
#include "cli/web_commands.h"
#include "serial/port_enum.h"
#include "serial/serial_port.h"
#include "serial/timing.h"
#include "sim/simulator.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kMaxPorts = 64;  // ports of one multi-port run

// The digital-sensor variant (TARSA_DIGITAL_SENSOR) updates an SDI-12 sensor
// through a reader; its --simulate plays a Handra with a Skyra 61 on its bus.
constexpr bool kSensorVariant = TARSA_DIGITAL_SENSOR_BUILD != 0;

void PrintUsage(FILE* out) {
    fprintf(
        out,
        "Usage:\n"
        "  tarsa-update --list-ports\n"
        "  tarsa-update --port PORT [--yes] [--data-dir DIR] [--rep|--factory]\n"
        "               [--firmware FILE] [--keep-data] [--new-serial SN] [--verbose]\n"
        "  tarsa-update --port PORT --port PORT ... | --all-ports [--yes] [--json]\n"
        "               [--check-only] [--data-dir DIR] [update options as above]\n"
        "  tarsa-update --check-only --port PORT [--backup-settings FILE] [--json]\n"
        "  tarsa-update --restore-settings FILE --port PORT [--data-dir DIR] [--verbose]\n"
        "               [--factory [--new-serial SN]]\n"
        "  tarsa-update --backup-settings FILE --port PORT [--data-dir DIR] [--verbose]\n"
        "  tarsa-update --dump-image FILE [--rep --firmware FILE]\n"
        "  tarsa-update --simulate [N] [--simulate-baud 9600] [--data-dir DIR] [--json]\n"
        "               [--check-only] [--verbose]\n"
        "  tarsa-update --check-version [--yes]\n"
        "  tarsa-update --send-feedback --name NAME [--email ADDRESS] [--company TEXT]\n"
        "               [--phone TEXT] [--email-to ADDRESS] [--kind KIND]\n"
        "               [--message TEXT] [--attach FILE] [--yes]\n"
        "  tarsa-update --help | --version\n"
        "\n"
        "  --list-ports      list the serial ports: name, TAB, description\n"
        "  --port PORT       update the instrument on PORT (/dev/ttyUSB0, ttyUSB0, /dev/pts/3);\n"
        "                    given several times, the ports are updated at once, each with\n"
        "                    its log and settings file in DIR/<port name>/\n"
        "  --all-ports       update on every port --list-ports shows that is not busy\n"
        "  --json            print JSON Lines events instead of text (docs/json-events.md)\n"
        "  --check-only      connect, check and save the settings, change nothing: say\n"
        "                    what an update would do; exit 0 when it would be allowed\n"
        "  --yes             answer OK (or Yes) to every question\n"
        "  --data-dir DIR    folder of the log, the settings file and the settings history\n"
        "                    (default $XDG_DATA_HOME/Corvane/TarsaBSL)\n"
        "  --rep             repair mode: --firmware may replace the built-in image\n"
        "  --factory         factory mode (includes --rep): wrong-device override,\n"
        "                    --new-serial, no newer-firmware question\n"
        "  --firmware FILE   TI-TXT firmware file to install (needs --rep or --factory)\n"
        "  --keep-data       do not erase the stored measurement data\n"
        "  --new-serial SN   give the instrument a new serial number (needs --factory)\n"
        "  --verbose         log byte-level serial traces too\n"
        "  --restore-settings FILE\n"
        "                    write the settings in FILE (a settings file, for example one\n"
        "                    from DIR/history) to the device on PORT; the firmware stays\n"
        "  --backup-settings FILE\n"
        "                    save the settings of the device on PORT into FILE; the\n"
        "                    firmware stays\n"
        "  --dump-image FILE write the firmware image that would be installed to FILE\n"
        "  --simulate [N]    run against a simulated %s on a pseudo-terminal;\n"
        "                    with N, against a tray of N simulated devices at once\n"
        "  --simulate-baud 9600\n"
        "                    with --simulate: take the time the bytes need on a 9600 baud wire\n"
        "  --check-version   ask the version service whether newer firmware exists\n"
        "  --send-feedback   send feedback with the diagnostic log attached:\n"
        "    --name NAME       your name (required)\n"
        "    --email ADDRESS   your e-mail address\n"
        "    --company TEXT    your company\n"
        "    --phone TEXT      your telephone number\n"
        "    --email-to ADDRESS  who receives the feedback\n"
        "    --kind KIND       general, feature, bug or other\n"
        "    --message TEXT    the feedback itself\n"
        "    --attach FILE     a file to send along\n",
        kSensorVariant ? "Handra with a digital sensor" : "Talox");
}

struct Options {
    // list-ports, port, restore-settings, backup-settings, dump-image,
    // simulate, check-version, send-feedback
    std::string mode;
    std::string port;
    std::string dataDir;
    std::string firmware;
    std::string dumpPath;
    std::string settingsPath;  // --restore-settings, --backup-settings
    std::string newSerial;
    bool yes = false;
    bool rep = false;
    bool factory = false;
    bool keepData = false;
    bool verbose = false;
    int simulateBaud = 0;  // --simulate-baud: emulate the wire at this line speed
    tarsa::cli::FeedbackRequest feedback;

    // Factory use: several ports at once, machine-readable events, the dry run.
    std::vector<std::string> ports;  // every --port in order; `port` is the first
    bool allPorts = false;           // --all-ports: every listed port that is not busy
    bool json = false;               // --json: JSON Lines events instead of the text
    bool checkOnly = false;          // --check-only: the checks and the capture, no update
    int simulateCount = 0;           // --simulate N: a tray of N devices; 0: one device
};

// Parses the command line; returns false (after printing why) on a usage error.
bool Parse(int argc, char** argv, Options& o) {
    auto setMode = [&](const char* mode) {
        if (!o.mode.empty()) {
            fprintf(stderr, "tarsa-update: --%s and --%s cannot be combined\n", o.mode.c_str(),
                    mode);
            return false;
        }
        o.mode = mode;
        return true;
    };
    for (int i = 1; i < argc; ++i) {
        std::string_view a = argv[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= argc || argv[i + 1][0] == '\0') {
                fprintf(stderr, "tarsa-update: %s needs a value\n", argv[i]);
                return false;
            }
            into = argv[++i];
            return true;
        };
        bool ok = true;
        if (a == "--list-ports") {
            ok = setMode("list-ports");
        } else if (a == "--port") {
            ok = value(o.port);
            if (ok) o.ports.push_back(o.port);
            if (ok) o.port = o.ports.front();
        } else if (a == "--all-ports") {
            o.allPorts = true;
        } else if (a == "--json") {
            o.json = true;
        } else if (a == "--check-only") {
            o.checkOnly = true;
        } else if (a == "--restore-settings") {
            ok = setMode("restore-settings") && value(o.settingsPath);
        } else if (a == "--backup-settings") {
            ok = setMode("backup-settings") && value(o.settingsPath);
        } else if (a == "--dump-image") {
            ok = setMode("dump-image") && value(o.dumpPath);
        } else if (a == "--simulate") {
            ok = setMode("simulate");
            // An optional count: --simulate 16 plays a tray of 16 devices.
            if (ok && i + 1 < argc && argv[i + 1][0] >= '0' && argv[i + 1][0] <= '9') {
                char* end = nullptr;
                const long n = strtol(argv[++i], &end, 10);
                if (*end != '\0' || n < 1 || n > kMaxPorts) {
                    fprintf(stderr, "tarsa-update: --simulate takes 1 to %d devices\n", kMaxPorts);
                    ok = false;
                }
                o.simulateCount = static_cast<int>(n);
            }
        } else if (a == "--simulate-baud") {
            std::string baud;
            ok = value(baud);
            if (ok && baud != "9600") {
                fprintf(stderr,
                        "tarsa-update: --simulate-baud takes 9600, the line speed of "
                        "the update\n");
                ok = false;
            }
            o.simulateBaud = 9600;
        } else if (a == "--check-version") {
            ok = setMode("check-version");
        } else if (a == "--send-feedback") {
            ok = setMode("send-feedback");
        } else if (a == "--name") {
            ok = value(o.feedback.name);
        } else if (a == "--email") {
            ok = value(o.feedback.email);
        } else if (a == "--company") {
            ok = value(o.feedback.company);
        } else if (a == "--phone") {
            ok = value(o.feedback.phone);
        } else if (a == "--email-to") {
            ok = value(o.feedback.emailTo);
        } else if (a == "--message") {
            ok = value(o.feedback.message);
        } else if (a == "--attach") {
            ok = value(o.feedback.attach);
        } else if (a == "--kind") {
            std::string kind;
            ok = value(kind);
            if (ok && (o.feedback.kind = tarsa::cli::FeedbackKindIndex(kind)) < 0) {
                fprintf(stderr, "tarsa-update: --kind is general, feature, bug or other\n");
                ok = false;
            }
        } else if (a == "--data-dir") {
            ok = value(o.dataDir);
        } else if (a == "--firmware") {
            ok = value(o.firmware);
        } else if (a == "--new-serial") {
            ok = value(o.newSerial);
        } else if (a == "--yes") {
            o.yes = true;
        } else if (a == "--rep") {
            o.rep = true;
        } else if (a == "--factory") {
            o.factory = true;
        } else if (a == "--keep-data") {
            o.keepData = true;
        } else if (a == "--verbose") {
            o.verbose = true;
        } else {
            fprintf(stderr, "tarsa-update: unknown option '%s'\n", argv[i]);
            ok = false;
        }
        if (!ok) return false;
    }
    if (o.allPorts && !o.mode.empty()) {
        fprintf(stderr, "tarsa-update: --all-ports and --%s cannot be combined\n", o.mode.c_str());
        return false;
    }
    if (o.allPorts && !o.ports.empty()) {
        fprintf(stderr, "tarsa-update: --all-ports and --port cannot be combined\n");
        return false;
    }
    if (o.allPorts) o.mode = "port";
    // --check-only --backup-settings FILE: the dry run keeps the capture in FILE.
    if (o.checkOnly && o.mode == "backup-settings") o.mode = "port";
    const bool multi = o.ports.size() > 1 || o.allPorts || o.simulateCount > 0;
    const bool settingsMode = o.mode == "restore-settings" || o.mode == "backup-settings";
    if (o.ports.size() > 1 && settingsMode) {
        fprintf(stderr, "tarsa-update: --%s takes one --port\n", o.mode.c_str());
        return false;
    }
    if ((o.json || o.checkOnly) && !o.mode.empty() && o.mode != "port" && o.mode != "simulate") {
        fprintf(stderr, "tarsa-update: --%s works with --port, --all-ports and --simulate\n",
                o.json ? "json" : "check-only");
        return false;
    }
    if (multi && (!o.newSerial.empty() || (o.checkOnly && !o.settingsPath.empty()))) {
        fprintf(stderr, "tarsa-update: %s takes one --port\n",
                o.newSerial.empty() ? "--check-only --backup-settings" : "--new-serial");
        return false;
    }
    if (!o.port.empty() && !o.mode.empty() && !settingsMode && o.mode != "port") {
        fprintf(stderr, "tarsa-update: --port and --%s cannot be combined\n", o.mode.c_str());
        return false;
    }
    if (o.mode.empty() && !o.port.empty()) o.mode = "port";
    if (o.mode.empty()) {
        fprintf(stderr, "tarsa-update: say what to do (--port, --list-ports, ...)\n");
        return false;
    }
    if (settingsMode && o.port.empty()) {
        fprintf(stderr, "tarsa-update: --%s needs --port\n", o.mode.c_str());
        return false;
    }
    if (!o.firmware.empty() && !o.rep && !o.factory) {
        fprintf(stderr, "tarsa-update: --firmware needs --rep or --factory\n");
        return false;
    }
    if (o.mode == "send-feedback" && o.feedback.name.empty()) {
        fprintf(stderr, "tarsa-update: --send-feedback needs --name\n");
        return false;
    }
    if (!o.newSerial.empty() && !o.factory) {
        fprintf(stderr, "tarsa-update: --new-serial needs --factory\n");
        return false;
    }
    if (o.newSerial.size() > 15) {
        fprintf(stderr, "tarsa-update: --new-serial takes at most 15 characters\n");
        return false;
    }
    return true;
}

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
                                                                isatty(STDIN_FILENO) != 0,
                                                                isatty(STDOUT_FILENO) != 0)),
          store_(tarsa::UserSettingsPath("TarsaBSL")),
          window_(*ui_, store_, Config(), ListForWindow) {
        if (o.json) Json()->Follow(window_);
        tarsa::app::Environment env;
        if (o.factory) env.arguments.push_back("-factory");
        if (o.rep) env.arguments.push_back("-rep");
        env.dataFolder = o.dataDir;
        window_.FormShow(env);
        if (o.verbose && window_.Log()) window_.Log()->SetLevel(tarsa::kLogBytes);
    }
    static tarsa::app::BuildConfig Config() {
        tarsa::app::BuildConfig config;
        config.programVersion = TARSA_VERSION;
        if (kSensorVariant) {
            config.targetType = tarsa::kTypeDigitalSensor;
            config.digitalSensor = true;
            config.defaultSensorType = tarsa::kProgramSensorType;
        }
        return config;
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
    tarsa::IniFileStore store_;
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
volatile sig_atomic_t gInterrupts = 0;

void OnInterrupt(int) {
    gInterrupts = gInterrupts + 1;
}

class InterruptGuard {
  public:
    explicit InterruptGuard(tarsa::app::MainWindow& window) : window_(window) {
        struct sigaction sa {};
        sa.sa_handler = OnInterrupt;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = 0;  // no SA_RESTART: a sleep ends when the signal comes
        sigaction(SIGINT, &sa, &previous_);
        // Waits of the protocol layers sleep here and notice Ctrl-C at once.
        previousPump_ = tarsa::SetMessagePump([this](uint32_t maxWaitMs) {
            struct timespec ts {
                static_cast<time_t>(maxWaitMs / 1000),
                    static_cast<long>(maxWaitMs % 1000) * 1000000L
            };
            nanosleep(&ts, nullptr);
            Check();
        });
    }
    ~InterruptGuard() {
        tarsa::SetMessagePump(std::move(previousPump_));
        sigaction(SIGINT, &previous_, nullptr);
    }
    void Check() {
        if (gInterrupts == handled_) return;
        handled_ = gInterrupts;
        uint32_t now = tarsa::TickMs();
        if (handled_ > 1 && now - lastMs_ <= 3000) {
            fprintf(stderr,
                    "\ntarsa-update: stopped by the user; the settings file is kept for "
                    "the next run\n");
            _exit(kExitFailed);
        }
        lastMs_ = now;
        if (window_.RequestClose()) _exit(kExitFailed);  // idle: nothing to protect
    }

  private:
    tarsa::app::MainWindow& window_;
    struct sigaction previous_ {};
    tarsa::MessagePump previousPump_;
    sig_atomic_t handled_ = 0;
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
    if (access(path, F_OK) == 0 && access(path, R_OK | W_OK) != 0 && errno == EACCES) {
        fprintf(stderr,
                "tarsa-update: permission denied on %s. Add your user to the 'dialout' group\n"
                "  (sudo usermod -aG dialout $USER), then log out and in again.\n",
                path);
    }
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
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return "tarsa-update";
    path[n] = '\0';
    return path;
}

// Several ports at once: one child process per port (cli/multi_port.h).
int MultiPort(const Options& o, const std::vector<std::string>& ports) {
    tarsa::cli::MultiPortJob job;
    job.ports = ports;
    job.program = ProgramPath();
    job.dataDir = o.dataDir.empty() ? tarsa::app::DataFolder(".") : o.dataDir;
    job.json = o.json;
    job.tty = isatty(STDOUT_FILENO) != 0;
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
    tarsa::sim::DeviceConfig config;
    config.wireTime = o.simulateBaud != 0;
    const char* model = "talox";
    const char* shown = "Talox 2.10";
    const int count = o.simulateCount > 0 ? o.simulateCount : 1;
    std::vector<std::unique_ptr<tarsa::sim::Simulator>> devices;
    for (int n = 1; n <= count; ++n) {
        if (kSensorVariant) {
            model = "hd";
            shown = "Handra 1.30 with a Skyra 61 Sensor Suite 3.55";
            config.reader.sensor.settings.address = '2';
            char serial[16];
            snprintf(serial, sizeof serial, "SK61-%04d", 41 + n);
            config.reader.sensor.settings.serial = serial;
            config.reader.sensor.settings.calibration1 = "1 0.125 1.250 0.500";
        } else {
            // Each device of a tray has a name and serial number of its own.
            char name[16], serial[16];
            snprintf(name, sizeof name, "DEMO%02d", n);
            snprintf(serial, sizeof serial, "TX%05d", 41 + n);
            config.version = "2.10";
            config.settings = {{"i", name}, {"site", "Demo lake"}, {"w", "900"}, {"sn", serial}};
        }
        devices.push_back(tarsa::sim::Simulator::Start(model, config));
        if (!devices.back()) {
            fprintf(stderr,
                    "tarsa-update: could not start the simulated device (no pseudo-terminal)\n");
            return kExitFailed;
        }
        if (!o.json) {
            printf("Simulated %s on %s%s\n", shown, devices.back()->PortPath().c_str(),
                   config.wireTime ? " (9600 baud wire time)" : "");
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
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0) {
            PrintUsage(stdout);
            return kExitOk;
        }
        if (strcmp(argv[i], "--version") == 0) {
            printf("tarsa-update %s\n", TARSA_VERSION);
            return kExitOk;
        }
    }
    Options o;
    if (!Parse(argc, argv, o)) {
        PrintUsage(stderr);
        return kExitUsage;
    }
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
