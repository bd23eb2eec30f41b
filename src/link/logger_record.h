// The logger settings record: a data logger's identity and every setting the
// program reads from it or writes to it, with the bits that select and
// validate each setting, and the capability bits that say which settings a
// logger model has.
//
// Plain data only: no device exchange lives here. The identity part is filled
// when a connection identifies the device; the other fields by the setting
// commands. Texts are NUL-terminated and cut to their field.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarsa {

// Setting bits: one per field group, used both as the request mask of
// DeviceSettings and as the record's valid mask.
inline constexpr uint32_t kSetName = 0x1;
inline constexpr uint32_t kSetSerialNumber = 0x2;
inline constexpr uint32_t kSetIdentity = 0x4;
inline constexpr uint32_t kSetTrait = 0x8;
inline constexpr uint32_t kSetWake = 0x10;
inline constexpr uint32_t kSetPorts = 0x20;
inline constexpr uint32_t kSetPadc = 0x40;
inline constexpr uint32_t kSetDeviceId = 0x80;
inline constexpr uint32_t kSetDataParameter = 0x100;
inline constexpr uint32_t kSetRadioMode = 0x200;
inline constexpr uint32_t kSetRadioChannel = 0x400;
inline constexpr uint32_t kSetRadioSubChannel = 0x800;
inline constexpr uint32_t kSetRadioVersion = 0x1000;
inline constexpr uint32_t kSetRadioGroup = 0x1C00;
inline constexpr uint32_t kSetDepths = 0x2000;
inline constexpr uint32_t kSetSite = 0x4000;
inline constexpr uint32_t kSetLatitude = 0x8000;
inline constexpr uint32_t kSetLongitude = 0x10000;
inline constexpr uint32_t kSetTimeZone = 0x20000;
inline constexpr uint32_t kSetApn = 0x40000;
inline constexpr uint32_t kSetApnUser = 0x80000;
inline constexpr uint32_t kSetApnPassword = 0x100000;
inline constexpr uint32_t kSetHost = 0x200000;
inline constexpr uint32_t kSetAuthKey = 0x400000;
inline constexpr uint32_t kSetIpPort = 0x800000;
inline constexpr uint32_t kSetReportMode = 0x1000000;
inline constexpr uint32_t kSetAdc30 = 0x2000000;
inline constexpr uint32_t kSetAdc15 = 0x4000000;
inline constexpr uint32_t kSetBuildId = 0x8000000;

// Capability bits (derived from the device type and firmware version).
inline constexpr uint32_t kCapBaudChange = 0x1;
inline constexpr uint32_t kCapWakePadc = 0x10;
inline constexpr uint32_t kCapPorts = 0x20;
inline constexpr uint32_t kCapStoresTrait = 0x40;
inline constexpr uint32_t kCapRadioModem = 0x100;
inline constexpr uint32_t kCapRadioMode = 0x200;
inline constexpr uint32_t kCapClock = 0x1000;
inline constexpr uint32_t kCapAdcCal = 0x10000;
inline constexpr uint32_t kCapDataParameter = 0x20000;
inline constexpr uint32_t kCapBuildId = 0x40000;
inline constexpr uint32_t kCapSecondsClock = 0x80000;
inline constexpr uint32_t kCapAdcSinglePair = 0x100000;
inline constexpr uint32_t kCapSiteGroup =
    0x1000000;  // device ID, report, depths, site, tz, trait write
inline constexpr uint32_t kCapPosition = 0x4000000;  // latitude and longitude

// Trait bits. The device stores one byte t; the program's trait is
// (255 - t) | kTraitValid.
inline constexpr uint32_t kTraitRadio = 0x1;
inline constexpr uint32_t kTraitCellular = 0x8;
inline constexpr uint32_t kTraitValid = 0x4000;

// Device type codes of the logger protocol (not the catalogue's instrument codes).
inline constexpr int kDevTypeUnknown = 0;
inline constexpr int kDevTypeTalo = 2;
inline constexpr int kDevTypeTalox = 3;
inline constexpr int kDevTypeBrisen = 4;
inline constexpr int kDevTypeTalob = 6;
inline constexpr int kDevTypeKel7 = 11;

inline constexpr size_t kVersionTextMax = 20;

struct LoggerSettings {
    uint32_t validMask = 0;
    uint32_t capabilities = 0;
    int8_t typeCode = 0;
    char typeName[32] = {};
    uint8_t newFirmware = 0;
    char deviceId[9] = {};
    char deviceName[9] = {};
    char serialNumber[16] = {};
    char versionText[21] = {};
    int32_t versionNumber = 0;
    uint32_t trait = 0;
    char buildId[17] = {};
    int32_t measurementInterval = 0;
    uint8_t ports[5] = {};
    uint8_t depths[5] = {};
    int32_t padc = 0;
    char site[32] = {};
    double latitude = 0;
    double longitude = 0;
    int32_t timeZone = 0;
    uint8_t adc30First[5] = {};
    uint8_t adc30Second[5] = {};
    uint8_t adc15First[5] = {};
    uint8_t adc15Second[5] = {};
    int32_t dataParameter = 0;
    int32_t reportMode = 0;
    int32_t radioMode = 0;
    int32_t radioChannel = 0;
    int32_t radioSubChannel = 0;
    char radioVersion[9] = {};
    char apn[36] = {};
    char apnUser[36] = {};
    char apnPassword[36] = {};
    char authKey[33] = {};
    char host[64] = {};
    int32_t ipPort = 0;
};

}  // namespace tarsa
