// Pictures of the window for the README: run under an X server (make
// screenshots starts Xvfb with a window manager), it plays a whole update of
// a simulated Talox and saves PNGs of the idle window, the window mid-update,
// the success line and the feedback window into the folder it is given.
//
//   window_screenshots DIR
//
// The feedback service is a loopback server, so the feedback window opens
// without a network; the version check asks a port where nothing listens.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "dialog_answerer.h"
#include "gui/feedback_window.h"
#include "gui/message_pump.h"
#include "gui/updater_window.h"
#include "serial/timing.h"
#include "sim/simulator.h"
#include "web/settings_store.h"
#include "web/web_test_support.h"

namespace {

class MemoryStore : public tarsa::SettingsStore {
  public:
    std::string Read(const std::string&) override { return {}; }
    bool Write(const std::string&, const std::string&) override { return true; }
};

// Lets the window manager and the X server catch up, then saves what the
// screen shows of `window` (its frame included).
bool Save(QWidget& window, const QString& path) {
    // Each pump turn ends at the next event (the dialog answerer ticks every
    // 10 ms); DelayMs turns it until the time is up.
    tarsa::DelayMs(500);
    const QRect frame = window.frameGeometry();
    QPixmap shot =
        window.screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
    const bool ok = shot.save(path, "PNG");
    fprintf(ok ? stdout : stderr, "%s %s\n", ok ? "Saved" : "Could not save", qPrintable(path));
    return ok;
}

template <typename T>
T* Find(QWidget& w, const char* name) {
    return w.findChild<T*>(name);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: window_screenshots DIR\n");
        return 2;
    }
    const QString out = QDir(argv[1]).absolutePath();
    QDir().mkpath(out);

    tarsa::webtest::TestServer service;
    service.server.Get("/", [](const httplib::Request&, httplib::Response& r) {
        r.set_content("ok", "text/plain");
    });
    service.Start();
    setenv("TARSA_FEEDBACK_SERVICE", service.Base().c_str(), 1);

    QApplication application(argc, argv);
    tarsa::gui::InstallMessagePump();
    QTemporaryDir data;

    tarsa::sim::DeviceConfig config;
    config.version = "2.10";
    config.settings = {{"i", "DEMO01"}, {"site", "Demo lake"}};
    auto device = tarsa::sim::Simulator::Start("talox", config);
    if (!device) {
        fprintf(stderr, "window_screenshots: no pseudo-terminal for the simulated device\n");
        return 1;
    }

    tarsa::app::BuildConfig build;
    build.programVersion = TARSA_VERSION;
    MemoryStore store, feedbackStore;
    tarsa::app::Environment env;
    env.dataFolder = data.path().toStdString();
    env.feedbackStore = &feedbackStore;
    auto lister = [](tarsa::TarsaSerial&, std::vector<tarsa::app::PortEntry>& ports, bool) {
        ports = {{"ttyUSB0", "USB Serial Port (ttyUSB0)"}};
        return 1;
    };
    tarsa::gui::UpdaterWindow window(build, lister, store, env);
    tarsa::guitest::DialogAnswerer dialogs;
    window.show();
    window.Logic().SelectPort(device->PortPath(),
                              "Simulated Talox 2.10 (" + device->PortPath() + ")");

    int failures = 0;
    bool midShot = false;
    QTimer watch;
    watch.setInterval(20);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (!midShot && Find<QProgressBar>(window, "statusBar")->value() >= 30) {
            midShot = true;
            failures += !Save(window, out + "/window-updating.png");
        }
    });

    // The feedback window with a message being written, then the end.
    auto feedbackShot = [&] {
        window.Logic().SendFeedbackClick();
        tarsa::gui::FeedbackWindow* feedback = window.Feedback();
        if (!feedback || !feedback->isVisible()) {
            fprintf(stderr, "window_screenshots: the feedback window did not open\n");
            ++failures;
        } else {
            Find<QLineEdit>(*feedback, "edName")->setText("Dana Field");
            Find<QLineEdit>(*feedback, "edCompany")->setText("Lake Survey Ltd");
            Find<QLineEdit>(*feedback, "edEmail")->setText("dana@example.org");
            Find<QPlainTextEdit>(*feedback, "reDescription")
                ->setPlainText("The update of our Talox went through in one go.");
            // Side by side: a window manager may stack the new window under
            // the main one, and the picture is taken from the screen.
            window.move(20, 20);
            feedback->move(window.frameGeometry().right() + 30, 20);
            feedback->raise();
            feedback->activateWindow();
            failures += !Save(*feedback, out + "/window-feedback.png");
            feedback->close();
        }
        window.close();
    };
    // The update runs in the window's start timer; this one notices its end.
    QTimer done;
    done.setInterval(50);
    QObject::connect(&done, &QTimer::timeout, [&] {
        if (window.Logic().Busy() || window.Logic().LastResult() == 0) return;
        done.stop();
        watch.stop();
        if (window.Logic().LastResult() < 0 || !midShot) {
            fprintf(stderr, "window_screenshots: the update failed (%d)\n",
                    window.Logic().LastResult());
            ++failures;
        }
        failures += !Save(window, out + "/window-success.png");
        feedbackShot();
    });
    // Idle, after the data erase warning has been answered.
    QTimer::singleShot(1500, [&] {
        failures += !Save(window, out + "/window-idle.png");
        watch.start();
        done.start();
        Find<QPushButton>(window, "btnStart")->click();
    });
    QApplication::exec();
    return failures == 0 ? 0 : 1;
}
