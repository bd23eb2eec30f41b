// The main window's definition: every control and menu item with its
// object name, initial text, hint, font and state, the menu shortcuts and
// the two file dialogs. Window layers build themselves from these tables, so
// no text of the window is typed twice; the logic changes them later only
// through MainWindowUi.
//
// Captions keep the toolkit's mnemonic form: "&" marks the access key and
// "&&" stands for one "&".
#pragma once

#include <array>
#include <optional>

#include "app/main_window_ui.h"

namespace tarsa::app {

enum class ControlKind { Label, DropDown, ProgressBar, Edit, Button };

struct ControlDefinition {
    const char* objectName;
    ControlKind kind;
    const char* text;  // initial text (empty for the list, the bar and the edit)
    const char* hint;  // tooltip; empty: none
    bool bold;
    bool wordWrap;
    bool visible;
    std::optional<Label> label;  // labels the logic sets through MainWindowUi
};

inline constexpr int kSerialEditMaxChars = 15;

inline constexpr std::array<ControlDefinition, 12> kMainControls{{
    {"userText1", ControlKind::Label, "This utility updates instrument firmware to", "", false,
     false, true, Label::UserText1},
    {"userText2", ControlKind::Label, "Instrument x.yy", "", true, true, true, Label::UserText2},
    {"lblConnect", ControlKind::Label, "Connect instrument to computer comm port.", "", true, false,
     true, Label::LblConnect},
    {"commLabel", ControlKind::Label, "Use computer comm port:", "", false, false, true,
     Label::CommLabel},
    {"cbCommPort", ControlKind::DropDown, "", "Pick your comm port from this list.", true, false,
     true, std::nullopt},
    {"Label1", ControlKind::Label, "Status:", "", true, false, true, std::nullopt},
    {"statusText", ControlKind::Label, "", "", false, false, false, Label::StatusText},
    {"statusBar", ControlKind::ProgressBar, "", "", false, false, true, std::nullopt},
    {"newSN", ControlKind::Label, "New Serial Number", "", false, false, false, Label::NewSN},
    {"newSNstr", ControlKind::Edit, "", "", false, false, false, std::nullopt},
    {"btnStart", ControlKind::Button, "Start", "", false, false, true, std::nullopt},
    {"btnClose", ControlKind::Button, "Close", "", false, false, true, std::nullopt},
}};

// The commands behind the menu items, for the window to call the logic.
enum class Command {
    OpenFirmwareFile,
    UpdateFirmware,
    DumpFirmwareImage,
    Exit,
    VerboseErrorFile,
    ForceFindAllCommPorts,
    DontEraseData,
    ReplaceSerialNumber,
    Help,
    SendFeedback,
    CheckNewerVersion,
    About,
    None,  // separators and the sensor section's heading
};

struct MenuItemDefinition {
    const char* objectName;  // empty for a separator
    const char* caption;     // empty for a separator
    const char* shortcut;    // portable key text ("Ctrl+O"); empty: none
    Command command;
    std::optional<MenuItem> item;  // items whose state the logic changes
    bool checkable;
    bool checked;
    bool enabled;
    bool visible;
};

struct MenuDefinition {
    const char* objectName;
    const char* caption;
    int first;  // index of its first item in kMenuItems
    int count;
};

inline constexpr std::array<MenuItemDefinition, 16> kMenuItems{{
    {"OpenFirmwareFile1", "&Open Firmware File...", "Ctrl+O", Command::OpenFirmwareFile,
     MenuItem::OpenFirmwareFile, false, false, false, true},
    {"UpdateFirmware1", "&Update Firmware", "Ctrl+F", Command::UpdateFirmware,
     MenuItem::UpdateFirmware, false, false, true, true},
    {"DumpFirmwareImage1", "&Dump Firmware Image...", "Ctrl+Alt+D", Command::DumpFirmwareImage,
     MenuItem::DumpFirmwareImage, false, false, true, false},
    {"", "", "", Command::None, std::nullopt, false, false, true, true},
    {"Exit1", "&Exit", "Ctrl+Q", Command::Exit, std::nullopt, false, false, true, true},

    {"VerboseErrorFile1", "&Verbose Error File", "", Command::VerboseErrorFile,
     MenuItem::VerboseErrorFile, true, true, false, true},
    {"ForceFindAllCommPorts1", "Force Find All &Comm Ports", "", Command::ForceFindAllCommPorts,
     MenuItem::ForceFindAllCommPorts, true, false, true, true},
    {"DontEraseData1", "&Don't Erase Data", "", Command::DontEraseData, MenuItem::DontEraseData,
     true, false, true, false},
    {"ReplaceSerialNumber1", "&Replace Serial Number", "", Command::ReplaceSerialNumber,
     MenuItem::ReplaceSerialNumber, true, false, true, false},
    // The digital-sensor section: a separator and a heading; the window adds
    // the entries of kSensorMenu (app/sensor_workflow.h) after it, all hidden
    // with it.
    {"", "", "", Command::None, MenuItem::DigitalSensorSection, false, false, true, false},
    {"SetDigitalSensor1", "Set Digital Sensor to:", "", Command::None,
     MenuItem::DigitalSensorSection, false, false, false, false},

    {"Help2", "&Help", "F1", Command::Help, std::nullopt, false, false, true, true},
    {"SendFeedback1", "Send Feedback to Halvern...", "", Command::SendFeedback, std::nullopt, false,
     false, true, true},
    {"CheckForNewerFirmwareVersion1", "Check for Newer Firmware Version", "",
     Command::CheckNewerVersion, std::nullopt, false, false, true, true},
    {"", "", "", Command::None, std::nullopt, false, false, true, true},
    {"About1", "&About...", "", Command::About, MenuItem::About, false, false, true, true},
}};

inline constexpr std::array<MenuDefinition, 3> kMenus{{
    {"File1", "&File", 0, 5},
    {"Settings1", "&Settings", 5, 6},
    {"Help1", "&Help", 11, 5},
}};

// The open and save dialogs (the folder is filled in when one is run).
inline constexpr const char* kOpenFirmwareTitle = "Please select a firmware file";
inline constexpr const char* kOpenFirmwareFilter = "Firmware File (*.txt)|*.txt|Any File (*.*)|*.*";
inline constexpr const char* kSaveImageTitle = "Save Firmware Image";
inline constexpr const char* kFirmwareExtension = ".txt";

}  // namespace tarsa::app
