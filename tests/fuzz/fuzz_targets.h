// Fuzz targets for the parsers of outside input. Each takes any bytes and
// must neither crash nor read outside its input; where a parse succeeds, the
// target checks that the result is usable (and aborts when it is not).
// Each returns 1 when its parser accepted the input, 0 otherwise. Built as libFuzzer targets with
// -DTARSA_FUZZ=ON (clang), and replayed over the committed corpus as
// ordinary tests in every build.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarsa::fuzz {

// TI-TXT firmware files.
int TiTxt(const uint8_t* data, size_t size);
// Version documents of the online version check.
int VersionDocument(const uint8_t* data, size_t size);
// Settings files, read into a fresh protocol object.
int SettingsFile(const uint8_t* data, size_t size);

// Device answers, played by a device on a pty (answer_device.h): the input is
// the device's answers to successive messages, separated by kAnswerBreak.
// Connecting to a logger: the version answer and its settings.
int VersionAnswers(const uint8_t* data, size_t size);
// The "show" answer of old logger firmware.
int ShowAnswers(const uint8_t* data, size_t size);
// A digital sensor's SDI-12 answers: version, settings, calibration, serial number, type.
int Sdi12Answers(const uint8_t* data, size_t size);
// An instrument's calibration and user record lists.
int RecordLists(const uint8_t* data, size_t size);
// The bootstrap loader's replies: invocation, greeting, version, erase, vectors.
int LoaderReplies(const uint8_t* data, size_t size);

}  // namespace tarsa::fuzz
