// The serial-port list built from a fake sysfs tree and a fake /dev folder in
// a temporary directory. Device nodes are symbolic links to the slave sides of
// real pseudo-terminals, so the busy check runs against real terminals that
// the test holds or leaves free.
#include "serial/port_enum.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "log/tarsa_log.h"
#include "serial/serial_port.h"
#include "support/pty_pair.h"

namespace tarsa {
namespace {

namespace fs = std::filesystem;

struct UsbStrings {
    std::string vendorId = "0403";
    std::string productId = "6001";
    std::string manufacturer;
    std::string product;
    std::string serial;
};

UsbStrings Usb(std::string manufacturer, std::string product, std::string serial = "",
               std::string productId = "6001") {
    UsbStrings usb;
    usb.manufacturer = std::move(manufacturer);
    usb.product = std::move(product);
    usb.serial = std::move(serial);
    usb.productId = std::move(productId);
    return usb;
}

class PortEnumTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "port-enum-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
        fs::create_directories(root_ / "sys/class/tty");
        fs::create_directories(root_ / "dev");
        roots_.sysfs = sysfs_.assign((root_ / "sys").string()).c_str();
        roots_.dev = dev_.assign((root_ / "dev").string()).c_str();
        logPath_ = (root_ / "enum.log").string();
        log_ = std::make_unique<TarsaLog>(logPath_.c_str(), 40, true);
        port_.log = log_.get();
    }
    void TearDown() override { fs::remove_all(root_); }

    static void WriteFile(const fs::path& path, const std::string& text) {
        std::ofstream(path) << text << "\n";
    }

    // class/tty/<name>/device -> the device directory under sys/devices, with
    // its driver link; `type` is the UART type attribute when not empty.
    fs::path AddTty(const std::string& name, const std::string& devicePath,
                    const std::string& driver, const std::string& type = "") {
        fs::path device = root_ / "sys/devices" / devicePath;
        fs::create_directories(device);
        fs::path cls = root_ / "sys/class/tty" / name;
        fs::create_directories(cls);
        fs::create_symlink(fs::relative(device, cls), cls / "device");
        if (!driver.empty()) {
            fs::path drv = root_ / "sys/bus/serial/drivers" / driver;
            fs::create_directories(drv);
            if (!fs::exists(device / "driver")) {
                fs::create_symlink(fs::relative(drv, device), device / "driver");
            }
        }
        if (!type.empty()) WriteFile(cls / "type", type);
        return device;
    }

    // A USB serial port: the USB device, its interface and the port below it.
    void AddUsbTty(const std::string& name, const std::string& usbDevice, const UsbStrings& usb,
                   const std::string& driver = "ftdi_sio") {
        fs::path dev = root_ / "sys/devices/pci0000:00/usb1" / usbDevice;
        AddTty(name, "pci0000:00/usb1/" + usbDevice + "/" + usbDevice + ":1.0/" + name, driver);
        WriteFile(dev / "idVendor", usb.vendorId);
        WriteFile(dev / "idProduct", usb.productId);
        if (!usb.manufacturer.empty()) WriteFile(dev / "manufacturer", usb.manufacturer);
        if (!usb.product.empty()) WriteFile(dev / "product", usb.product);
        if (!usb.serial.empty()) WriteFile(dev / "serial", usb.serial);
    }

    // Links `dir` under sys/devices to a bus and, when given, to a driver of it.
    void SetBus(const std::string& dir, const std::string& bus, const std::string& driver) {
        fs::path device = root_ / "sys/devices" / dir;
        fs::path busDir = root_ / "sys/bus" / bus;
        fs::create_directories(busDir / "drivers");
        fs::create_symlink(fs::relative(busDir, device), device / "subsystem");
        if (!driver.empty()) {
            fs::create_directories(busDir / "drivers" / driver);
            fs::create_symlink(fs::relative(busDir / "drivers" / driver, device),
                               device / "driver");
        }
    }

