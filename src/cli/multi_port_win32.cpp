// Several ports at once on Windows: not available, the runner starts one
// process per port with fork and watches them with poll.
#include <cstdio>

#include "cli/multi_port.h"

namespace tarsa::cli {

int RunMultiPort(const MultiPortJob&, FILE*, FILE* err, std::vector<PortResult>*) {
    fprintf(err,
            "tarsa-update: updating several ports at once needs a POSIX system; on Windows, "
            "run tarsa-update once per port\n");
    return 2;
}

}  // namespace tarsa::cli
