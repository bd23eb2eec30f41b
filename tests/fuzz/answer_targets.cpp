// Fuzz targets of the answers a device gives the host. Each runs the real
// protocol operations on the slave side of a pty against an AnswerDevice that
// plays the input back, and checks that what the host kept fits its fields.
#include <signal.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "answer_device.h"
#include "fuzz_targets.h"
#include "instrument/tarsa_protocol.h"
#include "link/logger_connection.h"
#include "loader/bsl_host.h"
#include "log/tarsa_log.h"
#include "sdi12/sensor_operations.h"
#include "serial/serial_port.h"

namespace tarsa::fuzz {
namespace {

// Every format string of the log runs; the lines are kept only when
// TARSA_FUZZ_LOG names a file (to follow one input through the host).
TarsaLog& Log() {
    static TarsaLog log(getenv("TARSA_FUZZ_LOG") ? getenv("TARSA_FUZZ_LOG") : "/dev/null", 40,
                        false);
    return log;
}

// Aborts unless `field` holds a terminating NUL within its capacity.
template <size_t N>
void CheckText(const char (&field)[N]) {
    if (!memchr(field, '\0', N)) abort();
}

void CheckLogger(const LoggerSettings& s) {
    CheckText(s.typeName);
    CheckText(s.deviceId);
    CheckText(s.deviceName);
    CheckText(s.serialNumber);
    CheckText(s.versionText);
    CheckText(s.buildId);
    CheckText(s.site);
    CheckText(s.radioVersion);
    CheckText(s.apn);
    CheckText(s.apnUser);
    CheckText(s.apnPassword);
    CheckText(s.authKey);
    CheckText(s.host);
}

}  // namespace

int VersionAnswers(const uint8_t* data, size_t size) {
    AnswerDevice device(data, size, "\r>");
    if (!device.ok()) return 0;
    Tarsa_protocol tp(&Log());
    InstrumentIdentity identity;
    const int rc = TPConnect(tp, device.PortPath(), 0, 1, &identity);
    CheckText(identity.displayName);
    CheckText(identity.versionText);
    CheckLogger(tp.link.settings);
    if (rc > 0 && (identity.type < 1 || identity.type > 24)) abort();
    if (rc > 0) {
        // The battery answer and the capture of every setting follow on a good connection.
        int32_t percent = 0;
        TPCheckBattery(tp, &percent);
        static const std::string path =
            "/tmp/tarsa_fuzz_capture_" + std::to_string(getpid()) + ".txt";
        TPSaveInfo(tp, path.c_str());
        CheckLogger(tp.loggerSettings);
        remove(path.c_str());
    }
    TPDisconnect(tp, false);
    return rc > 0 ? 1 : 0;
}

int ShowAnswers(const uint8_t* data, size_t size) {
    AnswerDevice device(data, size, "\r>");
    if (!device.ok()) return 0;
    Terrel_Protocol link(&Log());
    if (TSOpen(link.port, device.PortPath(), 9600) != kTSOk) return 0;
    link.settings.typeCode = kDevTypeTalo;
    link.settings.newFirmware = 0;
    char name[kDeviceNameMax + 1];
    const int named = ParseShowCommand(link, name);
    if (named > 0 && strlen(name) > kDeviceNameMax) abort();
    const int rc = ParseShowCommand(link, nullptr);
    CheckLogger(link.settings);
    if (rc > 0 && link.settings.versionNumber < 110) abort();
    TSClose(link.port);
    return rc > 0 ? 1 : 0;
}

int Sdi12Answers(const uint8_t* data, size_t size) {
    AnswerDevice device(data, size, "\r\n");
    if (!device.ok()) return 0;
    Terrel_Protocol link(&Log());
    if (TSOpen(link.port, device.PortPath(), 9600) != kTSOk) return 0;
    TarsaSDI12 sdi(&Log(), &link);
    sdi.tries = 2;
    int accepted = 0;
    if (SDIGetSensorVersion(sdi) > 0) accepted = 1;
    SDIGetSensorType(sdi);
    SDIGetSensorSettings(sdi);
    SDIGetSensorCalibration(sdi);
    SDIGetSensorSN(sdi);
    SDIReformatCalibration(sdi);
    CheckText(sdi.identification);
    CheckText(sdi.calibration1);
    CheckText(sdi.calibration2);
    CheckText(sdi.calibration3);
    CheckText(sdi.serialNumber);
    CheckText(sdi.reply);
    TSClose(link.port);
    return accepted;
}

int RecordLists(const uint8_t* data, size_t size) {
    AnswerDevice device(data, size, "\r>");
    if (!device.ok()) return 0;
    Tarsa_protocol tp(&Log());
    if (TSOpen(tp.link.port, device.PortPath(), 9600) != kTSOk) return 0;
    tp.type = 8;
    int accepted = 0;
    for (int kind : {kRecordKindEquation, kRecordKindUser}) {
        RecordSet& set = kind == kRecordKindEquation ? tp.equations : tp.users;
        if (GetRecords_Serial(tp, set, kind) > 0) accepted = 1;
        if (set.count < 0 || set.count > kMaxRecords || (set.count > 0) != bool(set.records))
            abort();
        AlphabetizeRecords(tp, set, kind);
        for (int32_t i = 0; i < set.count; ++i) {
            CheckText(set.records[i].name);
            CheckText(set.records[i].text);
        }
    }
    TSClose(tp.link.port);
    return accepted;
}

int LoaderReplies(const uint8_t* data, size_t size) {
    // A loader that hangs up mid-write must end the write, not the process.
    signal(SIGPIPE, SIG_IGN);
    AnswerDevice device(data, size, "\r");
    if (!device.ok()) return 0;
    TarsaBSLHost host(&Log());
    const int version = BSLConnect(host, device.PortPath(), kBSLAppBaud, false, 2);
    if (version < 0) return 0;
    if (host.loaderVersion != version) abort();
    BSLEraseFlash(host, 0xF000, 0xF3FF, false);
    BSLSendVectors(host);
    BSLDisconnect(host);
    return 1;
}

}  // namespace tarsa::fuzz
