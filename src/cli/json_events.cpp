#include "cli/json_events.h"

#include <cmath>
#include <cstdlib>
#include <ctime>

namespace tarsa::cli {
namespace {

uint64_t NowMs() {
    struct timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

// Length of the valid UTF-8 sequence at the start of `s`, 0 when invalid
// (overlong forms, surrogates and code points beyond U+10FFFF included).
size_t Utf8Length(std::string_view s) {
    const auto b = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char c = b(0);
    if (c < 0x80) return 1;
    size_t n = 0;
    uint32_t cp = 0;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
        cp = c & 0x1Fu;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        cp = c & 0x0Fu;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        cp = c & 0x07u;
    } else {
        return 0;
    }
    if (s.size() < n) return 0;
    for (size_t i = 1; i < n; ++i) {
        if ((b(i) & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b(i) & 0x3Fu);
    }
    if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF))) return 0;
    if (cp >= 0xD800 && cp <= 0xDFFF) return 0;
    return n;
}

const char* KindName(app::MessageKind kind) {
    switch (kind) {
        case app::MessageKind::Warning:
            return "warning";
        case app::MessageKind::Error:
            return "error";
        case app::MessageKind::Information:
            return "information";
        case app::MessageKind::Confirmation:
            return "confirmation";
        case app::MessageKind::Plain:
            return "plain";
    }
    return "plain";
}

// A strict reader of RFC 8259 JSON text.
class Parser {
  public:
    explicit Parser(std::string_view text) : s_(text) {}

    bool Object(JsonMembers& members) {
        Space();
        if (!Eat('{')) return false;
        Space();
        if (Eat('}')) return End();
        for (;;) {
            Space();
            std::string key;
            if (!String(key)) return false;
            Space();
            if (!Eat(':')) return false;
            JsonValue value;
            if (!Value(value, 0)) return false;
            members[key] = std::move(value);
            Space();
            if (Eat('}')) return End();
            if (!Eat(',')) return false;
        }
    }

  private:
    static constexpr int kMaxDepth = 32;

    bool End() {
        Space();
        return i_ == s_.size();
    }
    void Space() {
        while (i_ < s_.size() &&
               (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\n' || s_[i_] == '\r')) {
            ++i_;
        }
    }
    bool Eat(char c) {
        if (i_ < s_.size() && s_[i_] == c) {
            ++i_;
            return true;
        }
        return false;
    }
    bool Word(std::string_view word) {
        if (s_.substr(i_, word.size()) != word) return false;
        i_ += word.size();
        return true;
    }
    static int Hex(char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    }
    bool Hex4(uint32_t& out) {
        if (i_ + 4 > s_.size()) return false;
        out = 0;
        for (int k = 0; k < 4; ++k) {
            const int h = Hex(s_[i_++]);
            if (h < 0) return false;
            out = (out << 4) | static_cast<uint32_t>(h);
        }
        return true;
    }
    static void Append(std::string& out, uint32_t cp) {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    bool String(std::string& out) {
        if (!Eat('"')) return false;
        while (i_ < s_.size()) {
            const unsigned char c = static_cast<unsigned char>(s_[i_]);
            if (c == '"') {
                ++i_;
                return true;
            }
            if (c < 0x20) return false;
            if (c == '\\') {
                if (++i_ >= s_.size()) return false;
                const char e = s_[i_++];
                switch (e) {
                    case '"':
                    case '\\':
                    case '/':
                        out += e;
                        break;
                    case 'b':
                        out += '\b';
                        break;
                    case 'f':
                        out += '\f';
                        break;
                    case 'n':
                        out += '\n';
                        break;
                    case 'r':
                        out += '\r';
                        break;
                    case 't':
                        out += '\t';
                        break;
                    case 'u': {
                        uint32_t cp = 0;
                        if (!Hex4(cp)) return false;
                        if (cp >= 0xD800 && cp <= 0xDBFF) {
                            uint32_t low = 0;
                            if (!Word("\\u") || !Hex4(low) || low < 0xDC00 || low > 0xDFFF) {
                                return false;
                            }
                            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                        } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
                            return false;
                        }
                        Append(out, cp);
                        break;
                    }
                    default:
                        return false;
                }
                continue;
            }
            const size_t n = Utf8Length(s_.substr(i_));
            if (n == 0) return false;
            out.append(s_.substr(i_, n));
            i_ += n;
        }
        return false;
    }
    bool Number(double& out) {
        const size_t start = i_;
        Eat('-');
        if (Eat('0')) {
        } else if (i_ < s_.size() && s_[i_] >= '1' && s_[i_] <= '9') {
            while (i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '9') ++i_;
        } else {
            return false;
        }
        auto digits = [&] {
            const size_t from = i_;
            while (i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '9') ++i_;
            return i_ > from;
        };
        if (Eat('.') && !digits()) return false;
        if (Eat('e') || Eat('E')) {
            if (!Eat('+')) Eat('-');
            if (!digits()) return false;
        }
        out = strtod(std::string(s_.substr(start, i_ - start)).c_str(), nullptr);
        return true;
    }
    bool Value(JsonValue& v, int depth) {
        Space();
        if (i_ >= s_.size()) return false;
        const char c = s_[i_];
        if (c == '"') {
            v.type = JsonValue::Type::String;
            return String(v.text);
        }
        if (c == '{' || c == '[') {
            if (depth >= kMaxDepth) return false;
            const size_t start = i_;
            ++i_;
            const char close = c == '{' ? '}' : ']';
            Space();
            if (!Eat(close)) {
                for (;;) {
                    if (c == '{') {
                        Space();
                        std::string key;
                        if (!String(key)) return false;
                        Space();
                        if (!Eat(':')) return false;
                    }
                    JsonValue inner;
                    if (!Value(inner, depth + 1)) return false;
                    Space();
                    if (Eat(close)) break;
                    if (!Eat(',')) return false;
                }
            }
            v.type = JsonValue::Type::Nested;
            v.text.assign(s_.substr(start, i_ - start));
            return true;
        }
        if (Word("true") || Word("false")) {
            v.type = JsonValue::Type::Bool;
            v.boolean = c == 't';
            return true;
        }
        if (Word("null")) {
            v.type = JsonValue::Type::Null;
            return true;
        }
        v.type = JsonValue::Type::Number;
        return Number(v.number);
    }

    std::string_view s_;
    size_t i_ = 0;
};

}  // namespace

