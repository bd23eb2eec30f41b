// Test support for the instrument protocol: protocol_fixture.h's folder,
// protocol object and log, and a small scripted text-command instrument on a
// real pty.
//
// FakeInstrument keeps its settings in a map from option word to value and
// answers "get -word" and "set -word value" from it, plus the record lists,
// the login, "get -ver" and the maintenance commands. It exists so that one
// protocol layer can be tested without the whole-device simulator; it makes
// no claim to be a faithful instrument.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "instrument/tarsa_protocol.h"
#include "log/tarsa_log.h"
#include "protocol_fixture.h"
#include "support/scripted_device.h"

namespace tarsa::test {

inline std::string Answer(const std::string& text) {
    return "\r" + text + "\r>";
}

// Standard base64 of a byte string, for building user records.
inline std::string Base64(const std::string& bytes) {
    static const char* alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        uint32_t group = 0;
        for (size_t k = 0; k < 3; ++k) {
            group <<= 8;
            if (i + k < bytes.size()) group |= static_cast<unsigned char>(bytes[i + k]);
        }
        const size_t chars = bytes.size() - i >= 3 ? 4 : bytes.size() - i + 1;
        for (size_t k = 0; k < 4; ++k) {
            out += k < chars ? alphabet[(group >> (18 - 6 * k)) & 63] : '=';
        }
    }
    return out;
}

// A scripted instrument with settings, records and maintenance answers.
class FakeInstrument {
  public:
    explicit FakeInstrument(std::string identity, std::map<std::string, std::string> values = {})
        : identity_(std::move(identity)), values_(std::move(values)) {}

    std::string Handle(const std::string& message) {
        std::lock_guard<std::mutex> lock(mutex_);
        std::string line = message;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line == "get -ver") return Answer(identity_);
        if (!refuseSet.empty() && line.rfind("set -" + refuseSet + " ", 0) == 0) {
            return Answer(refusal);
        }
        if (line.rfind("login ", 0) == 0) return Answer("OK");
        if (line == "\n" || line.empty()) return "";
        if (line == "logout") return Answer("OK");
        if (line == "set -sensor 0") return Answer("OK");
        if (line == "get -batt") return Answer(battery_);
        if (line == "post" || line == "post -init") return Answer("Code Good!");
        if (line == "yes") return Answer("OK");
        if (line.rfind("set -sec ", 0) == 0) return Answer("OK");
        if (line == "reset -eqn" || line == "reset -users") {
            (line == "reset -eqn" ? equations : users).clear();
            return Answer("OK");
        }
        for (const char* word : {"eqn", "user"}) {
            std::vector<std::string>& list = std::string(word) == "eqn" ? equations : users;
            const std::string get = std::string("get -") + word;
            const std::string set = std::string("set -") + word + " ";
            if (line == get) return Answer(std::to_string(list.size()));
            if (line.rfind(get + " ", 0) == 0 && refuseGet == word) return Answer(refusal);
            if (line.rfind(get + " ", 0) == 0) {
                const size_t i = std::strtoul(line.c_str() + get.size() + 1, nullptr, 10);
                return i < list.size() ? Answer(list[i]) : Answer("ERROR");
            }
            if (line.rfind(set, 0) == 0) {
                char* end = nullptr;
                const size_t i = std::strtoul(line.c_str() + set.size(), &end, 10);
                if (!end || *end != ' ') return Answer("ERROR");
                if (list.size() <= i) list.resize(i + 1);
                list[i] = end + 1;
                return Answer("OK");
            }
        }
        if (line.rfind("get -", 0) == 0) {
            const auto it = values_.find(line.substr(5));
            return it == values_.end() ? Answer("Unsupported") : Answer(it->second);
        }
        if (line.rfind("set -", 0) == 0) {
            const std::string rest = line.substr(5);
            std::string best;
            for (const auto& [key, value] : values_) {
                if (rest.rfind(key + " ", 0) == 0 && key.size() > best.size()) best = key;
            }
            if (best.empty()) return Answer("Unsupported");
            values_[best] = rest.substr(best.size() + 1);
            return Answer("OK");
        }
        return Answer("Unsupported");
    }

    std::map<std::string, std::string> Values() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return values_;
    }

    std::vector<std::string> equations;
    std::vector<std::string> users;
    std::string battery_ = "85";
    std::string refuseSet;  // the "set -word" answered with `refusal`
    std::string refuseGet;  // "eqn" or "user": its record reads answered with `refusal`
    std::string refusal = "ERROR";

  private:
    mutable std::mutex mutex_;
    std::string identity_;
    std::map<std::string, std::string> values_;
};

// A protocol object with a log in a temporary folder and a scripted device.
class InstrumentFixture : public ProtocolFixture {
  protected:
    // Devices outlive the protocol object that disconnects from them.
    ~InstrumentFixture() override { tp_.reset(); }

    // Starts a scripted device and connects to it with TPConnect.
    int StartAndConnect(ScriptedDevice::Script script, uint32_t tries = 3) {
        if (tp_->link.connection.linkKind != kLinkNone) TPDisconnect(*tp_, false);
        device_ = std::make_unique<ScriptedDevice>(std::move(script));
        return TPConnect(*tp_, device_->PortPath().c_str(), 2, tries, &identity_);
    }

    // Connects to a FakeInstrument; fails the test when the connect fails.
    void ConnectFake(FakeInstrument& fake) {
        ASSERT_EQ(StartAndConnect([&fake](const std::string& m) { return fake.Handle(m); }), 1);
    }

    // The messages the device got after the connection was made.
    std::vector<std::string> SentSinceConnect() const {
        std::vector<std::string> all = device_->Messages();
        std::vector<std::string> out;
        bool connected = false;
        for (const std::string& m : all) {
            if (connected) out.push_back(m);
            if (m == "get -ver\r") connected = true;
        }
        // Drop the version reads that belong to the connection itself.
        while (!out.empty() && out.front() == "get -ver\r") out.erase(out.begin());
        return out;
    }

    // Fakes outlive the devices that call them (members are destroyed in
    // reverse).
    FakeInstrument& Fake(std::string identity, std::map<std::string, std::string> values = {}) {
        fakes_.push_back(std::make_unique<FakeInstrument>(std::move(identity), std::move(values)));
        return *fakes_.back();
    }

    std::vector<std::unique_ptr<FakeInstrument>> fakes_;
    std::unique_ptr<ScriptedDevice> device_;
    InstrumentIdentity identity_;
};

}  // namespace tarsa::test
