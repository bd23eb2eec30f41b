#include "gui/updater_window.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QStringList>
#include <QTimer>
#include <functional>

#include "app/sensor_workflow.h"
#include "app/window_definition.h"
#include "gui/feedback_window.h"

namespace tarsa::gui {
namespace {

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

// The port list asks the logic to enumerate again each time it opens.
class PortBox : public QComboBox {
  public:
    using QComboBox::QComboBox;
    std::function<void()> onDropDown;
    void showPopup() override {
        if (onDropDown) onDropDown();
        QComboBox::showPopup();
    }
};

// Where each control sits in the 346 by 262 client area.
struct Place {
    const char* objectName;
    int x, y, w, h;
};
constexpr Place kPlaces[] = {
    {"userText1", 16, 8, 314, 18},    {"userText2", 16, 26, 314, 34},
    {"lblConnect", 16, 62, 314, 18},  {"commLabel", 16, 86, 314, 18},
    {"cbCommPort", 16, 104, 314, 26}, {"Label1", 16, 138, 52, 18},
    {"statusText", 16, 156, 314, 18}, {"statusBar", 16, 178, 314, 18},
    {"newSN", 16, 202, 130, 22},      {"newSNstr", 150, 202, 180, 22},
    {"btnStart", 160, 228, 82, 26},   {"btnClose", 248, 228, 82, 26},
};
constexpr int kClientWidth = 346;
constexpr int kClientHeight = 262;

QMessageBox::Icon IconOf(app::MessageKind kind) {
    switch (kind) {
        case app::MessageKind::Warning:
            return QMessageBox::Warning;
        case app::MessageKind::Error:
            return QMessageBox::Critical;
        case app::MessageKind::Information:
            return QMessageBox::Information;
        case app::MessageKind::Confirmation:
            return QMessageBox::Question;
        case app::MessageKind::Plain:
            return QMessageBox::NoIcon;
    }
    return QMessageBox::NoIcon;
}

// "Name (*.a)|*.a|Other (*.*)|*.*" as Qt writes it: the descriptions, which
// carry their patterns in parentheses, joined by ";;".
QString QtFilter(const std::string& filter) {
    const QStringList parts = Q(filter).split('|');
    QStringList names;
    for (int i = 0; i + 1 < parts.size(); i += 2) names << parts[i];
    return names.join(";;");
}

app::Timer TimerAt(size_t index) {
    return static_cast<app::Timer>(index);
}

}  // namespace

UpdaterWindow::UpdaterWindow(app::BuildConfig config, app::PortLister lister, SettingsStore& store,
                             app::Environment environment, QWidget* parent)
    : QMainWindow(parent),
      logic_(*this, store, std::move(config), std::move(lister)),
      environment_(std::move(environment)) {
    setObjectName("frmMain");
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    BuildControls();
    BuildMenus();
    for (size_t i = 0; i < timers_.size(); ++i) {
        timers_[i] = new QTimer(this);
        timers_[i]->setSingleShot(true);
        connect(timers_[i], &QTimer::timeout, this, [this, i] { logic_.OnTimer(TimerAt(i)); });
    }
    setFixedSize(sizeHint());
}

UpdaterWindow::~UpdaterWindow() {
    if (busyCursor_) QApplication::restoreOverrideCursor();
}

void UpdaterWindow::BuildControls() {
    auto* client = new QWidget(this);
    client->setObjectName("client");
    client->setFixedSize(kClientWidth, kClientHeight);
    for (const app::ControlDefinition& c : app::kMainControls) {
        QWidget* widget = nullptr;
        switch (c.kind) {
            case app::ControlKind::Label: {
                auto* label = new QLabel(c.text, client);
                label->setWordWrap(c.wordWrap);
                label->setAlignment(Qt::AlignLeft | (c.wordWrap ? Qt::AlignTop : Qt::AlignVCenter));
                if (c.label) labels_[*c.label] = label;
                widget = label;
                break;
            }
            case app::ControlKind::DropDown: {
                auto* box = new PortBox(client);
                box->onDropDown = [this] { logic_.cbCommPortDropDown(); };
                connect(box, &QComboBox::activated, this,
                        [this](int) { logic_.cbCommPortChange(); });
                ports_ = box;
                widget = box;
                break;
            }
            case app::ControlKind::ProgressBar:
                progress_ = new QProgressBar(client);
                progress_->setRange(0, 100);
                progress_->setValue(0);
                progress_->setTextVisible(false);
                widget = progress_;
                break;
            case app::ControlKind::Edit:
                serialEdit_ = new QLineEdit(client);
                serialEdit_->setMaxLength(app::kSerialEditMaxChars);
                widget = serialEdit_;
                break;
            case app::ControlKind::Button: {
                auto* button = new QPushButton(c.text, client);
                button->setAutoDefault(false);
                if (std::string_view(c.objectName) == "btnStart") {
                    start_ = button;
                    start_->setDefault(true);
                    connect(button, &QPushButton::clicked, this, [this] {
                        if (!logic_.Busy()) logic_.btnStartClick();
                    });
                } else {
                    close_ = button;
                    connect(button, &QPushButton::clicked, this, [this] { close(); });
                }
                widget = button;
                break;
            }
        }
        widget->setObjectName(c.objectName);
        if (c.hint[0] != '\0') widget->setToolTip(c.hint);
        QFont font = widget->font();
        font.setBold(c.bold);
        widget->setFont(font);
        for (const Place& p : kPlaces) {
            if (QString(p.objectName) == c.objectName) widget->setGeometry(p.x, p.y, p.w, p.h);
        }
        widget->setVisible(c.visible);
    }
    setCentralWidget(client);
}

void UpdaterWindow::BuildMenus() {
    QMenuBar* bar = menuBar();
    for (const app::MenuDefinition& m : app::kMenus) {
        QMenu* menu = bar->addMenu(m.caption);
        menu->setObjectName(m.objectName);
        for (int i = m.first; i < m.first + m.count; ++i) {
            const app::MenuItemDefinition& d = app::kMenuItems[static_cast<size_t>(i)];
            QAction* action =
                d.caption[0] == '\0' ? menu->addSeparator() : menu->addAction(d.caption);
            if (d.objectName[0] != '\0') {
                action->setObjectName(d.objectName);
                actionsByName_[d.objectName] = action;
            }
            action->setCheckable(d.checkable);
            action->setChecked(d.checked);
            action->setEnabled(d.enabled);
            if (!d.enabled) disabled_.insert(action);
            action->setVisible(d.visible);
            if (d.shortcut[0] != '\0') {
                auto* standIn = new QShortcut(QKeySequence(d.shortcut), this);
                connect(standIn, &QShortcut::activated, action, &QAction::trigger);
                hiddenShortcuts_[action] = standIn;
                SyncShortcut(action);
            }
            if (d.item) items_[*d.item].push_back(action);
            const app::Command command = d.command;
            if (command != app::Command::None) {
                // A checkable item's check is the logic's to set: it toggles
                // its own state and reports it back.
                connect(action, &QAction::triggered, this, [this, action, command] {
                    if (action->isCheckable()) action->setChecked(!action->isChecked());
                    Run(command);
                });
            }
            if (std::string_view(d.objectName) == "SetDigitalSensor1" &&
                logic_.Config().digitalSensor) {
                auto* group = new QActionGroup(this);
                group->setExclusionPolicy(QActionGroup::ExclusionPolicy::None);
                for (size_t e = 0; e < app::kSensorMenu.size(); ++e) {
                    QAction* entry = menu->addAction(app::kSensorMenu[e].caption);
                    entry->setObjectName(QString("SensorEntry%1").arg(e));
                    entry->setCheckable(true);
                    entry->setVisible(false);
                    group->addAction(entry);
                    items_[app::MenuItem::DigitalSensorSection].push_back(entry);
                    sensorActions_.push_back(entry);
                    const int32_t value = app::kSensorMenu[e].value;
                    connect(entry, &QAction::triggered, this, [this, entry, value] {
                        entry->setChecked(!entry->isChecked());
                        logic_.SelectTargetSensor(value);
                    });
                }
            }
        }
    }
}

void UpdaterWindow::SyncShortcut(QAction* action) {
    auto it = hiddenShortcuts_.find(action);
    if (it == hiddenShortcuts_.end()) return;
    // One of the two holds the keys at a time, or neither would run.
    action->setShortcut(action->isVisible() ? it->second->key() : QKeySequence());
    // A hidden action reports itself disabled; the stand-in follows what the
    // logic last asked for.
    it->second->setEnabled(!action->isVisible() && !disabled_.count(action));
}

QAction* UpdaterWindow::Action(const QString& objectName) const {
    auto it = actionsByName_.find(objectName);
    return it == actionsByName_.end() ? nullptr : it->second;
}

void UpdaterWindow::Run(app::Command command) {
    using app::Command;
    // The update runs inside the event loop's turns (the port's waits handle
    // window events), so a command can arrive in the middle of it. Those that
    // would start a second session on the port, or replace the firmware image
    // being sent, are refused until it ends.
    if (logic_.Busy() &&
        (command == Command::UpdateFirmware || command == Command::OpenFirmwareFile ||
         command == Command::DumpFirmwareImage)) {
        QApplication::beep();
        return;
    }
    switch (command) {
        case Command::OpenFirmwareFile:
            logic_.OpenFirmwareFile1Click();
            break;
        case Command::UpdateFirmware:
            logic_.UpdateFirmware1Click();
            break;
        case Command::DumpFirmwareImage:
            logic_.DumpFirmwareImage1Click();
            break;
        case Command::Exit:
            logic_.RequestClose();
            break;
        case Command::VerboseErrorFile:
            logic_.VerboseErrorFileClick();
            break;
        case Command::ForceFindAllCommPorts:
            logic_.ForceFindAllCommPortsClick();
            break;
        case Command::DontEraseData:
            logic_.DontEraseDataClick();
            break;
        case Command::ReplaceSerialNumber:
            logic_.ReplaceSerialNumberClick();
            break;
        case Command::Help:
            logic_.Help2Click();
            break;
        case Command::SendFeedback:
            logic_.SendFeedbackClick();
            break;
        case Command::CheckNewerVersion:
            logic_.CheckForNewerFirmwareVersion1Click();
            break;
        case Command::About:
            logic_.About1Click();
            break;
        case Command::None:
            break;
    }
}

void UpdaterWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (shown_) return;
    shown_ = true;
    if (QScreen* screen = this->screen()) {
        QRect area = screen->availableGeometry();
        move(area.center() - QPoint(frameGeometry().width() / 2, frameGeometry().height() / 2));
    }
    logic_.FormShow(environment_);
    feedback_ = std::make_unique<FeedbackWindow>(logic_.Web(), this);
}

