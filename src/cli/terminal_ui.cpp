#include "cli/terminal_ui.h"

#include <chrono>

#include "cli/cli_platform.h"

namespace tarsa::cli {
namespace {

uint64_t NowMs() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

void SleepMs(uint64_t ms) {
    struct timespec ts {
        static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L
    };
    nanosleep(&ts, nullptr);
}

const char* KindWord(app::MessageKind kind) {
    switch (kind) {
        case app::MessageKind::Warning:
            return "Warning";
        case app::MessageKind::Error:
            return "Error";
        case app::MessageKind::Information:
            return "Information";
        case app::MessageKind::Confirmation:
            return "Question";
        case app::MessageKind::Plain:
            return "Message";
    }
    return "Message";
}

}  // namespace

TerminalUi::TerminalUi(FILE* out, FILE* err, bool assumeYes, bool interactive, bool tty)
    : out_(out), err_(err), assumeYes_(assumeYes), interactive_(interactive), tty_(tty) {}

void TerminalUi::EndBarLine() {
    if (barShown_) {
        fputc('\n', out_);
        barShown_ = false;
    }
}

void TerminalUi::SetLabel(app::Label label, const std::string& text) {
    // The connection instruction is printed once an update runs; at start-up
    // it only repeats what the command line already said.
    if (label == app::Label::StatusText) started_ = true;
    if (label == app::Label::StatusText || (label == app::Label::LblConnect && started_)) {
        if (label == app::Label::StatusText) phase_ = text;
        EndBarLine();
        fprintf(out_, "%s\n", text.c_str());
        fflush(out_);
    }
}

void TerminalUi::SetProgress(int position) {
    if (position == progress_ && lastPrinted_ >= 0) return;
    if (position < progress_ || barStartMs_ == 0) {
        barStartMs_ = NowMs();
        barStartProgress_ = position;
    }
    progress_ = position;
    if (tty_) {
        constexpr int kWidth = 30;
        int filled = position * kWidth / 100;
        std::string bar(static_cast<size_t>(filled), '#');
        bar.append(static_cast<size_t>(kWidth - filled), '-');
        std::string eta;
        uint64_t elapsed = NowMs() - barStartMs_;
        int gained = position - barStartProgress_;
        if (gained > 0 && position < 100 && elapsed > 2000) {
            uint64_t left = elapsed * static_cast<uint64_t>(100 - position) /
                            static_cast<uint64_t>(gained) / 1000;
            eta = " " + std::to_string(left / 60) + ":" + (left % 60 < 10 ? "0" : "") +
                  std::to_string(left % 60) + " left";
        }
        fprintf(out_, "\r[%s] %3d%% %-36.36s%s\033[K", bar.c_str(), position, phase_.c_str(),
                eta.c_str());
        barShown_ = true;
        fflush(out_);
    } else if (lastPrinted_ < 0 || position / 10 != lastPrinted_ / 10 || position == 100 ||
               position < lastPrinted_) {
        fprintf(out_, "Progress: %d%%\n", position);
        fflush(out_);
    }
    lastPrinted_ = position;
}

void TerminalUi::PumpMessages() {
    if (onPump) onPump();
}

void TerminalUi::ShowMessage(const std::string& text, const std::string& caption,
                             app::MessageKind kind) {
    EndBarLine();
    shown_.emplace_back(caption, text);
    FILE* to = kind == app::MessageKind::Error || kind == app::MessageKind::Warning ? err_ : out_;
    fprintf(to, "%s: %s\n%s\n\n", KindWord(kind), caption.c_str(), text.c_str());
    fflush(to);
}

bool TerminalUi::AskOkCancel(const std::string& text, const std::string& caption) {
    EndBarLine();
    shown_.emplace_back(caption, text);
    fprintf(out_, "Question: %s\n%s\n", caption.c_str(), text.c_str());
    if (assumeYes_) {
        fprintf(out_, "OK (--yes)\n\n");
        fflush(out_);
        return true;
    }
    if (!interactive_) {
        fprintf(out_, "Cancel (no terminal to ask; --yes answers OK)\n\n");
        fflush(out_);
        return false;
    }
    fprintf(out_, "OK to go on? [y/N] ");
    fflush(out_);
    char line[64] = {};
    bool ok = fgets(line, sizeof line, stdin) && (line[0] == 'y' || line[0] == 'Y');
    fprintf(out_, "\n");
    return ok;
}

void TerminalUi::WarningBox(const std::string& text, const std::string& caption) {
    ShowMessage(text, caption, app::MessageKind::Warning);
}

void TerminalUi::BeepInformation() {
    if (tty_) InformationBeep(out_);
}

void TerminalUi::StartTimer(app::Timer timer, uint32_t ms) {
    due_[timer] = NowMs() + ms;
}

void TerminalUi::StopTimer(app::Timer timer) {
    due_.erase(timer);
}

void TerminalUi::Run(const std::function<void(app::Timer)>& fire) {
    while (!closed_ && !due_.empty()) {
        auto next = due_.begin();
        for (auto it = due_.begin(); it != due_.end(); ++it) {
            if (it->second < next->second) next = it;
        }
        uint64_t now = NowMs();
        if (next->second > now) SleepMs(next->second - now);
        app::Timer timer = next->first;
        due_.erase(next);
        fire(timer);
    }
    EndBarLine();
}

}  // namespace tarsa::cli
