// The feedback window in Qt Widgets: draws the TfrmWeb record of src/web and
// forwards the user's actions to its handlers. It decides nothing itself:
// validation, the stored contact details, the size limit of the user's file,
// the submission and every message text are the record's logic; the window
// copies the record into its controls when it is shown, after a file choice
// and after a kind change, and copies the controls back before Send.
//
// The window is created hidden (with the main window as its parent, so that
// it and its dialogs are centred there) and shown, not modally, by
// ShowFeedback or LaunchFeedback. While a submission runs the window keeps
// processing events; closing it then cancels the upload. Its dialogs
// (WebMessage) also serve the online version check, which uses the same
// record.
#pragma once

#include <QStringList>
#include <QWidget>
#include <cstdint>
#include <string>

#include "web/feedback_form.h"
#include "web/web_ui.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace tarsa::gui {

class FeedbackWindow : public QWidget, public tarsa::FeedbackWindowUi {
    Q_OBJECT

  public:
    // Draws `form` and becomes its user interface (form.ui) until destroyed,
    // when the previous one is put back. The form must outlive the window.
    explicit FeedbackWindow(tarsa::TfrmWeb& form, QWidget* parent = nullptr);
    ~FeedbackWindow() override;

    bool WebMessage(const std::string& text, const std::string& caption, bool ask,
                    int kind) override;
    bool OpenUrl(const std::string& url) override;
    void PumpMessages() override;

    void ShowWindow() override;
    void HideWindow() override;
    void CloseWindow() override;
    bool WindowVisible() override;

    void SetFocus(tarsa::WebControl control) override;
    void SetSendEnabled(bool enabled) override;
    void SetBusyCursor(bool busy) override;

    void ShowProgress(uint64_t maximum) override;
    void SetProgress(uint64_t position) override;
    void HideProgress() override;

    std::string ChooseFile(const std::string& title, const std::string& filter,
                           const std::string& folder) override;

  protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void BuildControls();
    void FormToControls();
    void ControlsToForm();
    void FeedbackTypeChanged(int index);
    void SendFileClicked();
    void SendClicked();
    void LimitDescription();
    // The window dialogs are centred on: the main window when there is one,
    // else this window while it is visible.
    QWidget* DialogParent();

    tarsa::TfrmWeb& form_;
    tarsa::FeedbackWindowUi* previousUi_;
    bool filling_ = false;  // controls are being filled from the record
    bool busyCursor_ = false;
    uint64_t progressScale_ = 1;  // bytes per progress-bar step (the bar counts in int)

    QLineEdit* edName_ = nullptr;
    QLineEdit* edCompany_ = nullptr;
    QLineEdit* edEmail_ = nullptr;
    QLineEdit* edTelephone_ = nullptr;
    QComboBox* cbFeedbackType_ = nullptr;
    QComboBox* cbRespondVia_ = nullptr;
    QLabel* lblDescription_ = nullptr;
    QPlainTextEdit* reDescription_ = nullptr;
    QLineEdit* edSendFile_ = nullptr;
    QPushButton* btnSendFile_ = nullptr;
    QCheckBox* chkErrorLog_ = nullptr;
    QLineEdit* edEmailTo_ = nullptr;
    QProgressBar* pbWeb_ = nullptr;
    QPushButton* btnSend_ = nullptr;
};

// The Qt name filters of a "description|patterns|..." filter, each pattern
// "*.*" widened to "*" (every file, with or without an extension). The
// patterns follow the description in parentheses, which a file dialog with
// HideNameFilterDetails leaves out of sight.
QStringList NameFilters(const std::string& filter);

}  // namespace tarsa::gui