void UpdaterWindow::closeEvent(QCloseEvent* event) {
    if (finished_) {
        event->accept();
        return;
    }
    if (!closeAllowed_) {
        inCloseEvent_ = true;
        const bool closing = logic_.RequestClose();
        inCloseEvent_ = false;
        if (!closing) {
            event->ignore();
            return;
        }
    }
    for (QTimer* timer : timers_) timer->stop();
    logic_.FormClose();
    finished_ = true;
    event->accept();
}

void UpdaterWindow::keyPressEvent(QKeyEvent* event) {
    // Enter presses the default button, Escape the cancel button (Close).
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        QPushButton* button = start_->isDefault() ? start_ : close_;
        if (button->isEnabled() && button->isVisible()) button->click();
        return;
    }
    if (event->key() == Qt::Key_Escape) {
        if (close_->isEnabled()) close_->click();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

void UpdaterWindow::SetWindowCaption(const std::string& text) {
    setWindowTitle(Q(text));
}

void UpdaterWindow::SetApplicationTitle(const std::string& text) {
    // The name, not the display name: Qt would append a display name to
    // every window title.
    QCoreApplication::setApplicationName(Q(text));
}

void UpdaterWindow::SetMenuCaption(app::MenuItem item, const std::string& text) {
    for (QAction* a : items_[item]) a->setText(Q(text));
}

void UpdaterWindow::SetMenuEnabled(app::MenuItem item, bool enabled) {
    for (QAction* a : items_[item]) {
        // The sensor section's heading is never a command.
        if (a->objectName() == "SetDigitalSensor1") continue;
        a->setEnabled(enabled);
        if (enabled) {
            disabled_.erase(a);
        } else {
            disabled_.insert(a);
        }
        SyncShortcut(a);
    }
}

void UpdaterWindow::SetMenuVisible(app::MenuItem item, bool visible) {
    for (QAction* a : items_[item]) {
        a->setVisible(visible);
        SyncShortcut(a);
    }
}

void UpdaterWindow::SetMenuChecked(app::MenuItem item, bool checked) {
    for (QAction* a : items_[item]) {
        if (a->isCheckable()) a->setChecked(checked);
    }
}

void UpdaterWindow::SetSensorEntryChecked(int entry, bool checked) {
    if (entry >= 0 && entry < static_cast<int>(sensorActions_.size()))
        sensorActions_[static_cast<size_t>(entry)]->setChecked(checked);
}

QLabel* UpdaterWindow::LabelOf(app::Label label) const {
    auto it = labels_.find(label);
    return it == labels_.end() ? nullptr : it->second;
}

void UpdaterWindow::SetLabel(app::Label label, const std::string& text) {
    if (QLabel* l = LabelOf(label)) l->setText(Q(text));
}

void UpdaterWindow::SetLabelVisible(app::Label label, bool visible) {
    if (QLabel* l = LabelOf(label)) l->setVisible(visible);
}

void UpdaterWindow::RepaintLabel(app::Label label) {
    if (QLabel* l = LabelOf(label)) l->repaint();
}

void UpdaterWindow::SetProgress(int position) {
    progress_->setValue(position);
}

void UpdaterWindow::ClearPortList() {
    ports_->clear();
}

void UpdaterWindow::AppendPort(const std::string& text) {
    ports_->addItem(Q(text));
}

void UpdaterWindow::SetPortIndex(int index) {
    ports_->setCurrentIndex(index);
}

int UpdaterWindow::PortIndex() const {
    return ports_->currentIndex();
}

void UpdaterWindow::SetPortListEnabled(bool enabled) {
    ports_->setEnabled(enabled);
}

QPushButton* UpdaterWindow::ButtonOf(app::Button button) const {
    return button == app::Button::Start ? start_ : close_;
}

void UpdaterWindow::SetButtonEnabled(app::Button button, bool enabled) {
    ButtonOf(button)->setEnabled(enabled);
}

void UpdaterWindow::SetDefaultButton(app::Button button, bool isDefault) {
    ButtonOf(button)->setDefault(isDefault);
    if (isDefault)
        ButtonOf(button == app::Button::Start ? app::Button::Close : app::Button::Start)
            ->setDefault(false);
}

void UpdaterWindow::SetSerialEditVisible(bool visible) {
    serialEdit_->setVisible(visible);
}

void UpdaterWindow::SetSerialEditText(const std::string& text) {
    serialEdit_->setText(Q(text));
}

std::string UpdaterWindow::SerialEditText() const {
    return serialEdit_->text().left(app::kSerialEditMaxChars).toStdString();
}

void UpdaterWindow::FocusSerialEdit() {
    serialEdit_->setFocus();
}

void UpdaterWindow::SetBusyCursor(bool busy) {
    if (busy == busyCursor_) return;
    busyCursor_ = busy;
    if (busy) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
        QApplication::restoreOverrideCursor();
    }
}

