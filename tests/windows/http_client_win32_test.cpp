// The HTTP client's cases on WinHTTP, against the server whose addresses the
// Linux test that runs this program passes in the environment.
#include <cstdlib>
#include <string>

#include "../web/http_client_cases.h"

namespace tarsa::httptest {
namespace {

std::string Variable(const char* name) {
    const char* value = std::getenv(name);
    // An unset address points at the discard port, so that every case fails
    // loudly instead of passing against nothing.
    return value && value[0] ? value : "http://127.0.0.1:9";
}

}  // namespace

const HttpTestBases& Bases() {
    static const HttpTestBases bases = {Variable("TARSA_TEST_HTTP_BASE"),
                                        Variable("TARSA_TEST_SILENT_BASE"),
                                        Variable("TARSA_TEST_CLOSED_BASE")};
    return bases;
}

}  // namespace tarsa::httptest
