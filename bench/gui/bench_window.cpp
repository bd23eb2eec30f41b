// The window during a whole firmware update of a simulated Talox at 9600
// baud with wire-time emulation: the largest gap between two turns of the
// event loop (a 5 ms timer's ticks; the goal is under 100 ms) and the
// process's peak memory (the goal is under 80 MB; the simulator runs in the
// same process, so the figure is an upper bound for the window alone).
// Runs on the offscreen platform; prints numbers, passes or fails nothing.
#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "gui/message_pump.h"
#include "gui/updater_window.h"
#include "sim/simulator.h"

namespace {

class NoStore : public tarsa::SettingsStore {
  public:
    std::string Read(const std::string&) override { return {}; }
    bool Write(const std::string&, const std::string&) override { return true; }
};

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("TARSA_VERSION_SERVICE", "http://127.0.0.1:9", 1);
    setenv("TARSA_FEEDBACK_SERVICE", "http://127.0.0.1:9", 1);
    QApplication application(argc, argv);
    tarsa::gui::InstallMessagePump();

    tarsa::sim::DeviceConfig config;
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
    env.arguments = {"-rep"};  // no erase warning to answer
    env.dataFolder = data.path().toStdString();
    env.feedbackStore = &feedbackStore;
    tarsa::gui::UpdaterWindow window({}, nullptr, store, env);
    window.show();
    window.Logic().SelectPort(device->PortPath());

    QElapsedTimer clock, run;
    std::vector<qint64> gaps;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(5);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        if (clock.isValid())
            gaps.push_back(clock.restart());
        else
            clock.start();
    });
    QTimer done;
    done.setInterval(50);
    QObject::connect(&done, &QTimer::timeout, [&] {
        if (window.Logic().Busy() || window.Logic().LastResult() == 0) return;
        QApplication::quit();
    });
    QTimer::singleShot(200, [&] {
        tick.start();
        done.start();
        run.start();
        window.findChild<QPushButton*>("btnStart")->click();
    });
    QApplication::exec();

    std::sort(gaps.begin(), gaps.end());
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    const auto at = [&](double q) {
        return gaps.empty() ? 0
                            : gaps[static_cast<size_t>(q * static_cast<double>(gaps.size() - 1))];
    };
    printf("result %d, update %.1f s, %zu event-loop turns observed\n", window.Logic().LastResult(),
           static_cast<double>(run.elapsed()) / 1000.0, gaps.size());
    printf("largest gap between turns: %lld ms (goal < 100 ms, ratio %.2f)\n",
           static_cast<long long>(at(1.0)), static_cast<double>(at(1.0)) / 100.0);
    printf("gap median %lld ms, 99th percentile %lld ms\n", static_cast<long long>(at(0.5)),
           static_cast<long long>(at(0.99)));
    printf("peak memory: %.1f MB (goal < 80 MB, ratio %.2f)\n",
           static_cast<double>(usage.ru_maxrss) / 1024.0,
           static_cast<double>(usage.ru_maxrss) / 1024.0 / 80.0);
    return window.Logic().LastResult() > 0 ? 0 : 1;
}
