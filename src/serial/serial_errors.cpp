// The error tables of the serial layer: native error numbers to faults, and
// faults to result codes. Platform-neutral: the numbers are written out, so
// every platform's port file can use every table.
#include "serial/serial_errors.h"

#include <cerrno>
#include <cstddef>

namespace tarsa {
namespace {

template <typename Number>
struct FaultOf {
    Number error;
    PortFault fault;
};

constexpr FaultOf<int> kPosixFaults[] = {
    {ENOENT, PortFault::kMissing},  {ENODEV, PortFault::kMissing},     {ENXIO, PortFault::kMissing},
    {EBUSY, PortFault::kInUse},     {EWOULDBLOCK, PortFault::kInUse},  {EACCES, PortFault::kAccess},
    {EPERM, PortFault::kAccess},    {ENOTTY, PortFault::kNotTerminal}, {EIO, PortFault::kIo},
    {EINVAL, PortFault::kBaudRate},
};

// Win32 error values (winerror.h names in the comments).
constexpr FaultOf<uint32_t> kWin32Faults[] = {
    {2, PortFault::kMissing},       // ERROR_FILE_NOT_FOUND
    {3, PortFault::kMissing},       // ERROR_PATH_NOT_FOUND
    {55, PortFault::kMissing},      // ERROR_DEV_NOT_EXIST
    {5, PortFault::kInUse},         // ERROR_ACCESS_DENIED: a comm port opened by another program
    {32, PortFault::kInUse},        // ERROR_SHARING_VIOLATION
    {1, PortFault::kNotTerminal},   // ERROR_INVALID_FUNCTION: comm calls on another device
    {50, PortFault::kNotTerminal},  // ERROR_NOT_SUPPORTED
    {31, PortFault::kIo},           // ERROR_GEN_FAILURE: the adapter went away
    {995, PortFault::kIo},          // ERROR_OPERATION_ABORTED
    {1617, PortFault::kIo},         // ERROR_DEVICE_REMOVED
    {87, PortFault::kBaudRate},     // ERROR_INVALID_PARAMETER: SetCommState refused the rate
};

template <typename Number, size_t N>
PortFault Find(const FaultOf<Number> (&table)[N], Number error) {
    for (const auto& row : table) {
        if (row.error == error) return row.fault;
    }
    return PortFault::kOther;
}

}  // namespace

int TSFaultCode(PortFault fault) {
    switch (fault) {
        case PortFault::kMissing:
            return kTSErrMissing;
        case PortFault::kInUse:
            return kTSErrInUse;
        case PortFault::kAccess:
            return kTSErrAccess;
        case PortFault::kNotTerminal:
            return kTSErrNotTerminal;
        case PortFault::kIo:
            return kTSErrIo;
        case PortFault::kBaudRate:
            return kTSErrBaudRate;
        case PortFault::kOther:
            break;
    }
    return kTSErrSystem;
}

PortFault TSPosixFault(int err) {
    return Find(kPosixFaults, err);
}

PortFault TSWin32Fault(uint32_t error) {
    return Find(kWin32Faults, error);
}

int TSPosixErrorCode(int err) {
    return TSFaultCode(TSPosixFault(err));
}

}  // namespace tarsa
