// Where a redirect leads and which ones the client refuses to follow.
#include "web/http_redirect.h"

#include <gtest/gtest.h>

namespace tarsa {
namespace {

TEST(HttpRedirect, LocationsResolveAgainstTheAnsweringAddress) {
    const struct {
        const char* base;
        const char* location;
        const char* resolved;
    } rows[] = {
        {"http://h:8080/a/b?q=1", "https://o.example/x", "https://o.example/x"},
        {"http://h:8080/a/b?q=1", "FILE:///etc/passwd", "FILE:///etc/passwd"},
        {"https://h/a/b", "//o.example/x", "https://o.example/x"},
        {"http://h:8080/a/b?q=/z", "/root", "http://h:8080/root"},
        {"http://h:8080/a/b?q=/z", "c?d=1", "http://h:8080/a/c?d=1"},
        {"http://h:8080", "c", "http://h:8080/c"},
        {"http://h?x=/y", "c", "http://h/c"},
        {"http://h/a/", "", "http://h/a/"},
        {"http://h/a/b?old", "?new", "http://h/a/b?new"},
    };
    for (const auto& r : rows)
        EXPECT_EQ(ResolveRedirect(r.base, r.location), r.resolved) << r.base << " + " << r.location;
}

TEST(HttpRedirect, OnlyHttpOnwardsNeverOutOfTlsAndNotForever) {
    EXPECT_EQ(RedirectRefusal("http://h/", "https://o/", 0, 10), nullptr);
    EXPECT_EQ(RedirectRefusal("https://h/", "HTTPS://o/", 9, 10), nullptr);
    EXPECT_EQ(RedirectRefusal("http://h/", "http://o/", 0, 10), nullptr);
    for (const char* to : {"file:///etc/passwd", "ftp://o/", "javascript:alert(1)", "o/x"})
        EXPECT_NE(RedirectRefusal("http://h/", to, 0, 10), nullptr) << to;
    EXPECT_STREQ(RedirectRefusal("HTTPS://h/", "Http://o/", 0, 10),
                 "The server redirected the secure request to an insecure address.");
    EXPECT_NE(RedirectRefusal("http://h/", "http://h/", 10, 10), nullptr);
    EXPECT_NE(RedirectRefusal("http://h/", "http://h/", 0, 0), nullptr);
}

}  // namespace
}  // namespace tarsa
