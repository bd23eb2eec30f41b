// The updater's main window on the offscreen platform: start-up per mode,
// the port list, a whole update of a simulated Talox through the window, the
// close request, the menu commands, the start-up error, the blocking pump,
// a port that vanishes mid-update, a directory as firmware file and the
// digital-sensor menu.
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest/QtTest>
#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>

#include "app/sensor_workflow.h"
#include "app/window_definition.h"
#include "dialog_answerer.h"
#include "gui/feedback_window.h"
#include "gui/message_pump.h"
#include "gui/updater_window.h"
#include "serial/timing.h"
#include "sim/simulator.h"
#include "web/web_test_support.h"

using tarsa::guitest::DialogAnswerer;
namespace app = tarsa::app;

namespace {

constexpr bool kSensorBuild = TARSA_DIGITAL_SENSOR_BUILD != 0;

class MemoryStore : public tarsa::SettingsStore {
  public:
    std::string Read(const std::string& key) override { return values[key]; }
    bool Write(const std::string& key, const std::string& value) override {
        values[key] = value;
        return true;
    }
    std::map<std::string, std::string> values;
};

// The window, recording the status lines and the highest progress it drew.
class RecordingWindow : public tarsa::gui::UpdaterWindow {
  public:
    using UpdaterWindow::UpdaterWindow;
    void SetLabel(app::Label label, const std::string& text) override {
        if (label == app::Label::StatusText) statuses.push_back(text);
        UpdaterWindow::SetLabel(label, text);
    }
    void SetProgress(int position) override {
        highest = std::max(highest, position);
        UpdaterWindow::SetProgress(position);
    }
    std::vector<std::string> statuses;
    int highest = 0;
};

// Counts the ticks of a 20 ms timer and the longest time between two.
struct Ticker {
    Ticker() {
        timer.setInterval(20);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            if (ticks++ > 0)
                longestGapMs = std::max(longestGapMs, clock.restart());
            else
                clock.start();
        });
        timer.start();
    }
    QTimer timer;
    QElapsedTimer clock;
    int ticks = 0;
    qint64 longestGapMs = 0;
};

}  // namespace

class UpdaterWindowTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<RecordingWindow> Open(QStringList args = {}) {
        app::BuildConfig config;
        config.programVersion = "9.8.7";
        if (kSensorBuild) {
            config.targetType = tarsa::kTypeDigitalSensor;
            config.digitalSensor = true;
            config.defaultSensorType = tarsa::kProgramSensorType;
        }
        app::Environment env;
        for (const QString& a : args) env.arguments.push_back(a.toStdString());
        env.dataFolder = dir_->path().toStdString();
        env.feedbackStore = &feedbackStore_;
        env.quietVersionCheck = true;
        auto window = std::make_unique<RecordingWindow>(
            config,
            [this](tarsa::TarsaSerial&, std::vector<app::PortEntry>& out, bool) {
                out = ports_;
                return static_cast<int>(ports_.size());
            },
            store_, env);
        window->show();
        return window;
    }
    template <typename T>
    static T* Find(QWidget& w, const char* name) {
        return w.findChild<T*>(name);
    }
    std::unique_ptr<tarsa::sim::Simulator> StartTalox() {
        tarsa::sim::DeviceConfig config;
        config.version = "2.10";
        config.settings = {{"i", "GUI01"}, {"site", "Window lake"}};
        return tarsa::sim::Simulator::Start("talox", config);
    }

    std::unique_ptr<QTemporaryDir> dir_;
    MemoryStore store_;
    MemoryStore feedbackStore_;
    std::vector<app::PortEntry> ports_;

  private Q_SLOTS:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        store_.values.clear();
        ports_ = {{"ttyUSB0", "USB Serial (ttyUSB0)"}, {"ttyUSB1", "Radio Modem (ttyUSB1)"}};
    }

    void startUpPerMode_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("openEnabled");
        QTest::addColumn<bool>("replaceVisible");
        QTest::addColumn<bool>("eraseWarning");
        QTest::newRow("normal") << QStringList{} << false << false << !kSensorBuild;
        QTest::newRow("-rep") << QStringList{"-rep"} << true << false << false;
        QTest::newRow("-factory") << QStringList{"-factory"} << true << true << false;
    }
    void startUpPerMode() {
        QFETCH(QStringList, args);
        QFETCH(bool, openEnabled);
        QFETCH(bool, replaceVisible);
        QFETCH(bool, eraseWarning);
        DialogAnswerer dialogs;
        auto w = Open(args);
        const std::string name = w->Logic().DisplayName();
        QCOMPARE(w->windowTitle().toStdString(), name + " Firmware Updater");
        QCOMPARE(w->centralWidget()->size(), QSize(346, 262));
        QCOMPARE(w->minimumSize(), w->maximumSize());
        for (const app::ControlDefinition& c : app::kMainControls) {
            QWidget* control = Find<QWidget>(*w, c.objectName);
            QVERIFY2(control, c.objectName);
            QCOMPARE(control->font().bold(), c.bold);
            QCOMPARE(control->toolTip(), QString(c.hint));
        }
        QCOMPARE(Find<QLabel>(*w, "Label1")->text(), QString("Status:"));
        QCOMPARE(Find<QLabel>(*w, "userText2")->text().toStdString(),
                 w->Logic().Host().image.label);
        QCOMPARE(Find<QLabel>(*w, "userText1")->text().toStdString(),
                 "This utility updates " + name + " firmware to");
        QVERIFY(Find<QLabel>(*w, "userText2")->wordWrap());
        QVERIFY(!Find<QLabel>(*w, "statusText")->isVisible());
        QVERIFY(Find<QPushButton>(*w, "btnStart")->isDefault());
        QCOMPARE(Find<QComboBox>(*w, "cbCommPort")->currentText(), QString("USB Serial (ttyUSB0)"));

        const std::map<QString, QString> shortcuts{{"OpenFirmwareFile1", "Ctrl+O"},
                                                   {"UpdateFirmware1", "Ctrl+F"},
                                                   {"Exit1", "Ctrl+Q"},
                                                   {"Help2", "F1"}};
        for (const auto& [item, keys] : shortcuts)
            QCOMPARE(w->Action(item)->shortcut(), QKeySequence(keys));
        QCOMPARE(w->Action("About1")->text().toStdString(), "About " + name + " Firmware Updater");
        QCOMPARE(w->Action("OpenFirmwareFile1")->isEnabled(), openEnabled);
        QCOMPARE(w->Action("ReplaceSerialNumber1")->isVisible(), replaceVisible);
        QVERIFY(w->Action("DontEraseData1")->isVisible());
        QVERIFY(!w->Action("DumpFirmwareImage1")->isVisible());
        QVERIFY(w->Action("VerboseErrorFile1")->isChecked());
        QVERIFY(!w->Action("VerboseErrorFile1")->isEnabled());

        QTest::qWait(900);  // both 500 ms timers have fired
        QCOMPARE(dialogs.Saw("Data Erase Warning"), eraseWarning);
        QVERIFY2(dialogs.seen.size() == (eraseWarning ? 1u : 0u), "the quiet check stays quiet");
    }

    void noPortsAndASavedPort() {
        ports_.clear();
        {
            auto w = Open({"-rep"});
            QCOMPARE(Find<QComboBox>(*w, "cbCommPort")->itemText(0),
                     QString("No Comm Ports Found"));
            QVERIFY(!Find<QPushButton>(*w, "btnStart")->isEnabled());
        }
        ports_ = {{"ttyUSB0", "USB Serial (ttyUSB0)"}, {"ttyUSB1", "Radio Modem (ttyUSB1)"}};
        store_.values["CommPort"] = "ttyUSB1";
        auto w = Open({"-rep"});
        QCOMPARE(Find<QComboBox>(*w, "cbCommPort")->currentIndex(), 1);
        QVERIFY(Find<QPushButton>(*w, "btnStart")->isEnabled());
    }

    void wholeUpdateThroughTheWindow() {
        if (kSensorBuild) QSKIP("the digital-sensor build updates a sensor (its own tests)");
        auto device = StartTalox();
        QVERIFY(device);
        DialogAnswerer dialogs;
        auto w = Open({"-rep"});
        w->Logic().SelectPort(device->PortPath(), "Simulated Talox");
        QCOMPARE(Find<QComboBox>(*w, "cbCommPort")->itemText(0), QString("Simulated Talox"));
        Ticker ticker;
        // While the update runs: a close request from the title-bar box, and
        // "&Open Firmware File..." (enabled in -rep), which must not replace
        // the image being sent.
        QTimer::singleShot(3000, w.get(), [&] {
            w->close();
            w->Action("OpenFirmwareFile1")->trigger();
        });
        Find<QPushButton>(*w, "btnStart")->click();
        QVERIFY(!Find<QPushButton>(*w, "btnClose")->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(!w->Logic().Busy() && w->Logic().LastResult() != 0, 120000);

        QVERIFY2(w->Logic().LastResult() > 0, w->statuses.back().c_str());
        QCOMPARE(dialogs.Count("Don't Quit Now!"), 1);
        QVERIFY(!dialogs.Saw(app::kOpenFirmwareTitle));
        QVERIFY(w->isVisible());
        const std::vector<std::string> order{"Connecting to Talox...",
                                             "Checking battery power...",
                                             "Saving settings for this Talox...",
                                             "Starting the firmware loader...",
                                             "Checking new firmware...",
                                             "Restoring settings...",
                                             "Erasing old data..."};
        auto at = w->statuses.begin();
        for (const std::string& step : order) {
            at = std::find(at, w->statuses.end(), step);
            QVERIFY2(at != w->statuses.end(), step.c_str());
        }
        const QString done = Find<QLabel>(*w, "statusText")->text();
        QVERIFY2(QRegularExpression("^Successfully updated firmware in \\d+ seconds\\.$")
                     .match(done)
                     .hasMatch(),
                 qPrintable(done));
        QCOMPARE(w->highest, 100);
        QCOMPARE(Find<QProgressBar>(*w, "statusBar")->value(), 100);
        QVERIFY(Find<QPushButton>(*w, "btnStart")->isEnabled());
        QVERIFY(Find<QPushButton>(*w, "btnClose")->isEnabled());
        QVERIFY(Find<QPushButton>(*w, "btnClose")->isDefault());
        QVERIFY(!Find<QPushButton>(*w, "btnStart")->isDefault());
        QVERIFY(Find<QComboBox>(*w, "cbCommPort")->isEnabled());
        QVERIFY2(ticker.ticks > 50, "the window kept handling its timers");
        QVERIFY2(ticker.longestGapMs < 3000, "no freeze of several seconds");

        // Closing while idle closes and writes the three settings.
        w->close();
        QVERIFY(w->Finished());
        QCOMPARE(store_.values["CommPort"], device->PortPath());
        QCOMPARE(store_.values["FindAllComms"], std::string("0"));
        QCOMPARE(store_.values["VerboseLog"], std::string("1"));
    }

    void menuCommandsReachTheLogic() {
        DialogAnswerer dialogs;
        auto w = Open({"-factory"});
        w->Action("Help2")->trigger();
        QTRY_VERIFY(dialogs.Saw("Help"));
        QCOMPARE(dialogs.seen.back().text.toStdString(), w->Logic().HelpText());
        QCOMPARE(dialogs.seen.back().icon, QMessageBox::NoIcon);
        w->Action("About1")->trigger();
        const QString about =
            QString::fromStdString("About " + w->Logic().DisplayName() + " Firmware Updater");
        QTRY_VERIFY(dialogs.Saw(about));
        QVERIFY(dialogs.seen.back().text.contains("TarsaBSL Engine version 9.8.7\n"));
        QCOMPARE(dialogs.seen.back().icon, QMessageBox::Information);

        // The dump item is hidden; its shortcut still runs it.
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w.get()));
        QTest::keyClick(w.get(), Qt::Key_D, Qt::ControlModifier | Qt::AltModifier);
        QTRY_VERIFY(dialogs.Saw("Save Firmware Image"));

        w->Action("ReplaceSerialNumber1")->trigger();
        QVERIFY(w->Action("ReplaceSerialNumber1")->isChecked());
        auto* edit = Find<QLineEdit>(*w, "newSNstr");
        QVERIFY(edit->isVisible());
        QVERIFY(Find<QLabel>(*w, "newSN")->isVisible());
        QCOMPARE(edit->maxLength(), 15);

        w->Action("ForceFindAllCommPorts1")->trigger();
        QVERIFY(w->Action("ForceFindAllCommPorts1")->isChecked());
        QVERIFY(w->Logic().ForceFindAll());

        w->Action("CheckForNewerFirmwareVersion1")->trigger();
        QTRY_VERIFY(dialogs.Saw("Version Check Error"));
        w->Action("SendFeedback1")->trigger();
        QTRY_VERIFY(dialogs.Saw("Internet Access Error"));
    }

    void feedbackMenuOpensTheFeedbackWindow() {
        tarsa::webtest::TestServer service;
        service.server.Get("/", [](const httplib::Request&, httplib::Response& r) {
            r.set_content("ok", "text/plain");
        });
        service.Start();
        setenv("TARSA_FEEDBACK_SERVICE", service.Base().c_str(), 1);
        DialogAnswerer dialogs;
        auto w = Open({"-rep"});
        setenv("TARSA_FEEDBACK_SERVICE", tarsa::webtest::kNowhere, 1);
        QVERIFY(w->Feedback() && !w->Feedback()->isVisible());
        w->Action("SendFeedback1")->trigger();
        QVERIFY(w->Feedback()->isVisible());
        QCOMPARE(w->Feedback()->windowTitle(), QString("Send Feedback to Halvern"));
        QCOMPARE(w->Logic().Web().info.attachment1, w->Logic().LogFilePath());
        QVERIFY(dialogs.seen.empty());
    }

    void damagedImageReportsAndCloses() {
        DialogAnswerer dialogs;
        auto w = Open({"-rep"});
        w->Logic().Host().constructorError = tarsa::kBSLImageDamaged;
        w->StartTimer(app::Timer::ConstructorErrors, 100);
        QTRY_VERIFY(w->Finished());
        QVERIFY(dialogs.Saw("Application Launch Error"));
        QCOMPARE(dialogs.seen.back().icon, QMessageBox::Critical);
        QVERIFY(!w->isVisible());
        QCOMPARE(store_.values.count("CommPort"), 1u);
    }

    void pauseBlocksInThePump() {
        int waits = 0;
        tarsa::MessagePump previous = tarsa::SetMessagePump([&](uint32_t ms) {
            ++waits;
            tarsa::gui::WaitForWindowEvents(ms);
        });
        Ticker ticker;
        tarsa::DelayMs(400);
        tarsa::SetMessagePump(std::move(previous));
        QVERIFY2(ticker.ticks >= 5, "timers fire during a pause");
        // Each wait ends with an event (a tick) or the time left: a pump that
        // returned at once would be called thousands of times.
        QVERIFY2(waits <= 3 * ticker.ticks + 5, qPrintable(QString::number(waits)));
    }

    void portVanishingMidUpdate() {
        if (kSensorBuild) QSKIP("the digital-sensor build updates a sensor (its own tests)");
        auto device = StartTalox();
        QVERIFY(device);
        DialogAnswerer dialogs;
        auto w = Open({"-rep"});
        w->Logic().SelectPort(device->PortPath());
        // The update runs inside the window's timer handler; this timer
        // fires in its pauses and pulls the cable during the upload.
        QTimer pull;
        pull.setInterval(20);
        QObject::connect(&pull, &QTimer::timeout, [&] {
            if (w->highest >= 40) {
                device->Vanish();
                pull.stop();
            }
        });
        pull.start();
        Find<QPushButton>(*w, "btnStart")->click();
        QTRY_VERIFY_WITH_TIMEOUT(!w->Logic().Busy() && w->Logic().LastResult() != 0, 120000);
        QVERIFY(w->Logic().LastResult() < 0);
        QVERIFY2(w->highest < 100, "the cable was pulled before the end");
        int errors = 0;
        for (const auto& d : dialogs.seen) errors += d.icon == QMessageBox::Critical;
        QCOMPARE(errors, 1);
        QVERIFY(w->isVisible());
        QVERIFY(Find<QPushButton>(*w, "btnStart")->isEnabled());
        QVERIFY(Find<QPushButton>(*w, "btnClose")->isEnabled());
        QCOMPARE(Find<QProgressBar>(*w, "statusBar")->value(), 0);
        QVERIFY2(QFile::exists(QString::fromStdString(w->Logic().SettingsFilePath())),
                 "the settings survive for the recovery run");
    }

    void firmwareFileThatIsADirectory() {
        DialogAnswerer dialogs;
        auto w = Open({"-rep"});
        const QString label = Find<QLabel>(*w, "userText2")->text();
        QVERIFY(w->Logic().OpenFirmwareFile(dir_->path().toStdString()) < 0);
        QCOMPARE(dialogs.Count("File Error"), 1);
        QCOMPARE(Find<QLabel>(*w, "userText2")->text(), label);
        QVERIFY(w->isVisible());
        QVERIFY(Find<QPushButton>(*w, "btnStart")->isEnabled());
    }

    void digitalSensorMenu() {
        DialogAnswerer dialogs;
        auto w = Open({"-factory"});
        if (!kSensorBuild) {
            QVERIFY(!w->Action("SetDigitalSensor1")->isVisible());
            QVERIFY(w->SensorActions().empty());
            return;
        }
        QVERIFY(w->Action("SetDigitalSensor1")->isVisible());
        const auto& entries = w->SensorActions();
        QCOMPARE(entries.size(), app::kSensorMenu.size());
        int checked = -1;
        for (size_t i = 0; i < entries.size(); ++i) {
            QVERIFY(entries[i]->isVisible() && entries[i]->isCheckable());
            if (entries[i]->isChecked()) checked = static_cast<int>(i);
        }
        QCOMPARE(checked, app::SensorMenuEntryOf(tarsa::kProgramSensorType));
        QAction* hx8 = entries[2];
        QCOMPARE(hx8->text(), QString("HX8"));
        hx8->trigger();
        QVERIFY(hx8->isChecked());
        QVERIFY(!entries[static_cast<size_t>(checked)]->isChecked());
        QCOMPARE(w->Logic().TargetSensorType(), 119);
    }
};

int main(int argc, char** argv) {
    // No test reaches past loopback (web_test_support.h points both services
    // at a port where nothing listens).
    QApplication application(argc, argv);
    tarsa::gui::InstallMessagePump();
    UpdaterWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "updater_window_test.moc"
