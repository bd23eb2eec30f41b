// tarsa-update's system calls on Windows: the console, Ctrl-C through a
// console control handler, MessageBeep.
#include <windows.h>
// fcntl.h and io.h after windows.h: _setmode and _fileno.
#include <fcntl.h>
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

// Output lines end in LF on every platform, so that scripts read the same
// text; consoles show LF line ends as they show CR LF.
const bool kBinaryOutput = [] {
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    return true;
}();

// A console, not any character device: _isatty is also true for NUL.
bool IsConsole(DWORD which) {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(which), &mode) != 0;
}

}  // namespace

bool StdinIsTerminal() {
    return IsConsole(STD_INPUT_HANDLE);
}

bool StdoutIsTerminal() {
    return kBinaryOutput && IsConsole(STD_OUTPUT_HANDLE);
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

std::unique_ptr<SimulatedDevice> StartDemoDevice(bool, bool, int, std::string&,
                                                 std::string& error) {
    error = "--simulate needs a POSIX system: the simulated device runs on a pseudo-terminal";
    return nullptr;
}

}  // namespace tarsa::cli
