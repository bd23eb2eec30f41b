#include "cli/options.h"

#include <CLI/CLI.hpp>
#include <cstdlib>
#include <string_view>
#include <utility>
#include <vector>

namespace tarsa::cli {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitUsage = 2;

// The digital-sensor build simulates a reader with a sensor on its bus.
constexpr bool kSensorVariant = TARSA_DIGITAL_SENSOR_BUILD != 0;

// Which options go with which mode is more than an option list can say, so
// the ways to call the program head the help.
constexpr const char* kSynopsis =
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
    "  tarsa-update --help | --version\n";

constexpr const char* kExitStatus =
    "Exit status: 0 success, 1 the job failed or was cancelled (the message has\n"
    "been printed), 2 usage error.";

constexpr size_t kNameColumn = 28;

// The synopsis in place of CLI11's one-line usage, and groups separated by
// one blank line.
class HelpFormatter : public CLI::Formatter {
  public:
    HelpFormatter() { column_width(kNameColumn); }
    std::string make_usage(const CLI::App*, std::string) const override {
        return std::string(kSynopsis) + "\n";
    }
    std::string make_group(std::string group, bool positional,
                           std::vector<const CLI::Option*> opts) const override {
        std::string out = group + ":\n";
        for (const CLI::Option* opt : opts) out += make_option(opt, positional);
        return out;
    }
};

// The option table bound to `o`, and what the checks after parsing need.
class CommandLine {
  public:
    explicit CommandLine(Options& o) : o_(o) {
        app_.formatter(std::make_shared<HelpFormatter>());
        app_.footer(kExitStatus);
        app_.allow_extras();  // told as "unknown option '...'" after parsing
        // "/path" is a value on every platform, not a Windows-style option.
        app_.allow_windows_style_options(false);
        // A value given twice: the last one counts.
        app_.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
        app_.set_help_flag();  // added again below, at the end of its group

        const char* modes = "Modes (one at a time)";
        Mode(Flag("--list-ports", "list the serial ports: name, TAB, description"), "list-ports");
        // Each --port takes one port; given several times, they add up.
        app_.add_option("--port", o.ports,
                        "update the instrument on PORT\n"
                        "(/dev/ttyUSB0, ttyUSB0, /dev/pts/3); given several\n"
                        "times, the ports are updated at once, each with\n"
                        "its log and settings file in DIR/<port name>/")
            ->type_name("PORT")
            ->group(modes)
            ->expected(0, 1)
            ->allow_extra_args(false)
            ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
        app_.add_flag("--all-ports", o.allPorts,
                      "update on every port --list-ports shows that is\n"
                      "not busy")
            ->group(modes);
        Mode(Text("--restore-settings", o.settingsPath, "FILE",
                  "write the settings in FILE (a settings file, for\n"
                  "example one from DIR/history) to the device on\n"
                  "PORT; the firmware stays",
                  modes),
             "restore-settings");
        Mode(Text("--backup-settings", o.settingsPath, "FILE",
                  "save the settings of the device on PORT into FILE;\n"
                  "the firmware stays",
                  modes),
             "backup-settings");
        Mode(Text("--dump-image", o.dumpPath, "FILE",
                  "write the firmware image that would be installed\nto FILE", modes),
             "dump-image");
        Mode(app_.add_option("--simulate", simulateCount_,
                             kSensorVariant ? "run against a simulated Handra with a digital\n"
                                              "sensor on a pseudo-terminal; with N, against a\n"
                                              "tray of N simulated devices at once"
                                            : "run against a simulated Talox on a\n"
                                              "pseudo-terminal; with N, against a tray of N\n"
                                              "simulated devices at once")
                 ->type_name("[N]")
                 ->expected(0, 1),
             "simulate");
        Mode(Flag("--check-version", "ask the version service whether newer firmware\nexists"),
             "check-version");
        Mode(Flag("--send-feedback",
                  "send feedback with the diagnostic log attached\n"
                  "(the feedback options below)"),
             "send-feedback");
        for (const auto& [option, mode] : modes_) option->group(modes);

        const char* update = "Update options";
        app_.add_flag("--yes", o.yes, "answer OK (or Yes) to every question")->group(update);
        app_.add_flag("--json", o.json,
                      "print JSON Lines events instead of text\n(docs/json-events.md)")
            ->group(update);
        app_.add_flag("--check-only", o.checkOnly,
                      "connect, check and save the settings, change\n"
                      "nothing: say what an update would do; exit 0 when\n"
                      "it would be allowed")
            ->group(update);
        Text("--data-dir", o.dataDir, "DIR",
             "folder of the log, the settings file and the\n"
             "settings history (default\n"
             "$XDG_DATA_HOME/Corvane/TarsaBSL)",
             update);
        app_.add_flag("--rep", o.rep, "repair mode: --firmware may replace the built-in\nimage")
            ->group(update);
        app_.add_flag("--factory", o.factory,
                      "factory mode (includes --rep): wrong-device\n"
                      "override, --new-serial, no newer-firmware question")
            ->group(update);
        Text("--firmware", o.firmware, "FILE",
             "TI-TXT firmware file to install (needs --rep or\n--factory)", update);
        app_.add_flag("--keep-data", o.keepData, "do not erase the stored measurement data")
            ->group(update);
        Text("--new-serial", o.newSerial, "SN",
             "give the instrument a new serial number of at\n"
             "most 15 characters (needs --factory)",
             update);
        app_.add_flag("--verbose", o.verbose, "log byte-level serial traces too")->group(update);
        Text("--simulate-baud", simulateBaud_, "9600",
             "with --simulate: take the time the bytes need on a\n9600 baud wire", update);

        // The form's own fields may be given empty: the form judges them when
        // sending, as it does in the window.
        const char* feedback = "Feedback (with --send-feedback)";
        FeedbackRequest& f = o.feedback;
        name_ = Text("--name", f.name, "NAME", "your name (required)", feedback, kMayBeEmpty);
        Text("--email", f.email, "ADDRESS", "your e-mail address", feedback, kMayBeEmpty);
        Text("--company", f.company, "TEXT", "your company", feedback, kMayBeEmpty);
        Text("--phone", f.phone, "TEXT", "your telephone number", feedback, kMayBeEmpty);
        Text("--email-to", f.emailTo, "ADDRESS", "who receives the feedback", feedback,
             kMayBeEmpty);
        Text("--kind", kind_, "KIND", "general, feature, bug or other", feedback);
        Text("--message", f.message, "TEXT", "the feedback itself", feedback, kMayBeEmpty);
        Text("--attach", f.attach, "FILE", "a file to send along (at most 8 MB)", feedback);

        app_.set_help_flag("-h,--help", "print this help and exit")->group(modes);
        app_.set_version_flag("--version", Version(), "print the program's version and exit")
            ->group(modes);
    }

