// Persisted text values of the current user behind a small interface, and a
// file implementation: one "Key=Value" line per value in an ini-like file.
//
// The file holds the user's contact details, so it is created readable by its
// owner only (0600, folder 0700) and replaced atomically (work file, then
// rename). Its contents are outside input: the file is read up to 64 KB,
// values are cut to 1024 bytes, and lines that are not "Key=Value" are
// ignored. Backslash, CR and LF inside values are written as \\, \r and \n.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace tarsa {

class SettingsStore {
  public:
    virtual ~SettingsStore() = default;
    // The value of `key`; empty text when it is missing.
    virtual std::string Read(const std::string& key) = 0;
    // Sets `key` to `value`; false when it could not be stored.
    virtual bool Write(const std::string& key, const std::string& value) = 0;
};

inline constexpr size_t kMaxStoredValueBytes = 1024;

class IniFileStore : public SettingsStore {
  public:
    explicit IniFileStore(std::string path) : path_(std::move(path)) {}
    std::string Read(const std::string& key) override;
    bool Write(const std::string& key, const std::string& value) override;
    const std::string& Path() const { return path_; }

  private:
    std::vector<std::pair<std::string, std::string>> Load() const;
    std::string path_;
};

// Text values under the current user's registry key HKEY_CURRENT_USER\<key>
// (Windows only), created when missing. Values are written as REG_SZ; a
// REG_DWORD is read as its decimal text. Values are cut to
// kMaxStoredValueBytes when read.
class RegistryStore : public SettingsStore {
  public:
    explicit RegistryStore(std::string key) : key_(std::move(key)) {}
    std::string Read(const std::string& key) override;
    bool Write(const std::string& key, const std::string& value) override;
    const std::string& Key() const { return key_; }

  private:
    std::string key_;
};

// The persisted values of `name` ("TarsaBSL", "FeedbackForm") of the current
// user: the registry key Software\Corvane Devices, Inc\<name> on Windows, the
// IniFileStore at UserSettingsPath(name) elsewhere.
std::unique_ptr<SettingsStore> OpenUserSettings(const std::string& name);

// "$XDG_CONFIG_HOME/Corvane Devices, Inc/<name>.ini", with ~/.config when
// XDG_CONFIG_HOME is unset or not absolute; empty when neither is known.
std::string UserSettingsPath(const std::string& name);

}  // namespace tarsa
