// The serial-port list on Linux, read from the kernel's tty class in sysfs.
//
// Every <sysfs>/class/tty/<name> with a "device" link is a port, unless its
// "type" attribute says 0: the 8250 driver registers a fixed number of UART
// slots and marks those without hardware that way. Virtual terminals and
// pseudo-terminals have no device link and are never listed. A USB port is
// described by its USB device's manufacturer and product strings, found by
// walking up from the tty's device directory to the first directory that has
// idVendor and idProduct; other ports by their driver's name (the hardware's
// driver, not the generic serial-base port and controller drivers).
//
// What sysfs says is read with bounded reads and cleaned of control bytes;
// names that do not end in a port number, or that would not fit an entry, are
// skipped. Nothing here writes to sysfs or to a device.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>  // realpath
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
constexpr std::string_view kPlainPort = " Communications Port";
constexpr std::string_view kUsbPort = " USB Serial Port";
constexpr std::string_view kMakerAdapter = "Halvern USB Adapter";
constexpr std::string_view kRadioModemName = "Corvane USB Zl4";
constexpr const char* kDefaultTag = "TarsaSerial";

// Device-node families that the forced probe looks for under the /dev root.
constexpr std::string_view kProbedFamilies[] = {"ttyS", "ttyUSB", "ttyACM", "ttyAMA"};

// Directories between a tty's device and its USB device: the usb-serial port,
// the interface, then the device.
constexpr int kUsbSearchLevels = 3;
// Port and controller devices of the serial-base bus above a UART's tty.
constexpr int kSerialBaseLevels = 2;
// A sysfs attribute longer than this is not one we understand.
constexpr size_t kAttributeLimit = 256;
// More ttys than this in one directory means something other than a computer's
// ports; the rest are ignored rather than letting the list grow without bound.
constexpr size_t kCandidateLimit = 4096;

template <typename Call>
auto RetryEintr(Call call) {
    decltype(call()) r;
    do {
        r = call();
    } while (r == -1 && errno == EINTR);
    return r;
}

bool Contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

// The family ("ttyUSB") and number (10) of "ttyUSB10". False when the name
// does not end in 1 to 9 digits after a non-empty family, or is too long.
bool SplitPortName(std::string_view name, std::string_view& family, int32_t& number) {
    if (name.empty() || name.size() > kCommPortNameSize) return false;
    size_t digits = 0;
    while (digits < name.size() && name[name.size() - 1 - digits] >= '0' &&
           name[name.size() - 1 - digits] <= '9') {
        ++digits;
    }
    if (digits == 0 || digits > 9 || digits == name.size()) return false;
    family = name.substr(0, name.size() - digits);
    int32_t value = 0;
    for (char c : name.substr(name.size() - digits)) value = value * 10 + (c - '0');
    number = value;
    return true;
}

// Copies `text` into a buffer of `capacity` characters plus the terminator,
// cutting it at a character boundary so that no UTF-8 sequence is split.
void CopyText(char* dest, size_t capacity, std::string_view text) {
    size_t n = std::min(text.size(), capacity);
    if (n < text.size()) {
        while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
    }
    memcpy(dest, text.data(), n);
    dest[n] = '\0';
}

// The whole of a small sysfs attribute, control bytes turned into spaces and
// surrounding blanks removed. Empty when the file is missing or unreadable.
std::string ReadAttribute(const std::string& path) {
    int fd = RetryEintr([&] { return open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC); });
    if (fd < 0) return {};
    char buf[kAttributeLimit];
    size_t held = 0;
    while (held < sizeof buf) {
        ssize_t n = RetryEintr([&] { return read(fd, buf + held, sizeof buf - held); });
        if (n <= 0) break;
        held += static_cast<size_t>(n);
    }
    close(fd);
    std::string text(buf, held);
    for (char& c : text) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) c = ' ';
    }
    size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    size_t last = text.find_last_not_of(' ');
    return text.substr(first, last - first + 1);
}

bool IsFile(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The canonical form of `path`, empty when it does not resolve.
std::string RealPath(const std::string& path) {
    char resolved[PATH_MAX];
    if (!realpath(path.c_str(), resolved)) return {};
    return resolved;
}

std::string BaseName(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// What the busy check learnt about a device node.
enum class NodeState { kAbsent, kFree, kBusy, kNoAccess };

// Opens the node the way TSOpen would be refused or admitted, without
// configuring it: another program holding it exclusively (TIOCEXCL refuses
// the open) or holding its lock (as TSOpen does) makes it busy.
NodeState ProbeNode(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) return NodeState::kAbsent;
    int fd =
        RetryEintr([&] { return open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); });
    if (fd < 0) {
        switch (errno) {
            case EBUSY:
                return NodeState::kBusy;
            case EACCES:
            case EPERM:
                return NodeState::kNoAccess;
            default:  // ENOENT, ENODEV, ENXIO, EIO: no hardware behind the node
                return NodeState::kAbsent;
        }
    }
    NodeState state = NodeState::kFree;
    if (RetryEintr([&] { return flock(fd, LOCK_EX | LOCK_NB); }) != 0) {
        if (errno == EWOULDBLOCK) state = NodeState::kBusy;
    } else {
        flock(fd, LOCK_UN);
    }
    close(fd);
    return state;
}