    // dev/<name> -> the slave side of a fresh pseudo-terminal, which is returned.
    test::PtyPair& AddNode(const std::string& name) {
        ptys_.push_back(std::make_unique<test::PtyPair>());
        EXPECT_TRUE(ptys_.back()->ok());
        fs::create_symlink(ptys_.back()->SlavePath(), root_ / "dev" / name);
        return *ptys_.back();
    }

    std::vector<CommPortEntry> Enumerate(bool force, size_t capacity = kCommPortCapacity,
                                         int* result = nullptr) {
        std::vector<CommPortEntry> entries(capacity);
        size_t count = capacity;
        int rc = CommPortEnum(port_, entries.data(), &count, force, roots_);
        if (result) {
            *result = rc;
        } else {
            EXPECT_EQ(rc, kCommPortOk);
        }
        EXPECT_LE(count, capacity);
        entries.resize(count);
        return entries;
    }

    static std::vector<std::string> Names(const std::vector<CommPortEntry>& entries) {
        std::vector<std::string> names;
        for (const CommPortEntry& e : entries) names.emplace_back(e.name);
        return names;
    }

    static const CommPortEntry& Find(const std::vector<CommPortEntry>& entries,
                                     const std::string& name) {
        for (const CommPortEntry& e : entries) {
            if (name == e.name) return e;
        }
        ADD_FAILURE() << name << " is not listed";
        static const CommPortEntry kNone{};
        return kNone;
    }

    std::string LogText() const {
        std::ifstream in(logPath_);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    fs::path root_;
    std::string sysfs_, dev_;
    CommPortRoots roots_;
    std::vector<std::unique_ptr<test::PtyPair>> ptys_;
    std::string logPath_;
    std::unique_ptr<TarsaLog> log_;
    TarsaSerial port_;
};

TEST_F(PortEnumTest, ListsHardwarePortsInFamilyAndNumberOrder) {
    AddUsbTty("ttyUSB10", "1-3", Usb("", "C"));
    AddUsbTty("ttyUSB1", "1-1", Usb("", "A"));
    AddUsbTty("ttyUSB3", "1-2", Usb("", "B"));
    AddTty("ttyS0", "pnp0/00:01", "serial", "4");
    AddTty("ttyS1", "platform/serial8250", "serial8250", "0");  // slot without a UART
    fs::create_directories(root_ / "sys/class/tty/tty0");       // virtual: no device
    fs::create_directories(root_ / "sys/class/tty/ptmx");
    AddTty("console", "platform/console", "");       // no port number
    AddTty("ttyUSB1234567890", "platform/odd", "");  // number too long

    std::vector<CommPortEntry> list = Enumerate(false);
    EXPECT_EQ(Names(list), (std::vector<std::string>{"ttyS0", "ttyUSB1", "ttyUSB3", "ttyUSB10"}));
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list[0].number, 0);
    EXPECT_EQ(list[1].number, 1);
    EXPECT_EQ(list[2].number, 3);
    EXPECT_EQ(list[3].number, 10);
    EXPECT_STREQ(list[3].description, "ttyUSB10 C");
    for (const CommPortEntry& e : list) {
        EXPECT_EQ(e.direct, 1);
        EXPECT_EQ(e.plain, 1);
        EXPECT_EQ(e.busy, 0) << e.name << " has no device node, so nobody holds it";
    }
}

