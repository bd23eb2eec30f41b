// Simulated serial devices on pseudo-terminals, for tests and for tarsa-sim.
//
// Start() opens a pty pair and runs a device model on its master side in a
// transport thread; the program under test opens PortPath() like a serial
// port. The fault switches change how the device treats the next command
// (silence, echo, rejection, slow or garbled answers, scripted answers) and
// Vanish() pulls the cable. The simulator shares no code with the host's
// protocol layers: the devices follow their own reading of the protocols.
//
// Every member function is thread-safe. The simulator does not interpret the
// host's termios settings other than the line speed (see SetBaudCheck and
// SetWireTime).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "sim/flash.h"
#include "sim/reader_config.h"

namespace tarsa::sim {

struct RadioStation;
class Sdi12Sensor;

struct DeviceConfig {  // identity and behaviour of a simulated device
    // What "get -ver" answers. Empty: the model word and `version` ("Talox 2.29").
    std::string identity;
    std::string version;  // e.g. "1.10"; empty: the model's default version
    int appBaud = 9600;   // line speed of the application firmware
    // Only bytes sent at the device's own line speed are understood; at any
    // other host speed the device hears noise and the host reads noise.
    bool checkBaud = true;
    // Bytes take their time on the wire at the host's line speed (10 bits each).
    bool wireTime = false;

    // The bootstrap loader. Without one, "boot QUAB" answers "TarsaBSL MISSING".
    bool hasLoader = true;
    int loaderVersion = 12;  // what "g" reports
    int loaderBaud = 0;      // line speed of the loader; 0: the type's (9600 for most)
    // The device starts in its loader, waiting for a host, with the main flash
    // and the vectors erased: an update was interrupted.
    bool startInLoader = false;
    FlashMap flash;        // memory map of the flash model; left default: the type's
    int eraseMs = 0;       // work time of one segment erase
    int programMs = 0;     // work time of one "W" block or the vectors
    int restartMs = 200;   // after "V": deaf while the application starts
    int powerOffMs = 200;  // after a simulated power loss: deaf this long

    // Readers ("hd", "tcd"): the reader and the digital sensor on its bus.
    ReaderConfig reader;

    // Data loggers and instruments (see sim/README.md for the models and
    // their settings). Starting values that differ from the factory defaults,
    // by setting word and in the form "set" takes ({"site", "Lake 4"},
    // {"depth", "1 2 3 4 5"}, {"adc30", ten numbers without checksum},
    // {"clock", seconds since 2000}, {"resets", n}; instruments also
    // {"cal3", entry 3}, {"eqn00", record 0}, {"user01", record 1}, {"batt",
    // percent}). An unknown word or a value the device would refuse makes
    // Simulator::Start fail.
    std::map<std::string, std::string> settings;
    bool radioModem = false;       // a Zl4 radio modem is fitted (a Brisen always has one)
    bool cellular = false;         // a cellular modem is fitted (APN, host, key settings)
    bool brokenDataFlash = false;  // "yes" answers "DataFlash FAIL"
    // Instruments that need a login: every character of the login line must
    // arrive at least this long after the one before (0: no check).
    int loginTypingMs = 100;
    int eraseDataMs = 300;     // work time of "yes"
    int storedRecords = 1000;  // measurements in memory until "yes" erases them
    // The radio modem: the "zl4" device itself, or the one fitted in a logger.
    int radioChannel = 1;
    int radioSubChannel = 0x10;
    std::string radioVersion = "1046";
    // A logger on the radio: consecutive carriage returns that wake it, and how
    // long it stays awake (and logged in) after the last line it heard.
    int wakeCarriageReturns = 20;
    int awakeMs = 30000;
    // "zl4" only: the loggers in reach of the modem, and the radio's delay
    // before an answer comes back.
    std::vector<RadioStation> stations;
    int radioLatencyMs = 20;
};

// A logger on the radio behind a "zl4" device. Its name is config.settings["i"];
// its modem channel and sub-channel must match the zl4's for it to be heard.
struct RadioStation {
    std::string device = "talox";
    DeviceConfig config;
};

struct Reply {  // one scripted answer to the next command
    enum class Kind { Normal, Silent, Reject, Echo, BarePrompt, Raw };
    Kind kind = Kind::Normal;
    std::string text;

