#include "gui/message_pump.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>

#include "serial/timing.h"

namespace tarsa::gui {

void WaitForWindowEvents(uint32_t maxWaitMs) {
    // The timed processEvents() overload never waits; a one-shot timer for
    // the time left bounds the waiting one instead.
    QTimer wake;
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    wake.start(static_cast<int>(maxWaitMs));
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

void WaitForWindowEventsOrInput(int fd, uint32_t maxWaitMs) {
    // The port joins the descriptors the event loop waits on, so the first
    // byte ends the wait as promptly as the read's own poll() would. The
    // notifier is level-triggered: it switches itself off when it fires, or
    // a modal dialog opened by a handler in this turn would spin on the
    // unread byte until it closes.
    QSocketNotifier input(static_cast<qintptr>(fd), QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &input,
                     [&input] { input.setEnabled(false); });
    WaitForWindowEvents(maxWaitMs);
}

void InstallMessagePump() {
    SetMessagePump(WaitForWindowEvents);
    SetInputWaitPump(WaitForWindowEventsOrInput);
}

}  // namespace tarsa::gui
