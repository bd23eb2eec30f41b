// The program's diagnostic log: one text file to which every module appends
// time-stamped lines.
//
// Each line is "D Mon YYYY H:MM:SS - tag: message" followed by CR LF, written
// in binary mode. The file is opened, appended to and closed again for every
// line, so it is complete on disk after each message and another process that
// reads it only ever sees whole lines. Logging never changes program flow:
// when the file cannot be written the line is simply lost.
//
// Single-threaded use only; there is no locking.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>

namespace tarsa {

// Message levels (lower is more important).
inline constexpr uint32_t kLogOutcome = 1;    // failures, texts shown to the user
inline constexpr uint32_t kLogProgress = 10;  // successful steps
inline constexpr uint32_t kLogDetail = 30;    // routine details (the program's default)
inline constexpr uint32_t kLogBytes = 40;     // byte-level serial trace

class TarsaLog {
  public:
    // `fileName` null means "error.txt" in the working folder. A level other
    // than 0, 1, 10, 30 or 40 becomes 1. `erase` deletes the file first.
    TarsaLog(const char* fileName, uint32_t level, bool erase);

    TarsaLog(const TarsaLog&) = delete;
    TarsaLog& operator=(const TarsaLog&) = delete;

    // Takes `level` and returns true when it is 0, 1, 10, 30 or 40; otherwise
    // returns false and leaves the level unchanged.
    bool SetLevel(uint32_t level);
    uint32_t Level() const { return level_; }
    const std::string& FileName() const { return fileName_; }

    // Appends one line when `level` <= the log's level. Returns the number of
    // characters written, 0 when nothing was written.
    int Write(uint32_t level, const char* tag, const char* format, ...)
        __attribute__((format(printf, 4, 5)));
    int WriteV(uint32_t level, const char* tag, const char* format, va_list args)
        __attribute__((format(printf, 4, 0)));

    // Current length of the file in bytes, or -(errno) when it cannot be read.
    int32_t Size() const;

    // Cuts the file down to at most its last `count` bytes, starting at the
    // first whole line inside them. Returns false and leaves the log untouched
    // when the work file cannot be written.
    bool KeepTail(uint32_t count);

  private:
    std::string fileName_;
    uint32_t level_;
};

// The stamp that begins a log line, "%d %s %d %d:%02d:%02d", for a broken-down
// local time. Exposed for tests.
std::string LogStamp(int mday, int mon0, int year, int hour, int min, int sec);

}  // namespace tarsa