void UpdaterWindow::PumpMessages() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void UpdaterWindow::ShowMessage(const std::string& text, const std::string& caption,
                                app::MessageKind kind) {
    // The platform has one bell; every kind rings it before the box opens.
    QApplication::beep();
    QMessageBox box(IconOf(kind), Q(caption), Q(text), QMessageBox::Ok, this);
    box.setObjectName("ErrorOK");
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
    box.exec();
}

bool UpdaterWindow::AskOkCancel(const std::string& text, const std::string& caption) {
    QMessageBox box(QMessageBox::Warning, Q(caption), Q(text),
                    QMessageBox::Ok | QMessageBox::Cancel, this);
    box.setObjectName("AskOkCancel");
    return box.exec() == QMessageBox::Ok;
}

void UpdaterWindow::WarningBox(const std::string& text, const std::string& caption) {
    QMessageBox box(QMessageBox::Warning, Q(caption), Q(text), QMessageBox::Ok, this);
    box.setObjectName("WarningBox");
    box.exec();
}

void UpdaterWindow::BeepInformation() {
    QApplication::beep();
}

void UpdaterWindow::StartTimer(app::Timer timer, uint32_t ms) {
    timers_[static_cast<size_t>(timer)]->start(static_cast<int>(ms));
}

void UpdaterWindow::StopTimer(app::Timer timer) {
    timers_[static_cast<size_t>(timer)]->stop();
}

