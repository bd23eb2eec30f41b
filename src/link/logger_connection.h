// Opening, identifying and closing a connection of the command link.
//
// ConnectDevice opens the port at 9600 baud, optionally configures the radio
// modem in front of it (Zl4Config), and logs in: over a cable by reading the
// identity ("get -ver", or "show" on old Talo firmware) and agreeing a higher
// line speed where the device can change its own; over the radio by asking
// who is there, waking sleeping loggers and logging in by name.
// DisconnectDevice logs out (radio) or returns the device to 9600 baud
// (cable) and closes the port. The capability mask that gates the setting
// commands is derived here from the device type and firmware version.
//
// Everything is logged to the link's log with the port name as tag. This file
// does not read or write any logger setting other than the identity.
#pragma once

#include <cstdint>

#include "link/terrel_protocol.h"

namespace tarsa {

// Baud code -> line speed: 0 -> 0, 1 -> 1200, 2 -> 9600 ... 8 -> 460800.
// Returns 0 for a code outside the table.
uint32_t BaudForCode(int code);
inline constexpr int kBaudCode9600 = 2;

struct DeviceTypeEntry {
    int code;
    const char* word;  // first word of the "get -ver" answer, upper case; null: never answered
    const char* name;
};

// The device type table, in code order; `count` receives its length.
const DeviceTypeEntry* DeviceTypes(size_t& count);
// Type code of an upper-case type word; 0 (unknown) when no entry matches.
int DeviceTypeForWord(const char* upperWord);
// Type name of a code; "Unknown" for codes outside the table.
const char* DeviceTypeName(int code);

// Capability mask of a type and firmware version number.
uint32_t CapabilitiesFor(int typeCode, int32_t versionNumber, bool newFirmware);
// Fills link.settings.capabilities from the identity in link.settings.
void DeriveCapabilities(Terrel_Protocol& link);

// Opens the request's port, configures the radio modem when asked, logs in.
// Returns the DeviceLogin result, kDCMissingArgument (null request or unknown
// link kind), kDCNoBuffer, kDCOutOfRange (link kind 0), kDCNotSupported
// (refused link kind), kDCRadioConfig or a TSOpen code. The name heard and the
// baud code in use are written back to the request.
int ConnectDevice(Terrel_Protocol& link, ConnectionRequest* request);

// Logs out and closes (or keeps open at 9600 with keep-port-open). Returns 1,
// 0 when nothing was connected, or kDCLastTrySilent when a radio logger could
// not be seen to leave (or `silent` forbade sending the logout).
int DisconnectDevice(Terrel_Protocol& link, int silent);

// Reads the identity of an old-firmware Talo with "show". With `nameBuffer`
// (9 bytes) only the device name is read into it. Returns 1, kDCOutOfRange
// (not an old-firmware Talo), kDCNotSupported (version below 1.10) or
// kDCBadAnswer.
int ParseShowCommand(Terrel_Protocol& link, char* nameBuffer);

// Reads the identity with "get -ver" (falling back to "show" on old Talo
// firmware unless `noShow`). Returns 1, kDCLoaderAnswered, kDCLoaderPrompt,
// kDCNoAnswer, kDCBadAnswer, kDCEcho or another DeviceCommand failure.
int VerCommand(Terrel_Protocol& link, int noShow);

// Asks the device to change its line speed (the host's is not changed).
// Returns 1, kDCNoBaudChange (old firmware), kDCNoAnswer, kDCBadAnswer or
// another DeviceCommand failure.
int SetBaudCommand(Terrel_Protocol& link, uint32_t rate);

// Logs in on the current link. `name` is a 9-byte buffer: over the radio an
// empty name is filled with the name heard. `baudCode` in: the wanted speed
// on a cable; out: the code in use. Returns 1, kDCMissingArgument,
// kDCNoListener, kDCRelayActive, kDCCancelled or another failure.
int DeviceLogin(Terrel_Protocol& link, char* name, const char* ignored, int8_t* baudCode);

// Radio modem AT command mode: bits 0x400 channel, 0x800 sub-channel, 0x1000
// version (read only). `direction` 0 reads, 1 writes; `bits` in: wanted, out:
// done. Returns 1, kDCRadioConfig (no command mode, or nothing done),
// kDCPartial (some done), -1 (command mode not left) or a DeviceCommand code.
int Zl4Config(Terrel_Protocol& link, int32_t* channel, int32_t* subChannel, char* version,
              int direction, uint32_t* bits);

}  // namespace tarsa