    static Reply Normal();                            // answer as the model would
    static Reply Silent();                            // answer nothing
    static Reply Reject(std::string text = "ERROR");  // "\r" + text + "\r>"
    static Reply Echo();                              // send the command back, then "\r>"
    static Reply BarePrompt();                        // "\r\r>": an empty answer
    static Reply Raw(std::string bytes);              // exactly these bytes
};

// A cut of the line at a chosen command: the device loses its power, or its
// port vanishes (the cable or the adapter is pulled).
struct Cut {
    enum class Kind { PowerLoss, Vanish };
    Kind kind = Kind::PowerLoss;
    std::string prefix;  // commands that start with this text count; empty: every command
    int nth = 1;         // the cut comes at the n-th counted command from now
    // False: the command is lost unexecuted. True: the device executes it
    // first and the cut swallows its answer.
    bool afterExecute = false;
    // A power loss lasts this long; 0: until PowerOn().
    int offMs = 0;
};

class Simulator {
  public:
    // Opens a pty pair and starts the transport thread with the named model
    // (lower-case catalogue match word, e.g. "talox", or "zl4" for the radio
    // modem with config.stations behind it). Null on failure, also when the
    // configuration holds a version, setting or station the device refuses.
    static std::unique_ptr<Simulator> Start(const std::string& device, DeviceConfig config = {});
    ~Simulator();  // stops the thread, closes the pty

    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    const std::string& PortPath() const;  // slave path, e.g. "/dev/pts/5"

    // Fault switches, take effect for the next command:
    void SetSilent(bool on);           // ignore every command
    void SetEcho(bool on);             // echo every command back (a relay)
    void SetReject(std::string text);  // answer every command with "\r"+text+"\r>"; empty = off
    void SetAnswerDelayMs(int ms);     // device work time before an answer starts
    void SetGarble(bool on);           // corrupt bytes of every answer
    void SetBaudCheck(bool on);        // see DeviceConfig::checkBaud
    void SetWireTime(bool on);         // see DeviceConfig::wireTime
    void ScriptReplies(std::vector<Reply> replies);  // the next N commands, then normal

    // Loader faults and work times, from the next loader command on:
    void SetRefuseWrite(int n);           // refuse the n-th "W" from now, once; 0 = off
    void SetPowerLossAfterBlocks(int n);  // lose power after n more "W" blocks; 0 = off
    void SetEraseMs(int ms);              // see DeviceConfig::eraseMs
    void SetProgramMs(int ms);            // see DeviceConfig::programMs
    void SetRefuseEveryBlock(int n);      // refuse every n-th "W" from now (its retry is taken)
    void SetGarbleEveryFrame(int n);      // garble the answer of every n-th loader command

    // Cuts (see Cut), armed from the next command on; one at a time, once.
    void SetCut(Cut cut);
    bool CutDone() const;  // the armed cut has happened
    void PowerOn();        // ends a power loss now
    // The device on a new pty (new PortPath()), as a replugged adapter: its
    // state, flash and settings stay as they were. For a device whose port
    // vanished; any other is first cut off as by Vanish().
    bool Reconnect();

    // The whole flash address space (index = address), information memory included.
    std::vector<uint8_t> Flash() const;
    // "application", "loader waiting" (for a host) or "loader" (taking commands).
    std::string State() const;
    int BlocksWritten() const;  // "W" blocks the loader has programmed

    // Readers: runs `use` under the simulator's lock on the digital sensor on
    // the bus (its settings, switches and firmware). False, without calling,
    // for other devices or an empty bus. For a reader with a sensor, the
    // loader switches, Flash(), State() and BlocksWritten() are the sensor's.
    bool WithSensor(const std::function<void(Sdi12Sensor&)>& use);

    // The logger's or instrument's current settings as it prints them, by
    // setting word, plus "clock" (seconds since 2000), "records", "resets";
    // loggers also "baud" and, with a radio modem, "rch", "rsch", "rver";
    // instruments "login" ("1" when logged in) and calibration entries as
    // "cal0" ... For a reader its own firmware's. For "zl4": the modem's "rch",
    // "rsch", "rver", "saved_rch", "saved_rsch" and "mode" ("data" or
    // "command"). Empty for a device without settings.
    std::map<std::string, std::string> Settings() const;
    // An instrument's record list, "eqn" or "user", by record number (empty
    // for a device without that list).
    std::vector<std::string> Records(const std::string& word) const;
    // The same for the n-th radio station of a "zl4" (empty when there is none).
    std::map<std::string, std::string> StationSettings(std::size_t n) const;

    std::string Received() const;  // every byte the host has sent so far
    uint64_t BytesSent() const;    // bytes the device has written towards the host
    int CommandCount() const;      // commands the device has taken (see sim/README.md)
    void Vanish();                 // close the master side now: the cable is pulled
    void Stop();                   // ends the transport thread; idempotent

    struct Impl;

  private:
    explicit Simulator(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

std::vector<std::string> DeviceNames();  // models this simulator has

}  // namespace tarsa::sim
