// The operations on one digital sensor that a sensor firmware update needs:
// read identity, type, serial number and calibrations before the update,
// start the sensor's bootstrap loader, check the new firmware, and write
// serial number, address, calibrations and type back afterwards.
//
// Each operation is one or a few SDI-12 commands sent with SDISendCommand and
// keeps its results in the `TarsaSDI12` object. All commands address whichever
// sensor is on the bus ("?"), except the address change, which addresses
// sensor "0" (a sensor answers at address 0 after new firmware). Answers are
// outside input: every field is cut to its capacity and an answer of the
// wrong shape is reported, never trusted for a length.
//
// Nothing here talks to the reader itself, except SDIInvokeTarsaBSL, which
// writes the two characters that switch the reader to the sensor's loader.
#pragma once

#include <cstdint>

#include "sdi12/tarsa_sdi12.h"

namespace tarsa {

// Family requests of SDISetSensorType: keep the sensor's own member type.
inline constexpr uint32_t kSensorFamilyNrx = 260;
inline constexpr uint32_t kSensorFamilyWpt = 261;
inline constexpr uint32_t kSensorFamilyKtv = 262;
inline constexpr uint32_t kSensorFamilyHq = 263;
inline constexpr uint32_t kSensorFamilyVeyra3x = 264;

// Firmware versions from which reformatting and default calibrations change.
inline constexpr uint32_t kReformatBelowVersion = 340;

// Reads identification, type, serial number and calibrations into the object
// (after clearing them), reformatting an old nine-number calibration.
// Returns 1, or the error of the identification or calibration read.
int SDIGetSensorSettings(TarsaSDI12& sdi);

// Writes serial number, address and calibrations from the object.
// Returns 1, or the first error of the calibration write, else of the address.
int SDISetSensorSettings(TarsaSDI12& sdi);

// "?I!": address, identification and firmware version.
// Returns the firmware version (>= 0), kSDIBadAnswer when the version field
// cannot be read, or an SDISendCommand error.
int SDIGetSensorVersion(TarsaSDI12& sdi);

// "0A%c!": moves sensor 0 to `address`.
// Returns 1, kSDIBadAnswer (the sensor answered another address) or an
// SDISendCommand error.
int SDISetSensorAddress(TarsaSDI12& sdi, char address);

// Reads calibration 1, calibration 2 (with the defaults for old firmware of
// some types) and calibration 3 (type 93).
// Returns 1, 0 (a type without calibration) or an SDISendCommand error.
int SDIGetSensorCalibration(TarsaSDI12& sdi);

// Writes calibration 1 (`calibration1`, or the stored one when null), then
// calibration 2 and 3 where the type has them, each up to `tries` times.
// Returns 1 only when every write was confirmed; else 0 (nothing to write),
// or the first failed write's kSDIProbeOnly (never confirmed), kSDIRejected
// ("ERROR") or SDISendCommand error.
int SDISetSensorCalibration(TarsaSDI12& sdi, const char* calibration1);

// "?X#!": the serial number.
// Returns 1, 0 (the sensor has none) or an SDISendCommand error.
int SDIGetSensorSN(TarsaSDI12& sdi);

// Writes the stored serial number, up to `tries` times.
// Returns 1, 0 (nothing to write), kSDIProbeOnly, kSDIRejected or an
// SDISendCommand error.
int SDISetSensorSN(TarsaSDI12& sdi);

// "?B!" (one 1000 ms try), then "]" and "P" to the reader, so that the port
// talks to the sensor's loader from then on.
// Returns 1, kSDINoLoader ("No BSL") or the serial code of a failed write.
int SDIInvokeTarsaBSL(TarsaSDI12& sdi);

// "?post!": the sensor's check of its own firmware.
// Returns 1 (good), kSDICorruptFirmware, kSDIUndetermined (another answer)
// or an SDISendCommand error.
int SDICheckBinary(TarsaSDI12& sdi);

// Sets the sensor type: a type number 1..254, or a family request 260..264
// that keeps the sensor's own type when it is a member of that family. The
// type goes in the form the sensor reported it (digits or one character),
// except that a character the reader would act on goes as digits.
// Returns 1, kSDIInvalidType, kSDIBadAnswer (not a family member, or the
// sensor did not confirm) or an SDISendCommand error.
int SDISetSensorType(TarsaSDI12& sdi, uint32_t request);

// "?X8!": the sensor type as digits or as one character; when that fails,
// the type named in the identification.
// Returns 1, or kSDIUndetermined when no type is known.
int SDIGetSensorType(TarsaSDI12& sdi);

// Rewrites an old nine-number calibration 1 as the six numbers newer firmware
// keeps. Returns 1, or 0 for firmware 340 and above.
int SDIReformatCalibration(TarsaSDI12& sdi);

}  // namespace tarsa
