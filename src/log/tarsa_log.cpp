#include "log/tarsa_log.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <memory>
#include <vector>

#include "platform/file_ops.h"

namespace tarsa {
namespace {

bool IsValidLevel(uint32_t level) {
    return level == 0 || level == 1 || level == 10 || level == 30 || level == 40;
}

struct FileCloser {
    void operator()(FILE* f) const {
        if (f) fclose(f);
    }
};
using File = std::unique_ptr<FILE, FileCloser>;

}  // namespace

std::string LogStamp(int mday, int mon0, int year, int hour, int min, int sec) {
    static const char* const kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const char* month = (mon0 >= 0 && mon0 < 12) ? kMonths[mon0] : "???";
    char buf[64];
    snprintf(buf, sizeof buf, "%d %s %d %d:%02d:%02d", mday, month, year, hour, min, sec);
    return buf;
}

TarsaLog::TarsaLog(const char* fileName, uint32_t level, bool erase)
    : fileName_(fileName ? fileName : "error.txt"), level_(IsValidLevel(level) ? level : 1) {
    if (erase) remove(fileName_.c_str());
}

bool TarsaLog::SetLevel(uint32_t level) {
    if (!IsValidLevel(level)) return false;
    level_ = level;
    return true;
}

int TarsaLog::Write(uint32_t level, const char* tag, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int n = WriteV(level, tag, format, args);
    va_end(args);
    return n;
}

int TarsaLog::WriteV(uint32_t level, const char* tag, const char* format, va_list args) {
    if (level > level_) return 0;
    File f(fopen(fileName_.c_str(), "ab"));
    if (!f) return 0;

    time_t now = time(nullptr);
    struct tm lt {};
    localtime_r(&now, &lt);
    std::string stamp =
        LogStamp(lt.tm_mday, lt.tm_mon, lt.tm_year + 1900, lt.tm_hour, lt.tm_min, lt.tm_sec);

    int written = fprintf(f.get(), "%s - %s: ", stamp.c_str(), tag ? tag : "");
    int body = format ? vfprintf(f.get(), format, args) : 0;
    int tail = fprintf(f.get(), "\r\n");
    if (written < 0 || body < 0 || tail < 0) return 0;
    return written + body + tail;
}

int32_t TarsaLog::Size() const {
    File f(fopen(fileName_.c_str(), "rb"));
    if (!f) return -errno;
    if (fseek(f.get(), 0, SEEK_END) != 0) return -errno;
    long len = ftell(f.get());
    if (len < 0) return -errno;
    return static_cast<int32_t>(len > INT32_MAX ? INT32_MAX : len);
}

// The tail is written to a fresh "<name>.temp" file which is then renamed over
// the log in one step: at every moment either the old or the new log exists
// in full, and a stale work file left by an earlier crash is overwritten, not
// appended to.
bool TarsaLog::KeepTail(uint32_t count) {
    File log(fopen(fileName_.c_str(), "rb"));
    if (!log) return false;
    if (fseek(log.get(), 0, SEEK_END) != 0) return false;
    long len = ftell(log.get());
    if (len < 0) return false;
    if (static_cast<unsigned long>(len) < count) return true;

    if (fseek(log.get(), len - static_cast<long>(count), SEEK_SET) != 0) return false;
    int c;
    while ((c = fgetc(log.get())) != EOF && c != '\n') {
    }

    std::string tempName = fileName_ + ".temp";
    File temp(fopen(tempName.c_str(), "wb"));
    if (!temp) return false;

    std::vector<char> buffer(count);
    size_t got = fread(buffer.data(), 1, buffer.size(), log.get());
    bool ok = fwrite(buffer.data(), 1, got, temp.get()) == got;
    log.reset();
    ok = (fclose(temp.release()) == 0) && ok;
    if (!ok || platform::RenameOver(tempName.c_str(), fileName_.c_str()) != 0) {
        remove(tempName.c_str());
        return false;
    }
    return true;
}

}  // namespace tarsa