void UpdaterWindow::CloseWindow() {
    closeAllowed_ = true;
    // Inside a close event the event itself is accepted on return.
    if (!inCloseEvent_) close();
}

bool UpdaterWindow::ChooseFirmwareFile(const app::FileDialog& dialog, std::string& path) {
    QFileDialog fd(this, Q(dialog.title), Q(dialog.folder), QtFilter(dialog.filter));
    fd.setObjectName("OpenDialog");
    fd.setAcceptMode(QFileDialog::AcceptOpen);
    fd.setFileMode(dialog.mustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    fd.setOption(QFileDialog::ReadOnly, false);
    fd.setDefaultSuffix(Q(dialog.defaultExtension).remove(0, 1));
    fd.setSizeGripEnabled(true);
    if (fd.exec() != QDialog::Accepted || fd.selectedFiles().isEmpty()) return false;
    path = fd.selectedFiles().front().toStdString();
    return true;
}

bool UpdaterWindow::ChooseDumpFile(const app::FileDialog& dialog, std::string& path) {
    QFileDialog fd(this, Q(dialog.title), Q(dialog.folder), QtFilter(dialog.filter));
    fd.setObjectName("SaveDialog");
    fd.setAcceptMode(QFileDialog::AcceptSave);
    fd.setDefaultSuffix(Q(dialog.defaultExtension).remove(0, 1));
    if (fd.exec() != QDialog::Accepted || fd.selectedFiles().isEmpty()) return false;
    path = fd.selectedFiles().front().toStdString();
    return true;
}

}  // namespace tarsa::gui
