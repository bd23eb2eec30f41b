// tarsa-update's system calls on Windows: the console, Ctrl-C through a
// console control handler, MessageBeep.
#include <windows.h>
// io.h after windows.h: _isatty and _fileno.
#include <io.h>

#include <atomic>

#include "cli/cli_platform.h"

namespace tarsa::cli {
namespace {

std::atomic<int> gInterrupts{0};
// Set by Ctrl-C so that a wait ends at once; made on first use.
HANDLE InterruptEvent() {
    static HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    return event;
}

BOOL WINAPI OnControl(DWORD type) {
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
    ++gInterrupts;
    if (InterruptEvent()) SetEvent(InterruptEvent());
    return TRUE;
}

}  // namespace

bool StdinIsTerminal() {
    return _isatty(_fileno(stdin)) != 0;
}

bool StdoutIsTerminal() {
    return _isatty(_fileno(stdout)) != 0;
}

void InformationBeep(FILE*) {
    MessageBeep(MB_ICONASTERISK);
}

void CatchInterrupts(bool on) {
    InterruptEvent();
    SetConsoleCtrlHandler(OnControl, on ? TRUE : FALSE);
}

int InterruptCount() {
    return gInterrupts.load();
}

void WaitForInterrupt(uint32_t ms) {
    HANDLE event = InterruptEvent();
    if (event) {
        WaitForSingleObject(event, ms);
    } else {
        Sleep(ms);
    }
}

// Windows reports a port another program holds and one this user may not
// open alike; the message of the failed open says it is in use.
void ExplainPortAccess(const char*) {}

std::unique_ptr<SimulatedDevice> StartDemoDevice(bool, bool, std::string&, std::string& error) {
    error = "--simulate needs a POSIX system: the simulated device runs on a pseudo-terminal";
    return nullptr;
}

}  // namespace tarsa::cli