std::string JsonQuote(std::string_view text) {
    std::string out = "\"";
    size_t i = 0;
    while (i < text.size()) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            char buf[8];
            snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else if (c >= 0x80) {
            const size_t n = Utf8Length(text.substr(i));
            if (n == 0) {
                out += "\xEF\xBF\xBD";  // U+FFFD for a byte that is not UTF-8
                ++i;
                continue;
            }
            out.append(text.substr(i, n));
            i += n;
            continue;
        } else {
            out += static_cast<char>(c);
        }
        ++i;
    }
    out += '"';
    return out;
}

void JsonObject::Key(const char* key) {
    body_ += body_.empty() ? "{" : ",";
    body_ += JsonQuote(key);
    body_ += ':';
}

JsonObject& JsonObject::Add(const char* key, std::string_view value) {
    Key(key);
    body_ += JsonQuote(value);
    return *this;
}

JsonObject& JsonObject::Add(const char* key, int64_t value) {
    Key(key);
    body_ += std::to_string(value);
    return *this;
}

JsonObject& JsonObject::Add(const char* key, bool value) {
    Key(key);
    body_ += value ? "true" : "false";
    return *this;
}

JsonObject& JsonObject::AddNull(const char* key) {
    Key(key);
    body_ += "null";
    return *this;
}

bool ParseJsonObject(std::string_view line, JsonMembers& members) {
    members.clear();
    return Parser(line).Object(members);
}

std::string MemberText(const JsonMembers& members, const char* key, const std::string& fallback) {
    auto it = members.find(key);
    return it != members.end() && it->second.type == JsonValue::Type::String ? it->second.text
                                                                             : fallback;
}

int64_t MemberNumber(const JsonMembers& members, const char* key, int64_t fallback) {
    auto it = members.find(key);
    if (it == members.end() || it->second.type != JsonValue::Type::Number) return fallback;
    const double n = it->second.number;
    if (!std::isfinite(n) || n > 9e15 || n < -9e15) return fallback;
    return static_cast<int64_t>(n);
}

int64_t SecondsLeft(int startPercent, int percent, uint64_t elapsedMs) {
    const int gained = percent - startPercent;
    if (gained <= 0 || percent >= 100 || elapsedMs <= 2000) return -1;
    return static_cast<int64_t>(elapsedMs * static_cast<uint64_t>(100 - percent) /
                                static_cast<uint64_t>(gained) / 1000);
}

