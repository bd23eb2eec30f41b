// What the main window's logic needs from a user interface.
//
// The logic of the updater (start-up, the update workflows, the menus, the
// gates and the messages) talks to the user only through this interface, so
// it runs the same behind a Qt window, on a terminal, or under a recording
// fake in tests. Implementations only draw and ask; they make no decisions.
#pragma once

#include <cstdint>
#include <string>

namespace tarsa::app {

// Labels of the main window.
enum class Label { UserText1, UserText2, CommLabel, LblConnect, StatusText, NewSN };

// Menu items whose caption or state the logic changes.
enum class MenuItem {
    OpenFirmwareFile,
    UpdateFirmware,
    DumpFirmwareImage,
    VerboseErrorFile,
    ForceFindAllCommPorts,
    DontEraseData,
    ReplaceSerialNumber,
    DigitalSensorSection,  // separator, "Set Digital Sensor to:" and the sensor entries
    About,
};

enum class Button { Start, Close };

// Kinds of message dialogs; each has its icon and system sound.
enum class MessageKind { Warning = 0, Error = 1, Information = 2, Confirmation = 3, Plain = 4 };

// The one-shot timers of the main window.
enum class Timer { Start, EraseWarn, WebCheck, ConstructorErrors };

// An open or save dialog as the logic asks for it.
struct FileDialog {
    std::string title;
    std::string defaultExtension;  // ".txt"; added when the user types none
    // Pairs of "description|pattern" joined by "|", e.g. "Text (*.txt)|*.txt";
    // empty: no filter.
    std::string filter;
    std::string folder;  // initial folder; empty: the toolkit's choice
    bool mustExist;      // open dialogs: the path and the file must exist
};

class MainWindowUi {
  public:
    virtual ~MainWindowUi() = default;

    virtual void SetWindowCaption(const std::string& text) = 0;
    virtual void SetApplicationTitle(const std::string& text) = 0;
    virtual void SetMenuCaption(MenuItem item, const std::string& text) = 0;
    virtual void SetMenuEnabled(MenuItem item, bool enabled) = 0;
    virtual void SetMenuVisible(MenuItem item, bool visible) = 0;
    virtual void SetMenuChecked(MenuItem item, bool checked) = 0;
    // Checks or unchecks one entry of the "Set Digital Sensor to:" menu, by
    // its index in kSensorMenu (app/sensor_workflow.h). Front ends without
    // that menu (the terminal) ignore it.
    virtual void SetSensorEntryChecked(int /*entry*/, bool /*checked*/) {}

    virtual void SetLabel(Label label, const std::string& text) = 0;
    virtual void SetLabelVisible(Label label, bool visible) = 0;
    virtual void RepaintLabel(Label label) = 0;

    virtual void SetProgress(int position) = 0;  // 0..100

    virtual void ClearPortList() = 0;
    virtual void AppendPort(const std::string& text) = 0;
    virtual void SetPortIndex(int index) = 0;
    virtual int PortIndex() const = 0;
    virtual void SetPortListEnabled(bool enabled) = 0;

    virtual void SetButtonEnabled(Button button, bool enabled) = 0;
    virtual void SetDefaultButton(Button button, bool isDefault) = 0;

    virtual void SetSerialEditVisible(bool visible) = 0;
    virtual void SetSerialEditText(const std::string& text) = 0;
    virtual std::string SerialEditText() const = 0;  // at most 15 characters
    virtual void FocusSerialEdit() = 0;

    virtual void SetBusyCursor(bool busy) = 0;
    // Handles pending window events and repaints; returns at once.
    virtual void PumpMessages() = 0;

    // A modal message with one OK button (icon and sound by kind).
    virtual void ShowMessage(const std::string& text, const std::string& caption,
                             MessageKind kind) = 0;
    // A warning with OK and Cancel; true for OK.
    virtual bool AskOkCancel(const std::string& text, const std::string& caption) = 0;
    // A plain warning box with one OK button.
    virtual void WarningBox(const std::string& text, const std::string& caption) = 0;
    virtual void BeepInformation() = 0;

    // Arms a one-shot timer; the window layer calls MainWindow::OnTimer when it fires.
    virtual void StartTimer(Timer timer, uint32_t ms) = 0;
    virtual void StopTimer(Timer timer) = 0;

    // Asks the window layer to close the window (it then calls MainWindow::FormClose).
    virtual void CloseWindow() = 0;

    // File dialogs: true with a path, false when cancelled.
    virtual bool ChooseFirmwareFile(const FileDialog& dialog, std::string& path) = 0;
    virtual bool ChooseDumpFile(const FileDialog& dialog, std::string& path) = 0;
};

}  // namespace tarsa::app