    std::string Help() const { return app_.help(); }

    // Empty when the command line is sound; otherwise why not, naming the
    // option. CLI11's help and version requests pass through as exceptions.
    std::string Parse(int argc, const char* const* argv) {
        // --help and --version win wherever they stand, even after an option
        // that would take them as its value or before a wrong one.
        for (int i = 1; i < argc; ++i) {
            const std::string_view word = argv[i];
            if (word == "--help" || word == "-h") throw CLI::CallForHelp();
            if (word == "--version") throw CLI::CallForVersion(Version(), 0);
        }
        try {
            app_.parse(argc, argv);
        } catch (const CLI::Success&) {
            throw;
        } catch (const CLI::ParseError& e) {
            return e.what();
        }
        if (!app_.remaining().empty()) return "unknown option '" + app_.remaining().front() + "'";
        // Only a number is taken as the count; a word after --simulate is
        // an argument of its own.
        if (!simulateCount_.empty() && (simulateCount_[0] < '0' || simulateCount_[0] > '9'))
            return "unknown option '" + simulateCount_ + "'";
        // The first two modes on the line name the conflict.
        for (const CLI::Option* given : app_.parse_order()) {
            for (const auto& [option, mode] : modes_) {
                if (option != given) continue;
                if (!o_.mode.empty())
                    return "--" + o_.mode + " and --" + mode + " cannot be combined";
                o_.mode = mode;
            }
        }
        for (const auto& [option, value] : values_)
            if (option->count() > 0 && value->empty()) return option->get_name() + " needs a value";
        for (const std::string& port : o_.ports)
            if (port.empty()) return "--port needs a value";
        if (!o_.ports.empty()) o_.port = o_.ports.front();
        if (!simulateCount_.empty()) {
            const int n = std::atoi(simulateCount_.c_str());
            if (simulateCount_.find_first_not_of("0123456789") != std::string::npos ||
                simulateCount_.size() > 2 || n < 1 || n > kMaxPorts)
                return "--simulate takes 1 to " + std::to_string(kMaxPorts) + " devices";
            o_.simulateCount = n;
        }
        if (!simulateBaud_.empty()) {
            if (simulateBaud_ != "9600")
                return "--simulate-baud takes 9600, the line speed of the update";
            o_.simulateBaud = 9600;
        }
        if (!kind_.empty() && (o_.feedback.kind = FeedbackKindIndex(kind_)) < 0)
            return "--kind is general, feature, bug or other";
        return CheckCombination();
    }

