#include "gui/message_pump.h"

#include <QCoreApplication>
#include <QEventLoop>
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

void InstallMessagePump() {
    SetMessagePump(WaitForWindowEvents);
}

}  // namespace tarsa::gui