// The USB facts of a tty's device, when it sits on a USB device.
struct UsbFacts {
    bool found = false;
    std::string vendorId, productId, manufacturer, product, serial;
};

UsbFacts FindUsbDevice(const std::string& deviceDir, const std::string& sysfsReal) {
    UsbFacts usb;
    // A device link that leads out of the sysfs tree is not followed further.
    if (deviceDir.compare(0, sysfsReal.size(), sysfsReal) != 0) return usb;
    std::string dir = deviceDir;
    for (int level = 0; level <= kUsbSearchLevels; ++level) {
        if (IsFile(dir + "/idVendor") && IsFile(dir + "/idProduct")) {
            usb.found = true;
            usb.vendorId = ReadAttribute(dir + "/idVendor");
            usb.productId = ReadAttribute(dir + "/idProduct");
            usb.manufacturer = ReadAttribute(dir + "/manufacturer");
            usb.product = ReadAttribute(dir + "/product");
            usb.serial = ReadAttribute(dir + "/serial");
            return usb;
        }
        size_t slash = dir.find_last_of('/');
        if (slash == std::string::npos || slash <= sysfsReal.size()) break;
        dir.resize(slash);
    }
    return usb;
}

// The name of the driver that runs the port. Newer kernels put every UART on
// a "serial-base" bus of controller and port devices whose drivers are only
// called "ctrl" and "port"; the driver that names the hardware is on the
// first ancestor outside that bus.
std::string DriverName(const std::string& deviceDir, const std::string& sysfsReal) {
    std::string dir = deviceDir;
    if (dir.compare(0, sysfsReal.size(), sysfsReal) == 0) {
        for (int level = 0; level < kSerialBaseLevels; ++level) {
            if (BaseName(RealPath(dir + "/subsystem")) != "serial-base") break;
            size_t slash = dir.find_last_of('/');
            if (slash == std::string::npos || slash <= sysfsReal.size()) break;
            dir.resize(slash);
        }
    }
    return BaseName(RealPath(dir + "/driver"));
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

// The text the user sees for a port found in sysfs.
std::string Describe(const std::string& name, const UsbFacts& usb, const std::string& driver) {
    if (usb.found) {
        std::string maker = usb.manufacturer;
        // Many adapters repeat their maker at the start of the product string.
        if (!usb.product.empty() && usb.product.compare(0, maker.size(), maker) == 0) maker.clear();
        std::string friendly = maker;
        if (!usb.product.empty()) friendly += (friendly.empty() ? "" : " ") + usb.product;

        // The maker's adapter: product 8414 with a serial number that names it;
        // a tag in brackets after that is shown too.
        if ((Contains(friendly, "Corvane USB") || Contains(friendly, "Corvane UQX")) &&
            EqualsIgnoreCase(usb.productId, "8414") && Contains(usb.serial, "CORVANE_UQX")) {
            std::string text = name + " " + std::string(kMakerAdapter);
            size_t bracket = usb.serial.find('[');
            if (bracket != std::string::npos) text += " " + usb.serial.substr(bracket);
            return text;
        }
        if (!friendly.empty()) return name + " " + friendly;

        std::string text = name + std::string(kUsbPort);
        if (!usb.vendorId.empty() || !usb.productId.empty()) {
            text += " " + usb.vendorId + ":" + usb.productId;
        }
        if (!driver.empty()) text += " (" + driver + ")";
        return text;
    }
    std::string text = name + std::string(kPlainPort);
    if (!driver.empty()) text += " (" + driver + ")";
    return text;
}

struct Candidate {
    std::string name;
    std::string family;
    int32_t number = 0;
    std::string description;
    bool busy = false;
};

bool PortOrder(const Candidate& a, const Candidate& b) {
    if (a.family != b.family) return a.family < b.family;
    if (a.number != b.number) return a.number < b.number;
    return a.name < b.name;
}

// The ports of the tty class. False when the class directory cannot be read
// (no sysfs), so that the caller probes the device nodes instead.
bool WalkSysfs(const CommPortRoots& roots, std::vector<Candidate>& out) {
    std::string sysfsReal = RealPath(roots.sysfs);
    std::string classDir = std::string(roots.sysfs) + "/class/tty";
    DIR* dir = opendir(classDir.c_str());
    if (!dir || sysfsReal.empty()) {
        if (dir) closedir(dir);
        return false;
    }
    while (struct dirent* entry = readdir(dir)) {
        std::string_view name = entry->d_name;
        std::string_view family;
        int32_t number = 0;
        if (name.empty() || name[0] == '.' || !SplitPortName(name, family, number)) continue;
        if (out.size() >= kCandidateLimit) break;

        std::string base = classDir + "/" + std::string(name);
        std::string device = RealPath(base + "/device");
        if (device.empty()) continue;                        // a virtual terminal
        if (ReadAttribute(base + "/type") == "0") continue;  // a UART slot without a UART

        std::string driver = DriverName(device, sysfsReal);
        UsbFacts usb = FindUsbDevice(device, sysfsReal);

        Candidate c;
        c.name = name;
        c.family = family;
        c.number = number;
        c.description = Describe(c.name, usb, driver);
        out.push_back(std::move(c));
    }
    closedir(dir);
    return true;
}

// Device nodes of the usual serial families that the list does not hold yet,
// in port order.
std::vector<Candidate> ProbeCandidates(const CommPortRoots& roots,
                                       const std::vector<Candidate>& listed) {
    std::vector<Candidate> out;
    DIR* dir = opendir(roots.dev);
    if (!dir) return out;
    while (struct dirent* entry = readdir(dir)) {
        std::string_view name = entry->d_name;
        std::string_view family;
        int32_t number = 0;
        if (!SplitPortName(name, family, number)) continue;
        if (std::find(std::begin(kProbedFamilies), std::end(kProbedFamilies), family) ==
            std::end(kProbedFamilies)) {
            continue;
        }
        if (std::any_of(listed.begin(), listed.end(),
                        [&](const Candidate& c) { return c.name == name; })) {
            continue;
        }
        if (out.size() >= kCandidateLimit) break;
        Candidate c;
        c.name = name;
        c.family = family;
        c.number = number;
        out.push_back(std::move(c));
    }
    closedir(dir);
    std::sort(out.begin(), out.end(), PortOrder);
    return out;
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
        // The mark stays visible however long the description is.
        CopyText(entry.description, kCommPortDescriptionSize - kBusyMark.size(), description);
        size_t used = strlen(entry.description);
        memcpy(entry.description + used, kBusyMark.data(), kBusyMark.size());
        entry.description[used + kBusyMark.size()] = '\0';
        entry.busy = 1;
    } else {
        CopyText(entry.description, kCommPortDescriptionSize, description);
    }
}

