// The Windows system description from its version numbers, apart so that
// it can be tested on every platform.
#pragma once

#include <cstdint>
#include <string>

namespace tarsa {

// Platform identifiers of the Windows version information.
inline constexpr uint32_t kWin32Windows = 1;  // the 9x family
inline constexpr uint32_t kWin32Nt = 2;       // the NT family

// "<name part><service pack> (Version <major>.<minor> build <build>)", with
// the name part from the family and version ("Windows XP ", "Unknown WinNT "
// for major 7 and above) and the build cut to 16 bits on the 9x family.
std::string WindowsOsDescription(uint32_t platform, uint32_t major, uint32_t minor, uint32_t build,
                                 const std::string& servicePack);

}  // namespace tarsa
