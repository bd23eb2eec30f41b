// A recording user interface for the main window's logic: it keeps what was
// shown, answers questions from a script and remembers armed timers.
#pragma once

#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/main_window_ui.h"

namespace tarsa::app::test {

struct Shown {
    std::string text;
    std::string caption;
    MessageKind kind;
};

class FakeUi : public MainWindowUi {
  public:
    void SetWindowCaption(const std::string& text) override { caption = text; }
    void SetApplicationTitle(const std::string& text) override { title = text; }
    void SetMenuCaption(MenuItem item, const std::string& text) override {
        menuCaption[item] = text;
    }
    void SetMenuEnabled(MenuItem item, bool on) override { menuEnabled[item] = on; }
    void SetMenuVisible(MenuItem item, bool on) override { menuVisible[item] = on; }
    void SetMenuChecked(MenuItem item, bool on) override { menuChecked[item] = on; }
    void SetLabel(Label label, const std::string& text) override { labels[label] = text; }
    void SetLabelVisible(Label label, bool on) override { labelVisible[label] = on; }
    void RepaintLabel(Label) override {}
    void SetProgress(int position) override { progress.push_back(position); }
    void ClearPortList() override { portList.clear(); }
    void AppendPort(const std::string& text) override { portList.push_back(text); }
    void SetPortIndex(int index) override { portIndex = index; }
    int PortIndex() const override { return portIndex; }
    void SetPortListEnabled(bool on) override { portListEnabled = on; }
    void SetButtonEnabled(Button b, bool on) override { buttonEnabled[b] = on; }
    void SetDefaultButton(Button b, bool on) override { defaultButton[b] = on; }
    void SetSerialEditVisible(bool on) override { serialEditVisible = on; }
    void SetSerialEditText(const std::string& text) override { serialEdit = text; }
    std::string SerialEditText() const override { return serialEdit; }
    void FocusSerialEdit() override { serialFocused = true; }
    void SetBusyCursor(bool on) override { busyCursor = on; }
    void PumpMessages() override { ++pumps; }
    void ShowMessage(const std::string& text, const std::string& cap, MessageKind kind) override {
        messages.push_back({text, cap, kind});
    }
    bool AskOkCancel(const std::string& text, const std::string& cap) override {
        questions.push_back({text, cap, MessageKind::Warning});
        if (answers.empty()) return false;
        bool ok = answers.front();
        answers.pop_front();
        return ok;
    }
    void WarningBox(const std::string& text, const std::string& cap) override {
        warnings.push_back({text, cap, MessageKind::Warning});
    }
    void BeepInformation() override { ++beeps; }
    void StartTimer(Timer t, uint32_t ms) override { timers[t] = ms; }
    void StopTimer(Timer t) override { timers.erase(t); }
    void CloseWindow() override { closed = true; }
    bool ChooseFirmwareFile(const FileDialog& dialog, std::string& path) override {
        dialogs.push_back(dialog);
        if (chosenFile.empty()) return false;
        path = chosenFile;
        return true;
    }
    bool ChooseDumpFile(const FileDialog& dialog, std::string& path) override {
        dialogs.push_back(dialog);
        if (chosenDump.empty()) return false;
        path = chosenDump;
        return true;
    }

    std::string caption, title, serialEdit, chosenFile, chosenDump;
    std::map<MenuItem, std::string> menuCaption;
    std::map<MenuItem, bool> menuEnabled, menuVisible, menuChecked;
    std::map<Label, std::string> labels;
    std::map<Label, bool> labelVisible;
    std::vector<int> progress;
    std::vector<std::string> portList;
    int portIndex = -1;
    bool portListEnabled = true;
    std::map<Button, bool> buttonEnabled, defaultButton;
    bool serialEditVisible = false, serialFocused = false, busyCursor = false, closed = false;
    int pumps = 0, beeps = 0;
    std::vector<Shown> messages, questions, warnings;
    std::deque<bool> answers;  // replies to AskOkCancel, OK = true
    std::map<Timer, uint32_t> timers;
    std::vector<FileDialog> dialogs;  // every file dialog run, as asked for
};

}  // namespace tarsa::app::test