TEST_F(PortEnumTest, DescribesUsbPortsByTheirStringsAndOthersByTheirDriver) {
    AddUsbTty("ttyUSB0", "1-1", Usb("FTDI", "FT232R USB UART"));
    AddUsbTty("ttyUSB1", "1-2", Usb("Prolific", "Prolific USB-Serial"));
    AddUsbTty("ttyUSB2", "1-3", Usb("Acme", ""));
    // A CDC modem: the tty sits directly on the interface, no strings.
    fs::path dev = root_ / "sys/devices/pci0000:00/usb1/1-4";
    AddTty("ttyACM0", "pci0000:00/usb1/1-4/1-4:1.0", "cdc_acm");
    WriteFile(dev / "idVendor", "2341");
    WriteFile(dev / "idProduct", "0043");
    AddTty("ttyS4", "pci0000:00/0000:03:00.0", "exar_serial", "4");
    AddTty("ttyAMA0", "platform/uart", "");
    // A UART below the serial-base bus: its port and controller devices have
    // generic drivers, the platform device above them the real one.
    AddTty("ttyS1", "pnp0/00:01/00:01:0/00:01:0.0", "", "4");
    SetBus("pnp0/00:01/00:01:0/00:01:0.0", "serial-base", "port");
    SetBus("pnp0/00:01/00:01:0", "serial-base", "ctrl");
    SetBus("pnp0/00:01", "pnp", "serial");
    AddUsbTty("ttyUSB3", "1-5", Usb("", "Bad\tname\x01"));
    std::string longProduct(55, 'x');
    longProduct += "\xC3\xA9\xC3\xA9";  // the first é straddles the 64th character
    AddUsbTty("ttyUSB4", "1-6", Usb("", longProduct));

    std::vector<CommPortEntry> list = Enumerate(false);
    EXPECT_STREQ(Find(list, "ttyUSB0").description, "ttyUSB0 FTDI FT232R USB UART");
    EXPECT_STREQ(Find(list, "ttyUSB1").description, "ttyUSB1 Prolific USB-Serial");
    EXPECT_STREQ(Find(list, "ttyUSB2").description, "ttyUSB2 Acme");
    EXPECT_STREQ(Find(list, "ttyACM0").description, "ttyACM0 USB Serial Port 2341:0043 (cdc_acm)");
    EXPECT_STREQ(Find(list, "ttyS4").description, "ttyS4 Communications Port (exar_serial)");
    EXPECT_STREQ(Find(list, "ttyAMA0").description, "ttyAMA0 Communications Port");
    EXPECT_STREQ(Find(list, "ttyS1").description, "ttyS1 Communications Port (serial)");
    EXPECT_STREQ(Find(list, "ttyUSB3").description, "ttyUSB3 Bad name");

    // The cut falls inside the first two-byte character, which is dropped whole.
    std::string cut = Find(list, "ttyUSB4").description;
    EXPECT_EQ(cut, "ttyUSB4 " + std::string(55, 'x'));
}

