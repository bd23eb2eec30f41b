#include "fuzz_targets.h"

#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "instrument/tarsa_protocol.h"
#include "loader/firmware_image.h"
#include "loader/ti_txt.h"
#include "web/version_check.h"

namespace tarsa::fuzz {

int TiTxt(const uint8_t* data, size_t size) {
    std::string compact;
    std::array<uint32_t, kVectorCount> vectors{};
    std::string_view file(reinterpret_cast<const char*>(data), size);
    if (ParseTiTxt(file, compact, vectors) != kImageOk) return 0;
    // Whatever the reader accepted must be an image the loader can send.
    std::vector<ImageSection> sections;
    if (!compact.empty() && DecodeImageText(compact, sections) < 0) abort();
    return 1;
}

int VersionDocument(const uint8_t* data, size_t size) {
    std::string reply(reinterpret_cast<const char*>(data), size);
    tarsa::VersionDocument document = ParseVersionDocument(reply);
    if (document.status != 0) return 0;
    if (document.address.rfind("http", 0) != 0) abort();
    return 1;
}

int SettingsFile(const uint8_t* data, size_t size) {
    static const std::string path = [] {
        std::string p = "/tmp/tarsa_fuzz_settings_" + std::to_string(getpid()) + ".txt";
        return p;
    }();
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return 0;
    fwrite(data, 1, size, f);
    fclose(f);
    int accepted = 0;
    for (int type : {3, 4, 6, 8, 10, 15, 22}) {
        Tarsa_protocol tp(nullptr);
        tp.type = static_cast<int8_t>(type);
        if (ReadInfoFile(tp, path.c_str()) > 0) accepted = 1;
    }
    remove(path.c_str());
    return accepted;
}

}  // namespace tarsa::fuzz
