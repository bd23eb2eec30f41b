// The main window's user interface on a terminal.
//
// Status lines and messages are printed; the progress bar is redrawn in place
// with its percentage, the current phase and the time left when standard
// output is a terminal, and printed as plain lines otherwise. Questions are
// answered by --yes, by a y/N prompt on a terminal, or with Cancel when there
// is nobody to ask. Timers are kept in a queue that Run() works through,
// sleeping in the kernel until the next one is due.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/main_window_ui.h"

namespace tarsa::cli {

class TerminalUi : public app::MainWindowUi {
  public:
    TerminalUi(FILE* out, FILE* err, bool assumeYes, bool interactive, bool tty);

    void SetWindowCaption(const std::string&) override {}
    void SetApplicationTitle(const std::string&) override {}
    void SetMenuCaption(app::MenuItem, const std::string&) override {}
    void SetMenuEnabled(app::MenuItem, bool) override {}
    void SetMenuVisible(app::MenuItem, bool) override {}
    void SetMenuChecked(app::MenuItem, bool) override {}
    void SetLabel(app::Label label, const std::string& text) override;
    void SetLabelVisible(app::Label, bool) override {}
    void RepaintLabel(app::Label) override {}
    void SetProgress(int position) override;
    void ClearPortList() override { ports_.clear(); }
    void AppendPort(const std::string& text) override { ports_.push_back(text); }
    void SetPortIndex(int index) override { portIndex_ = index; }
    int PortIndex() const override { return portIndex_; }
    void SetPortListEnabled(bool) override {}
    void SetButtonEnabled(app::Button, bool) override {}
    void SetDefaultButton(app::Button, bool) override {}
    void SetSerialEditVisible(bool) override {}
    void SetSerialEditText(const std::string& text) override { serial_ = text.substr(0, 15); }
    std::string SerialEditText() const override { return serial_; }
    void FocusSerialEdit() override {}
    void SetBusyCursor(bool) override {}
    void PumpMessages() override;
    void ShowMessage(const std::string& text, const std::string& caption,
                     app::MessageKind kind) override;
    bool AskOkCancel(const std::string& text, const std::string& caption) override;
    void WarningBox(const std::string& text, const std::string& caption) override;
    void BeepInformation() override;
    void StartTimer(app::Timer timer, uint32_t ms) override;
    void StopTimer(app::Timer timer) override;
    void CloseWindow() override { closed_ = true; }
    // A terminal names its files on the command line.
    bool ChooseFirmwareFile(const app::FileDialog&, std::string&) override { return false; }
    bool ChooseDumpFile(const app::FileDialog&, std::string&) override { return false; }

    // Runs due timers through `fire` until the window closes or no timer is
    // left; sleeps until the next one is due.
    void Run(const std::function<void(app::Timer)>& fire);
    bool Closed() const { return closed_; }
    // Called from PumpMessages; the front end checks for Ctrl-C there.
    std::function<void()> onPump;

    // Messages shown so far (caption and text), for the exit status.
    const std::vector<std::pair<std::string, std::string>>& Messages() const { return shown_; }

  private:
    void EndBarLine();

    FILE* out_;
    FILE* err_;
    bool assumeYes_;
    bool interactive_;
    bool tty_;
    std::vector<std::string> ports_;
    int portIndex_ = 0;
    std::string serial_;
    std::string phase_;
    int progress_ = 0;
    int lastPrinted_ = -1;
    bool barShown_ = false;
    uint64_t barStartMs_ = 0;
    int barStartProgress_ = 0;
    bool closed_ = false;
    bool started_ = false;
    std::map<app::Timer, uint64_t> due_;
    std::vector<std::pair<std::string, std::string>> shown_;
};

}  // namespace tarsa::cli