TEST_F(PortEnumTest, MarksPortsThatAnotherProgramHolds) {
    AddUsbTty("ttyUSB0", "1-1", Usb("", "Free"));
    AddUsbTty("ttyUSB1", "1-2", Usb("", "Held by the port layer"));
    AddUsbTty("ttyUSB2", "1-3", Usb("", "Locked"));
    AddUsbTty("ttyUSB3", "1-4", Usb("", std::string(70, 'L')));
    test::PtyPair& free = AddNode("ttyUSB0");
    test::PtyPair& held = AddNode("ttyUSB1");
    test::PtyPair& locked = AddNode("ttyUSB2");
    test::PtyPair& longHeld = AddNode("ttyUSB3");

    TarsaSerial holder, longHolder;
    ASSERT_EQ(TSOpen(holder, held.SlavePath().c_str(), 9600), kTSOk);
    ASSERT_EQ(TSOpen(longHolder, longHeld.SlavePath().c_str(), 9600), kTSOk);
    int lockFd = open(locked.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(lockFd, 0);
    ASSERT_EQ(flock(lockFd, LOCK_EX | LOCK_NB), 0);

    std::vector<CommPortEntry> list = Enumerate(false);
    EXPECT_EQ(Find(list, "ttyUSB0").busy, 0);
    EXPECT_STREQ(Find(list, "ttyUSB0").description, "ttyUSB0 Free");
    EXPECT_EQ(Find(list, "ttyUSB1").busy, 1);
    EXPECT_STREQ(Find(list, "ttyUSB1").description, "ttyUSB1 Held by the port layer (busy)");
    EXPECT_EQ(Find(list, "ttyUSB2").busy, 1);
    EXPECT_STREQ(Find(list, "ttyUSB2").description, "ttyUSB2 Locked (busy)");
    std::string longText = Find(list, "ttyUSB3").description;
    EXPECT_EQ(longText, "ttyUSB3 " + std::string(49, 'L') + " (busy)")
        << "the mark stays visible within 64 characters";

    // The check let go of the free port and did not disturb the held one.
    TarsaSerial user;
    EXPECT_EQ(TSOpen(user, free.SlavePath().c_str(), 9600), kTSOk);
    TSClose(user);
    size_t written = 0;
    EXPECT_EQ(TSWrite(holder, "x", 1, written), 1);
    EXPECT_EQ(held.Drain(), "x");

    TSClose(holder);
    TSClose(longHolder);
    close(lockFd);
}

TEST_F(PortEnumTest, RecognisesTheMakersAndTheRadioModemAdapters) {
    AddUsbTty("ttyUSB0", "1-1", Usb("Corvane", "UQX", "CORVANE_UQX[Lab 3]", "8414"));
    AddUsbTty("ttyUSB1", "1-2", Usb("", "Corvane USB Cable", "CORVANE_UQX", "8414"));
    AddUsbTty("ttyUSB2", "1-3", Usb("", "Corvane UQX", "CORVANE_UQX[x]", "8415"));
    AddUsbTty("ttyUSB3", "1-4", Usb("", "Corvane USB Cable", "A1234[x]", "8414"));
    AddUsbTty("ttyUSB4", "1-5", Usb("MaxStream", "PKG-U"));
    AddUsbTty("ttyUSB5", "1-6", Usb("Digi", "Digi PKG-U"));
    AddNode("ttyUSB5");
    TarsaSerial holder;
    ASSERT_EQ(TSOpen(holder, (dev_ + "/ttyUSB5").c_str(), 9600), kTSOk);

    std::vector<CommPortEntry> list = Enumerate(false);
    const CommPortEntry& tagged = Find(list, "ttyUSB0");
    EXPECT_STREQ(tagged.description, "ttyUSB0 Halvern USB Adapter [Lab 3]");
    EXPECT_EQ(tagged.plain, 0);
    EXPECT_EQ(tagged.direct, 1);
    const CommPortEntry& untagged = Find(list, "ttyUSB1");
    EXPECT_STREQ(untagged.description, "ttyUSB1 Halvern USB Adapter");
    EXPECT_EQ(untagged.plain, 0);

    // Another product number: not renamed, but the name alone marks it.
    const CommPortEntry& otherPid = Find(list, "ttyUSB2");
    EXPECT_STREQ(otherPid.description, "ttyUSB2 Corvane UQX");
    EXPECT_EQ(otherPid.plain, 0);
    // A serial number that does not name the adapter: an ordinary port.
    const CommPortEntry& otherSerial = Find(list, "ttyUSB3");
    EXPECT_STREQ(otherSerial.description, "ttyUSB3 Corvane USB Cable");
    EXPECT_EQ(otherSerial.plain, 1);

    const CommPortEntry& radio = Find(list, "ttyUSB4");
    EXPECT_STREQ(radio.description, "ttyUSB4 Corvane USB Zl4");
    EXPECT_EQ(radio.direct, 0);
    EXPECT_EQ(radio.plain, 1);
    const CommPortEntry& heldRadio = Find(list, "ttyUSB5");
    EXPECT_STREQ(heldRadio.description, "ttyUSB5 Corvane USB Zl4 (busy)");
    EXPECT_EQ(heldRadio.direct, 0);
    EXPECT_EQ(heldRadio.busy, 1);
    TSClose(holder);
}

TEST_F(PortEnumTest, ForcedProbeAddsExistingNodesThatSysfsDidNotList) {
    AddUsbTty("ttyUSB0", "1-1", Usb("", "Listed"));
    AddNode("ttyUSB0");
    AddNode("ttyUSB5");
    test::PtyPair& busy = AddNode("ttyACM1");
    AddNode("ttyFOO3");                                                // not a serial family
    fs::create_symlink(root_ / "dev/nothing", root_ / "dev/ttyUSB7");  // no device
    WriteFile(root_ / "dev/ttyS2", "a plain file");                    // not a device
    TarsaSerial holder;
    ASSERT_EQ(TSOpen(holder, busy.SlavePath().c_str(), 9600), kTSOk);

    EXPECT_EQ(Names(Enumerate(false)), std::vector<std::string>{"ttyUSB0"});

    std::vector<CommPortEntry> list = Enumerate(true);
    EXPECT_EQ(Names(list), (std::vector<std::string>{"ttyACM1", "ttyUSB0", "ttyUSB5"}));
    EXPECT_STREQ(Find(list, "ttyUSB0").description, "ttyUSB0 Listed");
    EXPECT_STREQ(Find(list, "ttyUSB5").description, "ttyUSB5 Communications Port");
    EXPECT_EQ(Find(list, "ttyUSB5").number, 5);
    EXPECT_EQ(Find(list, "ttyUSB5").busy, 0);
    EXPECT_STREQ(Find(list, "ttyACM1").description, "ttyACM1 Communications Port (busy)");
    EXPECT_EQ(Find(list, "ttyACM1").busy, 1);

    roots_.sysfs = "/nonexistent-sysfs-root";
    EXPECT_EQ(Names(Enumerate(false)), (std::vector<std::string>{"ttyACM1", "ttyUSB0", "ttyUSB5"}))
        << "without sysfs the nodes are probed";
    TSClose(holder);
}

TEST_F(PortEnumTest, KeepsTheFirstPortsInOrderWhenThereAreMoreThanTheCapacity) {
    for (int i = 19; i >= 0; --i) {
        std::string name = "ttyUSB" + std::to_string(i);
        AddUsbTty(name, "1-" + std::to_string(i), Usb("", "P"));
    }
    std::vector<CommPortEntry> list = Enumerate(false);
    ASSERT_EQ(list.size(), 16u);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(list[i].number, i);

    // The forced probe only fills what room is left.
    AddNode("ttyACM0");
    AddNode("ttyACM1");
    fs::remove_all(root_ / "sys/class/tty");
    fs::create_directories(root_ / "sys/class/tty");
    AddUsbTty("ttyUSB9", "1-9", Usb("", "P"));
    EXPECT_EQ(Names(Enumerate(true, 2)), (std::vector<std::string>{"ttyACM0", "ttyUSB9"}));
}

TEST_F(PortEnumTest, RefusesMissingArgumentsAndLogsTheFailure) {
    std::vector<CommPortEntry> entries(4);
    size_t count = 4;
    EXPECT_EQ(CommPortEnum(port_, nullptr, &count, false, roots_), kCommPortErrArgs);
    EXPECT_EQ(CommPortEnum(port_, entries.data(), nullptr, false, roots_), kCommPortErrArgs);
    count = 0;
    EXPECT_EQ(CommPortEnum(port_, entries.data(), &count, false, roots_), kCommPortErrCapacity);
    EXPECT_EQ(count, 0u);

    std::string text = LogText();
    EXPECT_NE(text.find("TarsaSerial: CommPortEnum failed with MSWin error: \"10\""),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("CommPortEnum failed with MSWin error: \"11\""), std::string::npos);

    TarsaSerial silent;
    count = 0;
    EXPECT_EQ(CommPortEnum(silent, entries.data(), &count, false, roots_), kCommPortErrCapacity);
}

}  // namespace
}  // namespace tarsa
