// The updater's main window in Qt Widgets: draws the controls and menus of
// the window definition (app/window_definition.h), forwards every click,
// pick, timer and close request to the window logic (app::MainWindow) and
// carries out what the logic asks through app::MainWindowUi. It makes no
// decision of its own.
//
// Start-up runs when the window is first shown. Messages are modal and
// centred on the window; the close box, Alt+F4 and "&Exit" go through the
// logic's close request, which refuses while an update runs.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <array>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "app/main_window.h"
#include "app/main_window_ui.h"
#include "app/window_definition.h"

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QShortcut;
class QTimer;

namespace tarsa::gui {

class FeedbackWindow;

class UpdaterWindow : public QMainWindow, public app::MainWindowUi {
    Q_OBJECT

  public:
    UpdaterWindow(app::BuildConfig config, app::PortLister lister, SettingsStore& store,
                  app::Environment environment, QWidget* parent = nullptr);
    ~UpdaterWindow() override;

    app::MainWindow& Logic() { return logic_; }
    // The menu item of a window-definition object name ("Help2"), or null.
    QAction* Action(const QString& objectName) const;
    // The entries of the "Set Digital Sensor to:" menu, in table order.
    const std::vector<QAction*>& SensorActions() const { return sensorActions_; }
    // The feedback and version-check window, hidden, from start-up on.
    FeedbackWindow* Feedback() const { return feedback_.get(); }
    // True once the window has closed for good (the settings are written).
    bool Finished() const { return finished_; }

    // app::MainWindowUi
    void SetWindowCaption(const std::string& text) override;
    void SetApplicationTitle(const std::string& text) override;
    void SetMenuCaption(app::MenuItem item, const std::string& text) override;
    void SetMenuEnabled(app::MenuItem item, bool enabled) override;
    void SetMenuVisible(app::MenuItem item, bool visible) override;
    void SetMenuChecked(app::MenuItem item, bool checked) override;
    void SetSensorEntryChecked(int entry, bool checked) override;
    void SetLabel(app::Label label, const std::string& text) override;
    void SetLabelVisible(app::Label label, bool visible) override;
    void RepaintLabel(app::Label label) override;
    void SetProgress(int position) override;
    void ClearPortList() override;
    void AppendPort(const std::string& text) override;
    void SetPortIndex(int index) override;
    int PortIndex() const override;
    void SetPortListEnabled(bool enabled) override;
    void SetButtonEnabled(app::Button button, bool enabled) override;
    void SetDefaultButton(app::Button button, bool isDefault) override;
    void SetSerialEditVisible(bool visible) override;
    void SetSerialEditText(const std::string& text) override;
    std::string SerialEditText() const override;
    void FocusSerialEdit() override;
    void SetBusyCursor(bool busy) override;
    void PumpMessages() override;
    void ShowMessage(const std::string& text, const std::string& caption,
                     app::MessageKind kind) override;
    bool AskOkCancel(const std::string& text, const std::string& caption) override;
    void WarningBox(const std::string& text, const std::string& caption) override;
    void BeepInformation() override;
    void StartTimer(app::Timer timer, uint32_t ms) override;
    void StopTimer(app::Timer timer) override;
    void CloseWindow() override;
    bool ChooseFirmwareFile(const app::FileDialog& dialog, std::string& path) override;
    bool ChooseDumpFile(const app::FileDialog& dialog, std::string& path) override;

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void BuildControls();
    void BuildMenus();
    void Run(app::Command command);
    QLabel* LabelOf(app::Label label) const;
    QPushButton* ButtonOf(app::Button button) const;
    void SyncShortcut(QAction* action);

    app::MainWindow logic_;
    app::Environment environment_;
    bool shown_ = false;
    bool closeAllowed_ = false;
    bool inCloseEvent_ = false;
    bool finished_ = false;
    bool busyCursor_ = false;

    std::map<app::Label, QLabel*> labels_;
    QComboBox* ports_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QLineEdit* serialEdit_ = nullptr;
    QPushButton* start_ = nullptr;
    QPushButton* close_ = nullptr;
    std::map<app::MenuItem, std::vector<QAction*>> items_;
    std::map<QString, QAction*> actionsByName_;
    // Qt runs no shortcut of a hidden menu item; a window shortcut stands in
    // while the item is hidden ("&Dump Firmware Image..." is never shown).
    std::map<QAction*, QShortcut*> hiddenShortcuts_;
    std::set<QAction*> disabled_;  // the actions the logic has disabled
    std::vector<QAction*> sensorActions_;
    std::array<QTimer*, 4> timers_{};
    // Declared after the logic: it is destroyed first and gives the feedback
    // record its previous user interface back.
    std::unique_ptr<FeedbackWindow> feedback_;
};

}  // namespace tarsa::gui
