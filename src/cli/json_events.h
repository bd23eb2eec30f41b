// JSON Lines events: what tarsa-update --json prints instead of its text,
// one object per line, and what the multi-port runner reads from the
// process it starts for each port.
//
// Every line is one complete JSON object with an "event" member ("start",
// "phase", "progress", "message", "question", "result") and the "port" it
// concerns; docs/json-events.md lists the members of each. Texts are escaped
// (quotes, backslashes, control characters), and bytes that are not valid
// UTF-8 (device answers, file names) become U+FFFD, so a reader never sees
// anything but objects. The parser reads such lines back; it accepts any
// JSON text but keeps only the top-level members of an object.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <string_view>

#include "app/main_window.h"
#include "cli/terminal_ui.h"

namespace tarsa::cli {

// `text` as a JSON string literal, quotes included.
std::string JsonQuote(std::string_view text);

// Builds one object member by member, in the order they are added.
class JsonObject {
  public:
    JsonObject& Add(const char* key, std::string_view value);
    JsonObject& Add(const char* key, const char* value) {
        return Add(key, std::string_view(value));
    }
    JsonObject& Add(const char* key, int64_t value);
    JsonObject& Add(const char* key, int value) { return Add(key, static_cast<int64_t>(value)); }
    JsonObject& Add(const char* key, bool value);
    JsonObject& AddNull(const char* key);
    std::string Text() const { return body_.empty() ? "{}" : body_ + "}"; }

  private:
    void Key(const char* key);
    std::string body_;
};

// A top-level member of a parsed object. Nested objects and arrays keep
// their JSON text in `text`.
struct JsonValue {
    enum class Type { Null, Bool, Number, String, Nested };
    Type type = Type::Null;
    std::string text;  // String: the decoded text; Nested: the raw JSON
    double number = 0;
    bool boolean = false;
};
using JsonMembers = std::map<std::string, JsonValue>;

// Parses `line` as one JSON object (white space around it allowed) into
// `members`. False when the line is not exactly one valid JSON object.
bool ParseJsonObject(std::string_view line, JsonMembers& members);

// The string member `key`, or `fallback` when it is missing or not a string.
std::string MemberText(const JsonMembers& members, const char* key,
                       const std::string& fallback = {});
// The number member `key`, or `fallback`.
int64_t MemberNumber(const JsonMembers& members, const char* key, int64_t fallback = 0);

// Seconds left when `percent` was reached `elapsedMs` after the count began
// at `startPercent`; -1 while there is too little to go on.
int64_t SecondsLeft(int startPercent, int percent, uint64_t elapsedMs);

// The terminal user interface of a --json run: everything the window logic
// shows becomes an event on `out`; questions are answered by --yes or, with
// nobody to ask, with Cancel, and the answer is part of the question event.
class JsonUi : public TerminalUi {
  public:
    JsonUi(FILE* out, std::string port, bool assumeYes);

    void SetLabel(app::Label label, const std::string& text) override;
    void SetProgress(int position) override;
    void PumpMessages() override;
    void ShowMessage(const std::string& text, const std::string& caption,
                     app::MessageKind kind) override;
    bool AskOkCancel(const std::string& text, const std::string& caption) override;
    void WarningBox(const std::string& text, const std::string& caption) override;
    void BeepInformation() override {}

    // Follows `window` so that the result can name the version the device
    // ran before the update (the identity changes on reconnection).
    void Follow(app::MainWindow& window) { window_ = &window; }
    // The start event of a run in `mode` ("update" or "check-only").
    void EmitStart(const char* mode);
    // The result event for `code` (the run's result) after `seconds`;
    // `text` empty: the success status or the last error shown.
    void EmitResult(int code, int64_t seconds, const std::string& text = {});
    // "2.10" for version number 210; empty for 0 and for the 999 a device
    // in its loader is given.
    static std::string VersionText(uint32_t version);

  private:
    void Emit(const JsonObject& object);
    JsonObject Event(const char* name) const;

    FILE* out_;
    std::string port_;
    bool yes_;
    app::MainWindow* window_ = nullptr;
    std::string mode_;
    std::string phase_;
    std::string status_;
    std::string errorCaption_;
    std::string errorText_;
    std::string refusedQuestion_;  // a question answered Cancel for want of --yes
    uint32_t versionBefore_ = 0;
    int percent_ = -1;
    int startPercent_ = 0;
    uint64_t startMs_ = 0;
};

}  // namespace tarsa::cli
