// The digital-sensor update, end to end, as a digital-sensor build runs it
// when Start is pressed: connect to the reader (a Handra, or a Terrel Comm
// Device) on the selected port, check that it can bootstrap sensors and that
// its battery allows an update, hand its open port to the loader host, save
// the sensor's settings through the reader's SDI-12 pass-through, confirm
// version and sensor type, start the sensor's loader, erase and upload the
// image over the same port, check the new firmware, and restore calibration,
// address and sensor type.
//
// Through the reader, a sensor running its application and a sensor whose
// loader waits for a host (an interrupted update) answer the probe alike. The
// run takes that answer as the application; when the settings save then finds
// no sensor on the SDI-12 bus and a loader greets behind the bridge, it
// finishes the interrupted update with the settings file of the earlier run.
//
// Also here: the "Set Digital Sensor to:" menu table, which sensor types a
// run for a family accepts, and the finishing of a run (success report or
// failure clean-up) that returns the window to idle.
//
// The port belongs to the reader connection for the whole run; the loader
// host only borrows it (BSLHandOff ... BSLRelease), so it is never closed and
// reopened in the middle. The reader is steered by single characters written
// to the port: "]" bridges to the sensor's loader, "[" to the SDI-12 bus, the
// grave accent back to the reader's own commands. Nothing here decides what
// those characters do inside the reader.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "app/main_window.h"
#include "app/update_workflow.h"
#include "instrument/tarsa_protocol.h"

namespace tarsa::app {

// Results of RunSensorUpdate besides the failing operation's own code (the
// shared ones, kUpdateOk ... kUpdateLowBattery, are in update_workflow.h).
inline constexpr int kSensorNoLoader = -82;  // the sensor said it has no loader

// Logger type codes of the readers, as their version answer names them.
inline constexpr int kReaderCommDevice = 8;  // Terrel Comm Device: always able
inline constexpr int kReaderHandra = 10;     // Handra: from version 1.23, revision 'B'
inline constexpr uint32_t kHandraMinVersion = 123;
inline constexpr char kHandraMinRevision = 'B';
// A battery at or below this level (percent) refuses the update.
inline constexpr int32_t kReaderBatteryFloor = 9;

// Characters that steer the reader.
inline constexpr char kToLoaderBridge = ']';
inline constexpr char kToSdi12 = '[';
inline constexpr char kToReader = '`';

// One entry of the "Set Digital Sensor to:" menu.
struct SensorMenuEntry {
    const char* caption;  // as shown ("&&" is the toolkit's escape for "&")
    int32_t value;        // a sensor type, or a family request 260 to 264
    const char* versionFinderPath;
};

inline constexpr std::array<SensorMenuEntry, 17> kSensorMenu{{
    {"7QE", 122, "/versionfinder/7QE-Firmware.txt"},
    {"7QM", 120, "/versionfinder/7QM-Firmware.txt"},
    {"HX8", 119, "/versionfinder/HX8-Firmware.txt"},
    {"KX8", 118, "/versionfinder/KX8-Firmware.txt"},
    {"WPT-4 && WPT-9", 261, "/versionfinder/WPT4-Firmware.txt"},
    {"L5SG", 117, "/versionfinder/L5SG-Firmware.txt"},
    {"KTV Family", 262, "/versionfinder/KTV-Firmware.txt"},
    {"EQ-4", 113, "/versionfinder/EQ4-Firmware.txt"},
    {"EQ-4F", 109, "/versionfinder/EQ4-Firmware.txt"},
    {"HQ-5", 112, "/versionfinder/HQ5-Firmware.txt"},
    {"HQ-6", 102, "/versionfinder/HQ6-Firmware.txt"},
    {"NRX Family", 260, "/versionfinder/NRX-Firmware.txt"},
    {"WQ-4", 95, "/versionfinder/WQ4-Firmware.txt"},
    {"PQ-3", 94, "/versionfinder/PQ3-Firmware.txt"},
    {"Skyra 52", 92, "/versionfinder/Skyra52-Firmware.txt"},
    {"Skyra 61", 93, "/versionfinder/Skyra61-Firmware.txt"},
    {"Veyra 3x Family", 264, "/versionfinder/Veyra3X-Firmware.txt"},
}};

// The sensor type of the "Skyra 34" sensor, which has a version document but
// no menu entry.
inline constexpr int32_t kSkyra34 = 123;
inline constexpr const char* kSkyra34VersionFinderPath = "/versionfinder/Skyra34-Firmware.txt";

// Index in kSensorMenu of the entry that selecting `value` checks: the entry
// of that value, or of the family a single member type belongs to; -1 when
// no entry is checked.
int SensorMenuEntryOf(int32_t value);

// Whether the type check of a run for `target` (a type or a family request)
// accepts a sensor that reports `sensorType`.
bool SensorTypeAccepted(int32_t target, int32_t sensorType);

class SensorUpdate {
  public:
    SensorUpdate(MainWindow& window, Tarsa_protocol& protocol);

    // The start timer's handler in a digital-sensor build: prepares the
    // window, runs RunSensorUpdate and finishes. Returns the result.
    int timerStartTimer();
    // Returns 1, or kUpdateConnectFailed, kUpdateCancelled, kUpdateNoLoader,
    // kUpdateRefused, kUpdateWrongDevice, kUpdateLowBattery, kSensorNoLoader,
    // or the failing operation's own code (hand-off, settings save, erase,
    // upload, vectors, firmware check).
    int RunSensorUpdate();

    // The text of the connection failure message for a TPConnect result.
    std::string ConnectionFailureText(int c) const;

  private:
    // SaveSettingsAndStartLoader found an interrupted update.
    static constexpr int kInterruptedUpdate = 2;

    void Status(const std::string& text);
    std::string LoaderFailureText(int e) const;
    // Steps 2 to 3 of a run: the reader check and its battery. Returns 1 or
    // the run's result.
    int CheckReader();
    // Step 6 of a run whose probe answered `probe` (not a loader taking
    // commands): save the settings through the SDI-12 pass-through, ask the
    // questions, start the sensor's loader. Returns 1 when the loader was
    // started, kInterruptedUpdate when a loader was found waiting in place of
    // the application (nothing saved), or the run's result.
    int SaveSettingsAndStartLoader(int probe);
    // The settings save of step 6, keeping a settings file left by an
    // earlier run in the history when the save replaces it. Returns
    // TPSaveInfo's result, or kUpdateSettingsNotKept after its message when
    // that file could not be copied (nothing is saved then).
    int SaveSettingsKeepingTheEarlierFile();
    // After a probe answered "$" and the settings save found no sensor on the
    // bus: whether a loader waiting for a host greets behind the bridge (then
    // it takes commands); if not, the reader is put back on the bus.
    bool GreetWaitingLoader();

    MainWindow& w_;
    Tarsa_protocol& tp_;
};

}  // namespace tarsa::app
