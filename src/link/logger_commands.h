// One operation per data-logger setting, each reading the setting with its
// "get" command (direction 0) or writing it with its "set" command
// (direction 1) through DeviceCommand.
//
// Every member is gated by the capability mask (or the trait) of the
// connected device: without the capability it returns -1 and sends nothing.
// Reads check what the device answered before storing it (a failed read
// leaves the field as it was, except where noted); writes are confirmed by
// "OK" (or, on old Talo firmware, by the prompt). Each failure is logged once
// at level 1 with the member's name. The APN password and the authentication
// key are credentials: they never appear in a log line.
//
// Nothing here retries beyond DeviceCommand's own tries, except the serial
// number read. Reading or writing a group of settings is logger_settings.h.
#pragma once

#include <cstdint>

#include "link/terrel_protocol.h"

namespace tarsa {

// Results of every member: 1 success; -1 the device lacks the setting
// (nothing sent); kDCMissingArgument null value; kDCOutOfRange value to write
// out of range (or bad direction); kDCBadAnswer write not confirmed or no
// value in the answer; kDCEmptyAnswer only the prompt came back (texts) or no
// number (latitude, longitude); any other DeviceCommand failure.
inline constexpr int kNoSuchSetting = -1;
inline constexpr int kReadSetting = 0;
inline constexpr int kWriteSetting = 1;

// Device name (8 characters); a write is checked with CheckDeviceName first
// (its code is returned). An empty read answer gives kDCEmptyName.
int NameCommand(Terrel_Protocol& link, char* name, int direction);
int DeviceIDCommand(Terrel_Protocol& link, char* deviceId, int direction);  // 8 characters
int ReportCommand(Terrel_Protocol& link, int32_t* mode, int direction);
// Five port depths; a read without the capability sets all five to 255.
int DepthCommand(Terrel_Protocol& link, uint8_t* depths, int direction);
int SiteCommand(Terrel_Protocol& link, char* site, int direction);  // 25 characters
// Latitude and longitude: writing exactly 0 clears the setting.
int LatitudeCommand(Terrel_Protocol& link, double* latitude, int direction);
int LongitudeCommand(Terrel_Protocol& link, double* longitude, int direction);
// Quarter hours from UTC; writing -2 sends (and stores) the computer's offset.
int TimeZoneCommand(Terrel_Protocol& link, int32_t* zone, int direction);
// Serial number (15 characters); only new firmware can write it.
int SNCommand(Terrel_Protocol& link, char* serial, int direction);
// Measurement interval; negative values are refused.
int WakeCommand(Terrel_Protocol& link, int32_t* interval, int direction);
// PADC in Hz; old firmware 1.64 and below has none (value -1, result -1).
int PADCCommand(Terrel_Protocol& link, int32_t* hertz, int direction);
// Five port configurations; a read without the capability sets all five to 0.
int PortsCommand(Terrel_Protocol& link, uint8_t* ports, int direction);
// ADC calibration factor pairs: kind 1 "-adc30", kind 2 "-adc15". A read
// stores 0 or 255 for a factor outside 1..254 and returns -1 for such a
// factor or a checksum that does not match.
int ADCcalCommand(Terrel_Protocol& link, int kind, uint8_t* first, uint8_t* second, int direction);
int DataParameterCommand(Terrel_Protocol& link, int32_t* value, int direction);
int TarsaBuildCommand(Terrel_Protocol& link, char* build, int direction);  // 16 characters
// The trait: stored on the device as one byte t, (255 - t) | 0x4000 here.
// A write without the site-group capability returns kDCNotWritable.
int TraitCommand(Terrel_Protocol& link, uint32_t* trait, int direction);
// Cellular settings: only on a Talox whose trait is valid and has the
// cellular bit. Texts of 35 characters, the host name 63.
int APNCommand(Terrel_Protocol& link, char* apn, int direction);
int APNUserCommand(Terrel_Protocol& link, char* user, int direction);
int APNPasswdCommand(Terrel_Protocol& link, char* password, int direction);
// The key must be 32 hexadecimal digits (kDCOutOfRange otherwise, nothing
// sent). A device that rejects "get -authkey" is asked "get -teakey".
int AuthKeyCommand(Terrel_Protocol& link, char* key, int direction);
int HostCommand(Terrel_Protocol& link, char* host, int direction);
int IPPortCommand(Terrel_Protocol& link, int32_t* port, int direction);
// Radio mode; a kel7 is always mode 16 and is not asked.
int RmodeCommand(Terrel_Protocol& link, int32_t* mode, int direction);

// True when the connected device is a cellular Talox.
bool IsCellular(const Terrel_Protocol& link);

}  // namespace tarsa
