// tarsa-updater: the firmware updater's window. Parses its own options,
// starts the window logic behind the Qt main window and runs the event loop.
//
//   tarsa-updater [-rep | -factory] [--port PORT] [--simulate [--simulate-baud 9600]]
//
// "-rep" and "-factory" are the window logic's own words (exact, case-
// sensitive; anything else it ignores). --port puts PORT (a device path such
// as a /dev/serial/by-id/... link or a pseudo-terminal) first in the port
// list and selects it; --simulate starts a simulated device on a pseudo-
// terminal inside the program and lists it the same way, so that a whole
// update can be watched without hardware.
#include <QApplication>
#include <QDir>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "cli/cli_platform.h"
#include "gui/message_pump.h"
#include "gui/updater_window.h"
#include "serial/port_enum.h"
#include "web/settings_store.h"

namespace {

constexpr bool kSensorVariant = TARSA_DIGITAL_SENSOR_BUILD != 0;

void PrintUsage(FILE* out) {
    fprintf(out,
            "Usage: tarsa-updater [-rep | -factory] [--port PORT] [--simulate [--simulate-baud "
            "9600]]\n"
            "\n"
            "The firmware updater's window: pick the serial port, press Start.\n"
            "\n"
            "  -rep                 repair mode: \"Open Firmware File...\" may replace the\n"
            "                       built-in image; two refusals become questions\n"
            "  -factory             factory mode (includes -rep): wrong-device override,\n"
            "                       \"Replace Serial Number\", \"Don't Erase Data\"\n"
            "  --port PORT          list PORT first and select it (/dev/ttyUSB0,\n"
            "                       /dev/serial/by-id/..., /dev/pts/3)\n"
            "  --simulate           list a simulated %s on a pseudo-terminal\n"
            "  --simulate-baud 9600 the simulated line takes real time at 9600 baud\n"
            "  --help, --version    this text; the program's version\n"
            "\n"
            "The log and the settings file are kept in $XDG_DATA_HOME/Corvane/TarsaBSL;\n"
            "the window's settings in $XDG_CONFIG_HOME/Corvane Devices, Inc/.\n",
            kSensorVariant ? "Handra with a digital sensor" : "Talox");
}

int ListPorts(tarsa::TarsaSerial& port, std::vector<tarsa::app::PortEntry>& out, bool force) {
    tarsa::CommPortEntry entries[tarsa::kCommPortCapacity];
    size_t count = tarsa::kCommPortCapacity;
    int rc = tarsa::CommPortEnum(port, entries, &count, force);
    if (rc < 0) return rc;
    for (size_t i = 0; i < count; ++i) out.push_back({entries[i].name, entries[i].description});
    return static_cast<int>(count);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> words;
    std::string port;
    bool simulate = false;
    bool wireTime = false;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0) {
            PrintUsage(stdout);
            return 0;
        }
        if (strcmp(argv[i], "--version") == 0) {
            printf("tarsa-updater %s\n", TARSA_VERSION);
            return 0;
        }
        if (strcmp(argv[i], "--port") == 0 || strcmp(argv[i], "--simulate-baud") == 0) {
            if (i + 1 >= argc || argv[i + 1][0] == '\0') {
                fprintf(stderr, "tarsa-updater: %s needs a value\n", argv[i]);
                return 2;
            }
            if (strcmp(argv[i], "--port") == 0) {
                port = argv[++i];
            } else if (strcmp(argv[++i], "9600") == 0) {
                wireTime = true;
            } else {
                fprintf(stderr,
                        "tarsa-updater: --simulate-baud takes 9600, the line speed of the "
                        "update\n");
                return 2;
            }
        } else if (strcmp(argv[i], "--simulate") == 0) {
            simulate = true;
        } else {
            words.push_back(argv[i]);
        }
    }

    QApplication application(argc, argv);
    QCoreApplication::setApplicationName("TarsaBSL");
    tarsa::gui::InstallMessagePump();

    // The simulated device of --simulate: its settings differ from the
    // factory's, so that the restore after the update is visible.
    std::unique_ptr<tarsa::cli::SimulatedDevice> device;
    const std::string shown =
        kSensorVariant ? "Simulated Handra with a Skyra 61" : "Simulated Talox 2.10";
    if (simulate) {
        std::string name, error;
        device = tarsa::cli::StartDemoDevice(kSensorVariant, wireTime, 1, name, error);
        if (!device) {
            fprintf(stderr, "tarsa-updater: %s\n", error.c_str());
            return 1;
        }
    }

    auto store = tarsa::OpenUserSettings("TarsaBSL");
    auto feedbackStore = tarsa::OpenUserSettings("FeedbackForm");
    tarsa::app::Environment environment;
    environment.arguments = words;
    environment.programFolder = QCoreApplication::applicationDirPath().toStdString();
    environment.feedbackStore = feedbackStore.get();
    environment.quietVersionCheck = true;

    tarsa::gui::UpdaterWindow window(tarsa::app::ProgramBuildConfig(TARSA_VERSION, kSensorVariant),
                                     ListPorts, *store, environment);
    window.show();  // start-up runs here
    if (!port.empty()) window.Logic().SelectPort(port);
    if (device) {
        window.Logic().SelectPort(device->PortPath(), shown + " (" + device->PortPath() + ")");
    }
    return QApplication::exec();
}
