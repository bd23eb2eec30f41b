// Where the web services live: the version service and the feedback service
// addresses (scheme, host and optional port), the maker's web host named in
// the connection error and the support address used when the user names no
// representative.
//
// The addresses are build configuration (CMake cache variables of src/web),
// both HTTPS by default because the feedback carries the user's name, e-mail
// address, telephone number and the diagnostic log. The environment variables
// TARSA_VERSION_SERVICE and TARSA_FEEDBACK_SERVICE replace them for tests and
// for users behind a mirror. Nothing here talks to the network.
#pragma once

#include <string>

namespace tarsa {

inline constexpr const char* kVersionServiceEnv = "TARSA_VERSION_SERVICE";
inline constexpr const char* kFeedbackServiceEnv = "TARSA_FEEDBACK_SERVICE";

// Path of the feedback POST on the feedback service.
inline constexpr const char* kFeedbackPath = "/php-bin/app_feedback.php";

// Build-time values.
const char* DefaultVersionService();
const char* DefaultFeedbackService();
const char* MakerWebHost();
const char* SupportEmail();

// True when `base` is "http://" or "https://" followed by a host name, an IPv4
// address or a bracketed IPv6 address, and optionally ":" and a port from 1 to
// 65535, with at most one trailing "/". The scheme's letters may be any case.
bool IsServiceAddress(const std::string& base);

// The service address: the value of the environment variable `envName` when
// it is set and not empty, else `fallback`; a trailing "/" is dropped. An
// environment value that is not a service address (see above) is not used:
// the result is empty and `error` says why, so that requests fail visibly
// instead of going to a host the user did not mean.
std::string ServiceAddress(const char* envName, const char* fallback, std::string& error);

}  // namespace tarsa
