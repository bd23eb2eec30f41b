// The one QApplication of a window test program, on the offscreen platform
// so that tests never open a window on the developer's display and run where
// there is none. Created on first use and kept to the end of the program.
#pragma once

#include <QApplication>
#include <QByteArray>

namespace tarsa::gui {

inline QApplication& TestApplication() {
    static int argc = 1;
    static char name[] = "gui_tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return new QApplication(argc, argv);
    }();
    return *app;
}

}  // namespace tarsa::gui
