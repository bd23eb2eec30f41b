// The HTTP client's tests, run by each platform's build against a server that
// answers the routes of http_test_routes.h: on Linux in the test program
// itself, on Windows (under wine) from the Linux test that starts the
// program. The server reports what it received in its replies, so the cases
// need nothing but the client.
#pragma once

#include <string>

namespace tarsa::httptest {

struct HttpTestBases {
    std::string server;  // the routes' server, "http://127.0.0.1:<port>"
    std::string silent;  // a listener that accepts and then never answers
    std::string closed;  // a loopback port where nothing listens
};

// Defined by the test program that compiles the cases.
const HttpTestBases& Bases();

// The multipart route's reply line for one part: what it parsed, with the
// content as its length and 64-bit FNV-1a hash.
inline std::string PartLine(const std::string& name, const std::string& fileName,
                            const std::string& contentType, const std::string& content) {
    unsigned long long hash = 14695981039346656037ull;
    for (unsigned char c : content) hash = (hash ^ c) * 1099511628211ull;
    return name + "|" + fileName + "|" + contentType + "|" + std::to_string(content.size()) + "|" +
           std::to_string(hash) + "\n";
}

}  // namespace tarsa::httptest
