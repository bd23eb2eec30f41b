// The redirect rules of an HTTP client that follows redirects itself (the
// WinHTTP one): where a Location header leads, and whether it may be
// followed.
#pragma once

#include <string>

namespace tarsa {

// `location` (absolute, scheme-relative, host-relative or relative) taken
// against the http or https address `base` that answered with it.
std::string ResolveRedirect(const std::string& base, const std::string& location);

// Why the redirect from `from` to the resolved address `to`, after `hops`
// redirects already followed, must not be followed: to anything but http or
// https, from https to http (personal data must not leave an encrypted
// connection), or past `maxRedirects`. Null when it may.
const char* RedirectRefusal(const std::string& from, const std::string& to, long hops,
                            long maxRedirects);

}  // namespace tarsa
