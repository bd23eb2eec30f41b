// The single-purpose commands the update workflow runs around a firmware
// upload: the battery check, the firmware self-check, the erase of stored
// data and setting the clock.
//
// Each is one exchange (the self-check up to three) or, for the data
// loggers, one call into the logger protocol. Whether the workflow calls
// them at all is the identity's business; only TPSetTime checks its flag.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "instrument/protocol_internal.h"
#include "link/logger_settings.h"
#include "log/tarsa_log.h"
#include "serial/timing.h"

namespace tarsa {

using tp_detail::ElapsedSince;
using tp_detail::Exchange;
using tp_detail::Log;

namespace {

constexpr uint32_t kBatteryTimeoutMs = 2000;
constexpr size_t kBatteryAnswerSize = 32;
constexpr uint32_t kPostTimeoutMs = 7000;
constexpr size_t kPostAnswerSize = 64;
constexpr int kPostTries = 3;
constexpr uint32_t kPostRetryMs = 1000;
constexpr uint32_t kEraseTimeoutMs = 17000;
constexpr size_t kEraseAnswerSize = 32;
constexpr uint32_t kClockTimeoutMs = 20000;
constexpr size_t kClockAnswerSize = 32;
constexpr int64_t kEpoch2000 = 946684800;  // 2000-01-01 00:00:00 in seconds since 1970

bool HasText(const std::string& answer, const char* text) {
    return answer.find(text) != std::string::npos;
}

bool ErasesWithYes(int type) {
    switch (type) {
        case kTypeThermik:
        case kTypeSoluxR40:
        case kTypeVennet:
        case kTypeSorbel:
        case kTypeHandra:
        case kTypeHygra8:
        case kTypeHygraVx:
        case kTypeHygra8Lzr:
        case kTypeImbrix:
            return true;
        default:
            return false;
    }
}

bool HasSecondsClock(int type) {
    switch (type) {
        case kTypeSoluxR40:
        case kTypeSorbel:
        case kTypeHygra8:
        case kTypeHygraVx:
        case kTypeFennik:
        case kTypeHygra8Lzr:
        case kTypeImbrix:
            return true;
        default:
            return false;
    }
}

}  // namespace

int TPCheckBattery(Tarsa_protocol& tp, int32_t* percent) {
    if (!percent) return kTPMissingArgument;
    std::string answer;
    uint32_t ms = 0;
    const int rc = Exchange(tp, "get -batt\r", kBatteryTimeoutMs, kBatteryAnswerSize, answer, ms);
    if (rc <= 0) {
        *percent = -1;
        return rc;
    }
    int32_t value = 0;
    if (!tp_detail::ReadLong(answer.c_str(), value)) {
        Log(tp, kLogOutcome, "TPCheckBattery failed to parse battery power (%d ms)",
            static_cast<int>(ms));
        return kTPBadAnswer;
    }
    *percent = value;
    Log(tp, kLogProgress, "TPCheckBattery: %d%% battery (%d ms)", static_cast<int>(value),
        static_cast<int>(ms));
    return kTPOk;
}

int TPCheckFirmware(Tarsa_protocol& tp, int postInit) {
    const char* command = postInit ? "post -init\r" : "post\r";
    int result = kTPBadAnswer;
    for (int attempt = 0; attempt < kPostTries; ++attempt) {
        std::string answer;
        uint32_t ms = 0;
        const int rc = Exchange(tp, command, kPostTimeoutMs, kPostAnswerSize, answer, ms);
        if (rc <= 0) {
            result = rc;
            Log(tp, kLogOutcome, "TPCheckFirmware can't determine firmware code status (error %d)",
                rc);
        } else if (HasText(answer, "Code Good!")) {
            Log(tp, kLogProgress, "TPCheckFirmware: Device reports good firmware code!");
            return kTPOk;
        } else if (HasText(answer, "Code Corrupt!")) {
            Log(tp, kLogOutcome, "TPCheckFirmware: Device reports corrupt firmware code!");
            return kTPCorruptFirmware;
        } else {
            result = kTPBadAnswer;
            Log(tp, kLogOutcome, "TPCheckFirmware can't determine firmware code status");
        }
        if (attempt + 1 < kPostTries) DelayMs(kPostRetryMs);
    }
    return result;
}

int TPEraseData(Tarsa_protocol& tp) {
    if (IsDataLoggerType(tp.type)) return EraseData(tp.link);
    if (!ErasesWithYes(tp.type)) return kTPNotApplicable;

    std::string answer;
    uint32_t ms = 0;
    int rc = Exchange(tp, "yes\r", kEraseTimeoutMs, kEraseAnswerSize, answer, ms);
    if (rc > 0) {
        if (HasText(answer, "OK")) {
            rc = kTPOk;
        } else if (HasText(answer, "DataFlash FAIL")) {
            rc = kTPDataFlash;
        } else {
            rc = kTPBadAnswer;
        }
    }
    if (rc == kTPOk) {
        Log(tp, kLogProgress, "TPEraseData erased device data (%d ms)", static_cast<int>(ms));
    } else if (rc == kTPDataFlash) {
        Log(tp, kLogOutcome, "TPEraseData failed due to a broken DataFlash (%d ms)",
            static_cast<int>(ms));
    } else {
        Log(tp, kLogOutcome, "TPEraseData failed with error %d (%d ms)", rc, static_cast<int>(ms));
    }
    return rc;
}

int TPSetTime(Tarsa_protocol& tp) {
    if (!tp.identity.setClock) return kTPNotApplicable;
    const uint32_t start = TickMs();
    int64_t value = 0;
    int result;
    int ms = 0;
    if (HasSecondsClock(tp.type)) {
        errno = 0;
        const time_t now = tp.clock ? tp.clock() : time(nullptr);
        if (now == static_cast<time_t>(-1)) {
            Log(tp, kLogOutcome, "TPSetTime failed to get system time with error %d", errno);
            return kTPBadAnswer;
        }
        value = static_cast<int64_t>(now) + UtcOffsetSeconds() - kEpoch2000;
        char line[48];
        snprintf(line, sizeof line, "set -sec %ld\r", static_cast<long>(value));
        std::string answer;
        uint32_t exchangeMs = 0;
        result = Exchange(tp, line, kClockTimeoutMs, kClockAnswerSize, answer, exchangeMs);
        ms = static_cast<int>(exchangeMs);
        if (result > 0) result = HasText(answer, "OK") ? kTPOk : kTPBadAnswer;
        if (result == 0) result = kTPBadAnswer;
    } else {
        result = DeviceTime(tp.link, &value, 1);
        ms = ElapsedSince(start);
    }
    if (result > 0) {
        Log(tp, kLogDetail, "TPSetTime set the time to: %ld", static_cast<long>(value));
    } else {
        Log(tp, kLogDetail, "TPSetTime got error %d (%d ms)", result, ms);
    }
    return result;
}

}  // namespace tarsa
