// A data logger's settings as a whole, its radio settings, its clock and the
// erase of its stored measurements.
//
// DeviceSettings reads or writes the settings selected by a mask (the
// setting bits of logger_record.h), one member command at a time in a fixed
// order; a failed setting does not stop the others, and a logger that stops
// answering on a cable is logged into again and the failed setting retried.
// MSRadioCommand reads or writes the radio channel, sub-channel and radio
// version through the logger (or straight from the radio modem). DeviceTime
// sets or reads the logger's clock in seconds since 2000-01-01 00:00:00
// local time; EraseData confirms the logger's identity before it erases.
#pragma once

#include <cstdint>

#include "link/terrel_protocol.h"

namespace tarsa {

// Reads (direction 0) into the link's record and copies it to `record`, or
// writes (direction 1) the selected fields of `record`. `mask` in: the
// settings wanted; out: the settings that succeeded. Returns 1, -1 (nothing
// could be handled), kDCPartial, kDCMissingArgument, kDCOutOfRange (bad
// direction), kDCNoAnswer, kDCEcho, kDCRelayActive, kDCEmptyName,
// kDCNotSupported (old Talo firmware below 1.10), kDCCancelled.
int DeviceSettings(Terrel_Protocol& link, LoggerSettings* record, uint32_t* mask, int direction);

// Writes (direction 1) the clock: `value` null or 0 means now, and now is
// stored back. Reads (direction 0) it into `value`; a failed read stores -1.
// Returns 1, -1 (the device has no clock; the value becomes -1),
// kDCMissingArgument, kDCBadAnswer or a DeviceCommand failure.
int DeviceTime(Terrel_Protocol& link, int64_t* value, int direction);

// Checks that the device's name is the record's and erases its measurements.
// Returns 1, kDCIdentityMismatch (the name differs or could not be read;
// nothing erased), kDCDataFlash, kDCBadAnswer or a DeviceCommand failure.
int EraseData(Terrel_Protocol& link);

// Radio settings: bits 0x400 channel, 0x800 sub-channel, 0x1000 version
// (read only, 9-byte text). `bits` in: wanted; out: done. Returns 1, 0 (no
// radio), -1 (no radio modem possible), kDCMissingArgument, kDCNotWritable
// (writing over the radio), kDCNoAnswer (an old logger other than a Talo),
// kDCPartial, kDCNoRadio, kDCBadAnswer (nothing read) or a failure.
int MSRadioCommand(Terrel_Protocol& link, int32_t* channel, int32_t* subChannel, char* version,
                   int direction, uint32_t* bits);

}  // namespace tarsa