int BuildList(CommPortEntry* entries, size_t capacity, size_t& filled, bool force,
              const CommPortRoots& roots) {
    std::vector<Candidate> list;
    if (!WalkSysfs(roots, list)) force = true;

    // sysfs gives no meaningful order, so the ports kept when there are more
    // than the caller can take are the first ones in port order.
    std::sort(list.begin(), list.end(), PortOrder);
    if (list.size() > capacity) list.resize(capacity);
    for (Candidate& c : list) {
        c.busy = ProbeNode(std::string(roots.dev) + "/" + c.name) == NodeState::kBusy;
    }

    if (force && list.size() < capacity) {
        for (Candidate& c : ProbeCandidates(roots, list)) {
            NodeState state = ProbeNode(std::string(roots.dev) + "/" + c.name);
            if (state == NodeState::kAbsent) continue;
            c.busy = state == NodeState::kBusy;
            c.description = c.name + std::string(kPlainPort);
            list.push_back(std::move(c));
            if (list.size() >= capacity) break;
        }
        std::sort(list.begin(), list.end(), PortOrder);
    }

    for (size_t i = 0; i < list.size(); ++i) FillEntry(entries[i], list[i]);
    filled = list.size();
    return kCommPortOk;
}

}  // namespace

int CommPortEnum(const TarsaSerial& port, CommPortEntry* entries, size_t* count, bool force,
                 const CommPortRoots& roots) {
    int result = kCommPortOk;
    if (!entries || !count) {
        result = kCommPortErrArgs;
    } else if (*count == 0) {
        result = kCommPortErrCapacity;
    } else {
        size_t capacity = *count;
        *count = 0;
        for (size_t i = 0; i < capacity; ++i) entries[i] = CommPortEntry{};
        size_t filled = 0;
        try {
            result = BuildList(entries, capacity, filled, force, roots);
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
