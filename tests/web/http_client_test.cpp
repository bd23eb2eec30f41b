// The HTTP client's cases against the test server in this program.
#include "http_client_cases.h"
#include "http_test_routes.h"

namespace tarsa::httptest {

const HttpTestBases& Bases() {
    static HttpTestServers servers;
    return servers.Bases();
}

}  // namespace tarsa::httptest
