// Answers the modal dialogs of a window under test: every 10 ms it looks for
// the active modal dialog, records its caption, text and icon, and presses
// OK (or the button scripted for its caption); file dialogs are cancelled.
#pragma once

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace tarsa::guitest {

struct SeenDialog {
    QString caption;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
};

class DialogAnswerer {
  public:
    DialogAnswerer() {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this] { Answer(); });
        timer_.start();
    }

    // The caption's dialogs are answered with `button` instead of OK.
    void Script(const QString& caption, QMessageBox::StandardButton button) {
        script_[caption] = button;
    }
    // Called with each message box before it is answered (e.g. to grab it).
    std::function<void(QMessageBox&)> onMessage;

    int Count(const QString& caption) const {
        int n = 0;
        for (const SeenDialog& d : seen) n += d.caption == caption;
        return n;
    }
    bool Saw(const QString& caption) const { return Count(caption) > 0; }

    std::vector<SeenDialog> seen;

  private:
    void Answer() {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* file = qobject_cast<QFileDialog*>(modal)) {
            seen.push_back({file->windowTitle(), {}, QMessageBox::NoIcon});
            file->reject();
            return;
        }
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (!box || !box->isVisible()) return;
        seen.push_back({box->windowTitle(), box->text(), box->icon()});
        if (onMessage) onMessage(*box);
        auto it = script_.find(box->windowTitle());
        QAbstractButton* button = box->button(it != script_.end() ? it->second : QMessageBox::Ok);
        if (!button) button = box->buttons().value(0);
        if (button) button->click();
    }

    QTimer timer_;
    std::map<QString, QMessageBox::StandardButton> script_;
};

}  // namespace tarsa::guitest
