// What the web services need from the user interface. A window toolkit, a
// terminal and the tests each implement these; the logic in this folder never
// draws anything itself.
//
// WebUi is enough for the online version check. FeedbackWindowUi adds what
// the feedback window's logic drives: its visibility, the focus after a
// refused field, the Send button, the busy cursor, the upload progress bar
// and the file dialog. The window's texts (edits, drop-down selections, the
// description label) live in the TfrmWeb record; the window copies them in
// before Send and out after FormShow, a file choice and a kind change.
#pragma once

#include <cstdint>
#include <string>

namespace tarsa {

// Kinds of WebMessage, with the icon and system beep they bring.
inline constexpr int kWebWarning = 0;       // exclamation
inline constexpr int kWebError = 1;         // hand
inline constexpr int kWebInformation = 2;   // asterisk
inline constexpr int kWebConfirmation = 3;  // question

class WebUi {
  public:
    virtual ~WebUi() = default;

    // A dialog centred on the main window, not kept on top: one OK button when
    // `ask` is false, Yes and No when it is true. Returns true only for Yes.
    // It does not log.
    virtual bool WebMessage(const std::string& text, const std::string& caption, bool ask,
                            int kind) = 0;

    // Opens `url` in the user's web browser; false when that could not be
    // started.
    virtual bool OpenUrl(const std::string& url) = 0;

    // Runs pending window events and returns without waiting.
    virtual void PumpMessages() = 0;
};

// Controls that can receive the focus after validation.
enum class WebControl { kName, kEmail, kTelephone, kEmailTo };

class FeedbackWindowUi : public WebUi {
  public:
    virtual void ShowWindow() = 0;  // not modally
    virtual void HideWindow() = 0;
    virtual void CloseWindow() = 0;
    virtual bool WindowVisible() = 0;

    virtual void SetFocus(WebControl control) = 0;
    virtual void SetSendEnabled(bool enabled) = 0;
    virtual void SetBusyCursor(bool busy) = 0;

    // The upload progress bar `pbWeb`: shown with its maximum, moved, hidden.
    virtual void ShowProgress(uint64_t maximum) = 0;
    virtual void SetProgress(uint64_t position) = 0;
    virtual void HideProgress() = 0;

    // The file dialog, opened in `folder`. Returns the chosen file's full
    // path, or an empty text when the user cancelled.
    virtual std::string ChooseFile(const std::string& title, const std::string& filter,
                                   const std::string& folder) = 0;
};

}  // namespace tarsa
