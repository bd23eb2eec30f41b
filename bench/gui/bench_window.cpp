// The window during a whole firmware update of a simulated Talox at 9600
// baud with wire-time emulation, as a technician runs it (normal mode, the
// erase warning answered): the largest gap between two ticks of a 20 ms
// timer, i.e. the longest time the window handled no event (the goal is
// under 100 ms), and the process's peak memory (the goal is under 80 MB; the
// simulator runs in the same process, so the figure is an upper bound for
// the window alone). Runs on the offscreen platform; prints numbers, passes
// or fails nothing on speed. A run that does not end within ten minutes, or
// an update that fails, ends with exit code 1.
#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "gui/dialog_answerer.h"
#include "gui/message_pump.h"
#include "gui/updater_window.h"
#include "sim/simulator.h"

namespace {

class NoStore : public tarsa::SettingsStore {
  public:
    std::string Read(const std::string&) override { return {}; }
    bool Write(const std::string&, const std::string&) override { return true; }
};

// The kernel's high-water mark of the resident set, in kB (0 if unknown).
long PeakResidentKb() {
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly)) return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:")) return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return 0;
}

struct Gap {
    qint64 ms;
    QString status;  // the status line in force when the gap began
};

// The loader's erase and upload: the two and a half minutes of the update.
bool InUpload(const QString& status) {
    return status == "Erasing firmware memory..." || status == "Uploading new firmware code...";
}

constexpr int kTickMs = 20;
constexpr int kGoalGapMs = 100;
constexpr double kGoalPeakMb = 80.0;
constexpr int kGiveUpMs = 10 * 60 * 1000;

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("TARSA_VERSION_SERVICE", "http://127.0.0.1:9", 1);
    setenv("TARSA_FEEDBACK_SERVICE", "http://127.0.0.1:9", 1);
    QApplication application(argc, argv);
    tarsa::gui::InstallMessagePump();

    tarsa::sim::DeviceConfig config;
    config.version = "2.10";
    config.wireTime = true;
    config.eraseMs = 10;
    config.programMs = 10;
    config.settings = {{"i", "BENCH1"}, {"site", "Bench lake"}};
    auto device = tarsa::sim::Simulator::Start("talox", config);
    if (!device) {
        fprintf(stderr, "bench_window: no pseudo-terminal\n");
        return 1;
    }
    QTemporaryDir data;
    NoStore store, feedbackStore;
    tarsa::app::Environment env;
    env.dataFolder = data.path().toStdString();
    env.feedbackStore = &feedbackStore;
    tarsa::guitest::DialogAnswerer dialogs;  // presses OK, as the technician would
    tarsa::gui::UpdaterWindow window({}, nullptr, store, env);
    window.show();
    window.Logic().SelectPort(device->PortPath());
    auto* status = window.findChild<QLabel*>("statusText");

    QElapsedTimer clock, run;
    std::vector<Gap> gaps;
    QString before;  // the status line at the previous tick
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(kTickMs);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        if (clock.isValid())
            gaps.push_back({clock.restart(), before});
        else
            clock.start();
        before = status->text();
    });
    bool finished = false;
    QTimer done;
    done.setInterval(50);
    QObject::connect(&done, &QTimer::timeout, [&] {
        if (run.elapsed() > kGiveUpMs) {
            fprintf(stderr, "bench_window: the update did not end within %d minutes\n",
                    kGiveUpMs / 60000);
            QApplication::exit(1);
        }
        if (window.Logic().Busy() || window.Logic().LastResult() == 0) return;
        finished = true;
        QApplication::quit();
    });
    // After the erase warning (500 ms after start-up) has been answered.
    QTimer::singleShot(1500, [&] {
        tick.start();
        done.start();
        run.start();
        window.findChild<QPushButton*>("btnStart")->click();
    });
    QApplication::exec();
    tick.stop();

    const int result = window.Logic().LastResult();
    printf("result %d, update %.1f s, %zu timer intervals observed\n", result,
           static_cast<double>(run.elapsed()) / 1000.0, gaps.size());
    for (const tarsa::guitest::SeenDialog& d : dialogs.seen)
        printf("message box: %s\n", qPrintable(d.caption));
    std::vector<Gap> sorted = gaps;
    std::sort(sorted.begin(), sorted.end(), [](const Gap& a, const Gap& b) { return a.ms > b.ms; });
    const auto quantile = [&](double q) {
        if (sorted.empty()) return qint64{0};
        return sorted[static_cast<size_t>((1.0 - q) * static_cast<double>(sorted.size() - 1))].ms;
    };
    const qint64 largest = quantile(1.0);
    size_t over = 0;
    qint64 largestInUpload = 0;
    size_t inUpload = 0;
    for (const Gap& g : gaps) {
        over += g.ms >= kGoalGapMs;
        if (!InUpload(g.status)) continue;
        ++inUpload;
        largestInUpload = std::max(largestInUpload, g.ms);
    }
    printf("largest interval of the %d ms timer: %lld ms (goal < %d ms, ratio %.2f)\n", kTickMs,
           static_cast<long long>(largest), kGoalGapMs, static_cast<double>(largest) / kGoalGapMs);
    printf("median %lld ms, 99th percentile %lld ms, %zu intervals of %d ms or more\n",
           static_cast<long long>(quantile(0.5)), static_cast<long long>(quantile(0.99)), over,
           kGoalGapMs);
    printf("during the erase and upload (%zu intervals): largest %lld ms (ratio %.2f)\n", inUpload,
           static_cast<long long>(largestInUpload),
           static_cast<double>(largestInUpload) / kGoalGapMs);
    for (size_t i = 0; i < sorted.size() && i < 5; ++i)
        printf("  %lld ms, begun during \"%s\"\n", static_cast<long long>(sorted[i].ms),
               qPrintable(sorted[i].status));
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    const double peakMb = static_cast<double>(PeakResidentKb()) / 1024.0;
    printf("peak memory (VmHWM): %.1f MB (goal < %.0f MB, ratio %.2f); maxrss %.1f MB\n", peakMb,
           kGoalPeakMb, peakMb / kGoalPeakMb, static_cast<double>(usage.ru_maxrss) / 1024.0);
    return finished && result > 0 ? 0 : 1;
}
