// The serial-port list on Windows, from the device manager's "Ports" class.
//
// Each present device of the class whose "PortName" registry value is
// COM<digits> is a port, described by its friendly name cut before "(COM";
// the maker's USB adapter is named "Halvern USB Adapter" and its friendly
// name is written back to the system (a failure to do so is ignored, as it
// needs rights the user may lack). Ports are tried with an exclusive open:
// one that another program holds is marked " (busy)". With `force`, or when
// the device manager cannot be asked, COM1 to COM16 are probed by opening
// them. The roots argument of CommPortEnum has no meaning here.
#include <windows.h>
// setupapi.h needs the types of windows.h first.
#include <setupapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "log/tarsa_log.h"
#include "serial/port_enum.h"
#include "serial/serial_port.h"

namespace tarsa {
namespace {

constexpr std::string_view kBusyMark = " (busy)";
constexpr std::string_view kMakerAdapter = "Halvern USB Adapter";
constexpr std::string_view kRadioModemName = "Corvane USB Zl4";
constexpr const char* kDefaultTag = "TarsaSerial";
constexpr int kProbedPorts = 16;

struct Candidate {
    std::string name;
    std::string description;
    int32_t number = 0;
    bool busy = false;
};

bool Contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

void CopyText(char* dest, size_t capacity, std::string_view text) {
    const size_t n = std::min(text.size(), capacity);
    memcpy(dest, text.data(), n);
    dest[n] = '\0';
}

// Opens "\\.\<name>" exclusively and closes it again. The error of a failed
// open, or 0.
DWORD ProbeOpen(const std::string& name) {
    const std::string path = "\\\\.\\" + name;
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) return GetLastError();
    CloseHandle(h);
    return 0;
}

// Errors of an open that mean the port exists but is held or unwell.
bool MeansBusy(DWORD error) {
    return error == ERROR_ACCESS_DENIED || error == ERROR_GEN_FAILURE ||
           error == ERROR_SHARING_VIOLATION || error == ERROR_SEM_TIMEOUT;
}

// The maker's adapter: its instance identifier carries the product number and
// the adapter's own name, with the unit's label in brackets.
void NameMakersAdapter(HDEVINFO set, SP_DEVINFO_DATA& info, Candidate& c) {
    char instance[66] = {};
    if (!SetupDiGetDeviceInstanceIdA(set, &info, instance, sizeof instance - 1, nullptr)) return;
    const char* after = strstr(instance, "PID_8414\\");
    if (!after) return;
    after += strlen("PID_8414\\");
    if (!strstr(after, "CORVANE_UQX")) return;
    const char* bracket = strchr(after, '[');
    char friendly[65] = {};
    if (bracket) {
        c.description = c.name + " " + std::string(kMakerAdapter) + " " + bracket;
        snprintf(friendly, sizeof friendly, "%s %s (%s)", std::string(kMakerAdapter).c_str(),
                 bracket, c.name.c_str());
    } else {
        c.description = c.name + " " + std::string(kMakerAdapter);
        snprintf(friendly, sizeof friendly, "%s (%s)", std::string(kMakerAdapter).c_str(),
                 c.name.c_str());
    }
    SetupDiSetDeviceRegistryPropertyA(set, &info, SPDRP_FRIENDLYNAME,
                                      reinterpret_cast<const BYTE*>(friendly),
                                      static_cast<DWORD>(strlen(friendly) + 1));
}

// The device manager's ports, at most `capacity`, in its order.
void WalkDeviceManager(std::vector<Candidate>& out, size_t capacity) {
    DWORD needed = 0;
    SetupDiClassGuidsFromNameA("Ports", nullptr, 0, &needed);
    if (needed == 0) return;
    std::vector<GUID> guids(needed);
    if (!SetupDiClassGuidsFromNameA("Ports", guids.data(), needed, &needed) || needed == 0) return;
    HDEVINFO set = SetupDiGetClassDevsA(&guids[0], nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) return;
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof info;
    for (DWORD index = 0; out.size() < capacity && SetupDiEnumDeviceInfo(set, index, &info);
         ++index) {
        HKEY key =
            SetupDiOpenDevRegKey(set, &info, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE);
        if (key == INVALID_HANDLE_VALUE) continue;
        char portName[33] = {};
        DWORD size = sizeof portName - 1;
        DWORD type = 0;
        const LONG rc = RegQueryValueExA(key, "PortName", nullptr, &type,
                                         reinterpret_cast<BYTE*>(portName), &size);
        RegCloseKey(key);
        if (rc != ERROR_SUCCESS || type != REG_SZ) continue;
        portName[std::min<DWORD>(size, sizeof portName - 1)] = '\0';
        if (strlen(portName) <= 3 || strncmp(portName, "COM", 3) != 0 || portName[3] < '0' ||
            portName[3] > '9') {
            continue;
        }
        Candidate c;
        c.name.assign(portName, std::min<size_t>(strlen(portName), kCommPortNameSize));
        c.number = static_cast<int32_t>(strtol(portName + 3, nullptr, 10));
        char friendly[66] = {};
        if (SetupDiGetDeviceRegistryPropertyA(set, &info, SPDRP_FRIENDLYNAME, nullptr,
                                              reinterpret_cast<BYTE*>(friendly),
                                              sizeof friendly - 1, nullptr) &&
            friendly[0]) {
            std::string text = friendly;
            const size_t at = text.find("(COM");
            if (at != std::string::npos) text.resize(at > 0 ? at - 1 : 0);
            c.description = c.name + " " + text;
            if (Contains(friendly, "Corvane USB") || Contains(friendly, "Corvane UQX")) {
                NameMakersAdapter(set, info, c);
            }
        } else {
            c.description = c.name + " Communications Port";
        }
        out.push_back(std::move(c));
    }
    SetupDiDestroyDeviceInfoList(set);
}

void FillEntry(CommPortEntry& entry, const Candidate& c) {
    entry = CommPortEntry{};
    CopyText(entry.name, kCommPortNameSize, c.name);
    entry.number = c.number;
    std::string description = c.description;
    if (Contains(description, "Corvane UQX") || Contains(description, kMakerAdapter)) {
        entry.plain = 0;
    } else if (Contains(description, "MaxStream PKG-U") || Contains(description, "Digi PKG-U")) {
        description = c.name + " " + std::string(kRadioModemName);
        entry.direct = 0;
    }
    if (c.busy) {
        CopyText(entry.description, kCommPortDescriptionSize - kBusyMark.size(), description);
        const size_t used = strlen(entry.description);
        memcpy(entry.description + used, kBusyMark.data(), kBusyMark.size());
        entry.description[used + kBusyMark.size()] = '\0';
        entry.busy = 1;
    } else {
        CopyText(entry.description, kCommPortDescriptionSize, description);
    }
}

int BuildList(CommPortEntry* entries, size_t capacity, size_t& filled, bool force) {
    std::vector<Candidate> list;
    WalkDeviceManager(list, capacity);
    std::stable_sort(list.begin(), list.end(),
                     [](const Candidate& a, const Candidate& b) { return a.number < b.number; });
    for (Candidate& c : list) c.busy = ProbeOpen(c.name) != 0;

    if (force) {
        for (int n = 1; n <= kProbedPorts && list.size() < capacity; ++n) {
            if (std::any_of(list.begin(), list.end(),
                            [n](const Candidate& c) { return c.number == n; })) {
                continue;
            }
            Candidate c;
            c.name = "COM" + std::to_string(n);
            const DWORD error = ProbeOpen(c.name);
            if (error != 0 && !MeansBusy(error)) continue;
            c.number = n;
            c.busy = error != 0;
            c.description = c.name + " Communications Port";
            list.push_back(std::move(c));
        }
    }
    for (size_t i = 0; i < list.size(); ++i) FillEntry(entries[i], list[i]);
    filled = list.size();
    return kCommPortOk;
}

}  // namespace

int CommPortEnum(const TarsaSerial& port, CommPortEntry* entries, size_t* count, bool force,
                 const CommPortRoots&) {
    int result = kCommPortOk;
    if (!entries || !count) {
        result = kCommPortErrArgs;
    } else if (*count == 0) {
        result = kCommPortErrCapacity;
    } else {
        const size_t capacity = *count;
        *count = 0;
        for (size_t i = 0; i < capacity; ++i) entries[i] = CommPortEntry{};
        size_t filled = 0;
        try {
            result = BuildList(entries, capacity, filled, force);
        } catch (const std::bad_alloc&) {
            result = kCommPortErrNoMemory;
            filled = 0;
        }
        *count = filled;
    }
    if (result < 0 && port.log) {
        port.log->Write(kLogOutcome, port.name[0] ? port.name : kDefaultTag,
                        "CommPortEnum failed with MSWin error: \"%d\"", -result);
    }
    return result;
}

}  // namespace tarsa
