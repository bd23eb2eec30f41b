// The input-wait pump of timing.h. It has a file of its own so that programs
// that put their own clock in place of timing.cpp (the fuzz targets) still
// get the port's wait hook.
#include <utility>

#include "serial/timing.h"

namespace tarsa {
namespace {

InputWaitPump& InputPump() {
    static InputWaitPump pump;
    return pump;
}

}  // namespace

InputWaitPump SetInputWaitPump(InputWaitPump pump) {
    return std::exchange(InputPump(), std::move(pump));
}

bool PumpUntilInput(int fd, uint32_t maxWaitMs) {
    if (!InputPump()) return false;
    InputPump()(fd, maxWaitMs);
    return true;
}

}  // namespace tarsa
