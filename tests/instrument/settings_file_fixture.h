// A settings file's path in a temporary folder, and protocol objects to
// write it and read it back.
#pragma once

#include <memory>
#include <string>

#include "protocol_fixture.h"

namespace tarsa::test {

class SettingsFile : public ProtocolFixture {
  protected:
    std::string Path() const { return folder_.File("Talox.settings.txt"); }

    // A second object of the same type, as after a restart of the program.
    std::unique_ptr<Tarsa_protocol> Fresh(int type) {
        auto fresh = std::make_unique<Tarsa_protocol>(log_.get());
        fresh->type = static_cast<int8_t>(type);
        return fresh;
    }
};

}  // namespace tarsa::test
