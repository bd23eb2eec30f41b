// The settings store of Windows: text values in the current user's registry.
#include <windows.h>

#include <string>

#include "web/settings_store.h"

namespace tarsa {

std::string RegistryStore::Read(const std::string& name) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, key_.c_str(), 0, nullptr, 0, KEY_QUERY_VALUE, nullptr,
                        &key, nullptr) != ERROR_SUCCESS) {
        return {};
    }
    std::string value;
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExA(key, name.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
        if (type == REG_DWORD && size == sizeof(DWORD)) {
            DWORD number = 0;
            RegQueryValueExA(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&number),
                             &size);
            value = std::to_string(number);
        } else if (type == REG_SZ && size > 0 && size <= 64 * 1024) {
            // The value may change between the two calls; what is read is
            // bounded by the buffer either way.
            std::string text(size, '\0');
            if (RegQueryValueExA(key, name.c_str(), nullptr, &type,
                                 reinterpret_cast<BYTE*>(text.data()), &size) == ERROR_SUCCESS) {
                text.resize(size < text.size() ? size : text.size());
                value = text.substr(0, text.find('\0'));
            }
        }
    }
    RegCloseKey(key);
    if (value.size() > kMaxStoredValueBytes) value.resize(kMaxStoredValueBytes);
    return value;
}

bool RegistryStore::Write(const std::string& name, const std::string& value) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, key_.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const std::string text = value.substr(0, value.find('\0'));
    const bool ok =
        RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                       static_cast<DWORD>(text.size() + 1)) == ERROR_SUCCESS;
    RegCloseKey(key);
    return ok;
}

std::unique_ptr<SettingsStore> OpenUserSettings(const std::string& name) {
    return std::make_unique<RegistryStore>("Software\\Corvane Devices, Inc\\" + name);
}

// No settings files on Windows: the registry holds the values.
std::string UserSettingsPath(const std::string&) {
    return {};
}

}  // namespace tarsa
