// The list of the computer's serial ports for the port box.
//
// CommPortEnum fills a caller's array with one entry per serial port: the
// port name (the bare device name, such as ttyUSB0, which TSOpen accepts), a
// description for the user, the port number, and marks for ports that another
// program holds (" (busy)"), for the maker's USB adapter and for the
// radio-modem USB adapters. Ports come from the kernel's tty class in sysfs:
// every tty with a device behind it, except legacy UART slots that have no
// hardware. With `force`, device nodes of the usual serial families that sysfs
// did not list are probed and added when they exist.
//
// The busy check never configures a port: it opens the node without becoming
// its controlling terminal and tries the same exclusive lock that TSOpen takes,
// then lets go. It does not write to the device or change its line settings.
// The friendly name of the maker's adapter is not written back to the system.
//
// Not thread-safe; the sysfs and /dev roots are parameters so that tests can
// build a tree of their own.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarsa {

struct TarsaSerial;

inline constexpr int kCommPortOk = 1;             // the list was built (it may be empty)
inline constexpr int kCommPortErrArgs = -10;      // the entry array or the count is missing
inline constexpr int kCommPortErrCapacity = -11;  // the capacity is 0
inline constexpr int kCommPortErrNoMemory = -60;  // the working list could not be allocated

inline constexpr size_t kCommPortNameSize = 24;
inline constexpr size_t kCommPortDescriptionSize = 64;
inline constexpr size_t kCommPortCapacity = 16;  // what the main window asks for

// One port of the list. Texts are NUL-terminated and cut to their capacity.
struct CommPortEntry {
    char name[kCommPortNameSize + 1] = {};  // device name under the /dev root
    char description[kCommPortDescriptionSize + 1] = {};
    int32_t number = 0;  // the decimal digits that end the name
    uint8_t direct = 1;  // 0 for a radio-modem USB adapter
    uint8_t plain = 1;   // 0 for the maker's own USB adapter
    uint8_t busy = 0;    // 1 when another program holds the port
};

// Where CommPortEnum looks. `sysfs` holds class/tty/<name>; `dev` holds the
// device nodes that TSOpen opens.
struct CommPortRoots {
    const char* sysfs = "/sys";
    const char* dev = "/dev";
};

// Fills `entries` (capacity in `*count` on entry, entries filled on return),
// sorted by name family and then by port number. `port` supplies only the log
// and the tag of the failure line. Returns kCommPortOk, kCommPortErrArgs,
// kCommPortErrCapacity or kCommPortErrNoMemory.
int CommPortEnum(const TarsaSerial& port, CommPortEntry* entries, size_t* count, bool force,
                 const CommPortRoots& roots = CommPortRoots{});

}  // namespace tarsa
