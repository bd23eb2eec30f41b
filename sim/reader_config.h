// Configuration of a simulated reader (the Handra "hd" and the Terrel Comm
// Device "tcd") and of the digital sensor on its SDI-12 bus. Plain data, so
// that DeviceConfig can carry it; the models are in sim/reader_model.h and
// sim/sdi12_sensor.h. What the fields mean on the wire is in sim/README.md.
#pragma once

#include <optional>
#include <string>

#include "sim/flash.h"

namespace tarsa::sim {

// What a digital sensor keeps and reports. Its firmware starts from factory
// values after every firmware update (SensorConfig::Factory).
struct SensorSettings {
    char address = '0';
    int type = 93;  // "?X8!": 0 to 255
    // "?X8!" answers decimal digits (true) or one character (false); empty:
    // a character when the type is a letter's code ("z" for 122), else digits
    // (93 would be "]").
    std::optional<bool> typeAsDigits;
    std::string serial;                                // "?X#!"; empty: the sensor has none
    std::string calibration1 = "1 0.000 1.000 0.000";  // "?X4!"
    std::string calibration2 = "1 1.44832 1.91683 2.35961 2.991";  // "?Xa!"
    std::string calibration3 = "1 0.000 1.000";                    // "?XO!"
};

struct SensorConfig {
    bool present = true;          // a sensor is on the bus at all
    int version = 355;            // firmware version: the three-digit field of "?I!"
    std::string model;            // model field of "?I!" (6 characters); empty: from the type
    SensorSettings settings;      // at start
    bool hasCalibration3 = true;  // "?XO!" answers a text; false: "ERROR"
    bool hasLoader = true;        // "?B!" starts the loader; false: "No BSL"
    bool startInLoader = false;   // starts in its loader, waiting for a host, flash erased
    // Memory map of the sensor's flash; empty: the map of its type and version
    // (SensorFlashMap).
    std::optional<FlashMap> flash;
    int answerMs = 10;   // from the command's "!" to the first answer byte
    int sleepMs = 1000;  // idle time after which a break is needed again; 0: never sleeps

    // Switches; also changeable while the device runs (Simulator::WithSensor).
    bool silent = false;                // answers nothing, not even "?!": not on the bus
    bool onlyAddressQuery = false;      // answers "?!" and nothing else
    bool errorAnswers = false;          // every command but "?!" is answered "ERROR", not executed
    bool oldCalibrationFormat = false;  // calibrations printed as old firmware printed them

    // Calibrations the firmware starts with after an update.
    std::string factoryCalibration1 = "1 0.000 1.000 0.000";
    std::string factoryCalibration2 = "1 1.44832 1.91683 2.35961 2.991";
    std::string factoryCalibration3 = "1 0.000 1.000";

    // The settings a freshly updated sensor reports: address "0", no serial
    // number, the factory calibrations; its type stays the type of its hardware.
    SensorSettings Factory() const;
};

struct ReaderConfig {
    char hardwareRevision = 'C';  // "get -hver"
    int battery = 87;             // "get -batt", percent
    SensorConfig sensor;          // the sensor on the bus
};

// The loader memory map of a sensor of this type and firmware version.
FlashMap SensorFlashMap(int type, int version);

}  // namespace tarsa::sim