  private:
    static constexpr bool kMayBeEmpty = true;

    static std::string Version() { return std::string("tarsa-update ") + TARSA_VERSION; }

    // An option with a text value; unless `mayBeEmpty`, a missing or empty
    // value is a usage error.
    CLI::Option* Text(const char* name, std::string& into, const char* type, const char* help,
                      const char* group, bool mayBeEmpty = false) {
        CLI::Option* option = app_.add_option(name, into, help)->type_name(type)->group(group);
        if (!mayBeEmpty) {
            // Missing or empty, the value is told about in one way.
            option->expected(0, 1);
            values_.push_back({option, &into});
        }
        return option;
    }
    CLI::Option* Flag(const char* name, const char* help) {
        const std::string description = help;
        return app_.add_flag(name, description);
    }
    CLI::Option* Mode(CLI::Option* option, const char* mode) {
        modes_.push_back({option, mode});
        return option;
    }

    // The rules between options, in the order they are told.
    std::string CheckCombination() {
        if (o_.allPorts && !o_.mode.empty())
            return "--all-ports and --" + o_.mode + " cannot be combined";
        if (o_.allPorts && !o_.ports.empty()) return "--all-ports and --port cannot be combined";
        if (o_.allPorts) o_.mode = "port";
        // --check-only --backup-settings FILE: the dry run keeps the capture in FILE.
        if (o_.checkOnly && o_.mode == "backup-settings") o_.mode = "port";
        const bool multi = o_.ports.size() > 1 || o_.allPorts || o_.simulateCount > 0;
        const bool settingsMode = o_.mode == "restore-settings" || o_.mode == "backup-settings";
        if (o_.ports.size() > 1 && settingsMode) return "--" + o_.mode + " takes one --port";
        if ((o_.json || o_.checkOnly) && !o_.mode.empty() && o_.mode != "port" &&
            o_.mode != "simulate")
            return std::string(o_.json ? "--json" : "--check-only") +
                   " works with --port, --all-ports and --simulate";
        if (multi && (!o_.newSerial.empty() || (o_.checkOnly && !o_.settingsPath.empty())))
            return std::string(o_.newSerial.empty() ? "--check-only --backup-settings"
                                                    : "--new-serial") +
                   " takes one --port";
        if (!o_.port.empty() && !o_.mode.empty() && !settingsMode && o_.mode != "port")
            return "--port and --" + o_.mode + " cannot be combined";
        if (o_.mode.empty() && !o_.port.empty()) o_.mode = "port";
        if (o_.mode.empty()) return "say what to do (--port, --list-ports, ...)";
        if (settingsMode && o_.port.empty()) return "--" + o_.mode + " needs --port";
        if (!o_.firmware.empty() && !o_.rep && !o_.factory)
            return "--firmware needs --rep or --factory";
        if (o_.mode == "send-feedback" && name_->count() == 0)
            return "--send-feedback needs --name";
        if (!o_.newSerial.empty() && !o_.factory) return "--new-serial needs --factory";
        if (o_.newSerial.size() > 15) return "--new-serial takes at most 15 characters";
        return {};
    }

    Options& o_;
    CLI::App app_{"", "tarsa-update"};
    std::string simulateBaud_;
    std::string simulateCount_;
    std::string kind_;
    CLI::Option* name_ = nullptr;
    std::vector<std::pair<CLI::Option*, const char*>> modes_;
    std::vector<std::pair<const CLI::Option*, const std::string*>> values_;
};

}  // namespace

std::optional<int> ParseOptions(int argc, const char* const* argv, Options& o, FILE* out,
                                FILE* err) {
    CommandLine line(o);
    std::string problem;
    try {
        problem = line.Parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        fputs(line.Help().c_str(), out);
        return kExitOk;
    } catch (const CLI::CallForVersion& version) {
        fprintf(out, "%s\n", version.what());
        return kExitOk;
    }
    if (problem.empty()) return std::nullopt;
    fprintf(err, "tarsa-update: %s\n", problem.c_str());
    fputs(line.Help().c_str(), err);
    return kExitUsage;
}

}  // namespace tarsa::cli