JsonUi::JsonUi(FILE* out, std::string port, bool assumeYes)
    : TerminalUi(out, out, assumeYes, false, false),
      out_(out),
      port_(std::move(port)),
      yes_(assumeYes) {}

JsonObject JsonUi::Event(const char* name) const {
    JsonObject o;
    o.Add("event", name).Add("port", port_);
    return o;
}

void JsonUi::Emit(const JsonObject& object) {
    const std::string line = object.Text() + "\n";
    fwrite(line.data(), 1, line.size(), out_);
    fflush(out_);
}

std::string JsonUi::VersionText(uint32_t version) {
    if (version == 0 || version == 999) return {};
    char buf[16];
    snprintf(buf, sizeof buf, "%u.%02u", version / 100, version % 100);
    return buf;
}

void JsonUi::SetLabel(app::Label label, const std::string& text) {
    if (label != app::Label::StatusText || text.empty()) return;
    status_ = text;
    phase_ = text;
    Emit(Event("phase").Add("phase", text).Add("percent", percent_ < 0 ? 0 : percent_));
}

void JsonUi::SetProgress(int position) {
    if (position == percent_) return;
    const uint64_t now = NowMs();
    if (position < percent_ || startMs_ == 0) {
        startMs_ = now;
        startPercent_ = position;
    }
    percent_ = position;
    JsonObject o = Event("progress");
    o.Add("percent", position).Add("phase", phase_);
    const int64_t left = SecondsLeft(startPercent_, position, now - startMs_);
    if (left < 0) {
        o.AddNull("seconds_left");
    } else {
        o.Add("seconds_left", left);
    }
    Emit(o);
}

void JsonUi::PumpMessages() {
    // The first identity seen is the one the device had before the update.
    if (window_ && versionBefore_ == 0) versionBefore_ = window_->Identity().version;
    TerminalUi::PumpMessages();
}

void JsonUi::ShowMessage(const std::string& text, const std::string& caption,
                         app::MessageKind kind) {
    if (kind == app::MessageKind::Error) {
        errorCaption_ = caption;
        errorText_ = text;
    }
    Emit(Event("message").Add("caption", caption).Add("text", text).Add("kind", KindName(kind)));
}

bool JsonUi::AskOkCancel(const std::string& text, const std::string& caption) {
    // Nobody reads standard input of a --json run: without --yes, Cancel.
    if (!yes_ && refusedQuestion_.empty()) refusedQuestion_ = caption + ": " + text;
    Emit(Event("question")
             .Add("caption", caption)
             .Add("text", text)
             .Add("answer", yes_ ? "ok" : "cancel"));
    return yes_;
}

void JsonUi::WarningBox(const std::string& text, const std::string& caption) {
    ShowMessage(text, caption, app::MessageKind::Warning);
}

void JsonUi::EmitStart(const char* mode) {
    mode_ = mode;
    JsonObject o = Event("start");
    o.Add("mode", mode);
    if (window_) {
        o.Add("device", window_->DisplayName()).Add("firmware", window_->Host().image.label);
        o.Add("log", window_->LogFilePath()).Add("settings_file", window_->SettingsFilePath());
    }
    Emit(o);
}

void JsonUi::EmitResult(int code, int64_t seconds, const std::string& text) {
    const bool ok = code > 0;
    std::string shown = text;
    if (shown.empty() && ok) shown = status_;
    if (shown.empty() && !refusedQuestion_.empty()) {
        shown = "Refused: this run would ask (--yes answers OK): " + refusedQuestion_;
    }
    if (shown.empty() && !errorCaption_.empty()) shown = errorCaption_ + ": " + errorText_;
    if (shown.empty()) shown = ok ? "Done" : "Failed (error " + std::to_string(code) + ")";
    JsonObject o = Event("result");
    o.Add("code", code).Add("ok", ok).Add("text", shown).Add("caption", ok ? "" : errorCaption_);
    o.Add("seconds", seconds);
    std::string before, after, name, serial;
    if (window_) {
        if (versionBefore_ == 0) versionBefore_ = window_->Identity().version;
        before = VersionText(versionBefore_);
        if (ok && mode_ != "check-only") after = VersionText(window_->Identity().version);
        const LoggerSettings& ls = window_->Protocol().loggerSettings;
        name = ls.deviceName;
        serial = ls.serialNumber;
        if (serial.empty()) serial = window_->Protocol().instrumentSettings.sn;
    }
    o.Add("version_before", before).Add("version_after", after);
    o.Add("device_name", name).Add("serial", serial);
    Emit(o);
}

}  // namespace tarsa::cli
