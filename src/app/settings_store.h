// Persisted settings of the current user, as named values in one store.
//
// The window keeps three values ("FindAllComms", "VerboseLog", "CommPort");
// they live in an ini-style file under the user's configuration folder. A
// missing or unreadable file reads as "no values"; saving writes a fresh
// temporary file and renames it over the old one, so a crash never leaves a
// half-written file.
#pragma once

#include <map>
#include <string>

namespace tarsa::app {

class SettingsStore {
  public:
    virtual ~SettingsStore() = default;
    // False when the value does not exist (the output is left unchanged).
    virtual bool ReadBool(const std::string& name, bool& value) const = 0;
    virtual bool ReadString(const std::string& name, std::string& value) const = 0;
    virtual void WriteBool(const std::string& name, bool value) = 0;
    virtual void WriteString(const std::string& name, const std::string& value) = 0;
    // Makes the written values durable; false when that failed.
    virtual bool Flush() = 0;
};

// The settings file: lines "name=value"; booleans are 0 or 1. Values are
// stored on one line each (line breaks in a value are dropped).
class IniFileStore : public SettingsStore {
  public:
    explicit IniFileStore(std::string path);
    bool ReadBool(const std::string& name, bool& value) const override;
    bool ReadString(const std::string& name, std::string& value) const override;
    void WriteBool(const std::string& name, bool value) override;
    void WriteString(const std::string& name, const std::string& value) override;
    bool Flush() override;
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
    std::map<std::string, std::string> values_;
};

// $XDG_CONFIG_HOME (or ~/.config) + "/Corvane Devices, Inc/" + fileName.
std::string UserConfigPath(const std::string& fileName);

// $XDG_DATA_HOME (or ~/.local/share) + "/Corvane/TarsaBSL", created with its
// parents; `fallback` when it cannot be created.
std::string DataFolder(const std::string& fallback);

// Creates `path` and its missing parents (mode 0700). True when it exists.
bool MakeFolders(const std::string& path);

}  // namespace tarsa::app
