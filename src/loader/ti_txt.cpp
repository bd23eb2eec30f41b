// TI-TXT reading and image writing. The reader works on the whole file held
// in memory and builds the new image on the side, so that the caller's image
// only changes once everything has been checked.
#include "loader/ti_txt.h"

#include <cerrno>
#include <cstdio>
#include <limits>
#include <memory>
#include <new>

#include "catalogue/catalogue.h"
#include "log/tarsa_log.h"
#include "serial/timing.h"

namespace tarsa {
namespace {

constexpr const char* kTag = "TarsaBSL";

struct FileCloser {
    void operator()(FILE* f) const {
        if (f) fclose(f);
    }
};
using File = std::unique_ptr<FILE, FileCloser>;

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

int Elapsed(uint32_t start) {
    return static_cast<int>(TickMs() - start);
}

// Reads the hex address that follows the "@" at the start of `section`.
// Blanks before the digits are allowed; anything after them is ignored up to
// the line end. Fails without digits or above the 20-bit address space.
bool ReadAddress(std::string_view section, uint32_t& address) {
    size_t i = 1;
    while (i < section.size() && (section[i] == ' ' || section[i] == '\t')) ++i;
    uint32_t value = 0;
    size_t digits = 0;
    for (; i < section.size(); ++i) {
        int v = HexValue(section[i]);
        if (v < 0) break;
        value = value * 16 + static_cast<uint32_t>(v);
        if (value > kMaxImageAddress) return false;
        ++digits;
    }
    if (digits == 0) return false;
    address = value;
    return true;
}

// Appends the data of one section in word form: every four hex digits abcd
// become cdab; a last partial group is filled up with "F".
void ConvertData(std::string_view data, std::string& out) {
    char group[4];
    int n = 0;
    for (char c : data) {
        if (HexValue(c) < 0) continue;
        group[n++] = c;
        if (n == 4) {
            out.append({group[2], group[3], group[0], group[1]});
            n = 0;
        }
    }
    if (n > 0) {
        for (int i = n; i < 4; ++i) group[i] = 'F';
        out.append({group[2], group[3], group[0], group[1]});
    }
}

// The number of bytes the loader writes for a section's data: whole words,
// a last partial word completed with 0xFF.
uint32_t WrittenBytes(std::string_view data) {
    uint32_t digits = 0;
    for (char c : data) {
        if (HexValue(c) >= 0) ++digits;
    }
    return (digits + 3) / 4 * 2;
}

// True when `bytes` bytes from `address` stay where application data may
// go: out of the loader's own flash, below the vectors of a 16-bit target
// and inside the 20-bit address space. A file that breaks this would be
// refused by the loader only after the flash has been erased.
bool DataFits(uint32_t address, uint32_t bytes) {
    if (bytes == 0) return true;
    const uint32_t last = address + bytes - 1;
    if (address <= 0xFFFF) {
        const bool intoLoader = address <= kLoaderFlashEnd && last >= kLoaderFlashFirst;
        return !intoLoader && last <= kLastDataAddress16;
    }
    return last <= kMaxImageAddress;
}

// Stores the words of a vector section into the slots from the one that
// `address` names. More words than slots, or digits that are not whole
// words, make the file invalid.
bool ParseVectors(uint32_t address, std::string_view data,
                  std::array<uint32_t, kVectorCount>& vectors) {
    size_t slot = (address - kVectorBase) / 2;
    int d[4];
    int n = 0;
    for (char c : data) {
        int v = HexValue(c);
        if (v < 0) continue;
        d[n++] = v;
        if (n == 4) {
            if (slot >= kVectorCount) return false;
            vectors[slot++] =
                static_cast<uint32_t>((d[2] << 12) | (d[3] << 8) | (d[0] << 4) | d[1]);
            n = 0;
        }
    }
    return n == 0;
}

// Reads the whole file, never trusting a size reported for it. Returns
// kImageOk, kImageInvalidFile (read error or too large) or kImageOutOfMemory.
int ReadAll(FILE* f, std::string& contents) {
    char chunk[65536];
    for (;;) {
        size_t got = fread(chunk, 1, sizeof chunk, f);
        if (got > 0) {
            if (contents.size() + got > kMaxTiTxtFileBytes) return kImageInvalidFile;
            try {
                contents.append(chunk, got);
            } catch (const std::bad_alloc&) {
                return kImageOutOfMemory;
            }
        }
        if (got < sizeof chunk) return ferror(f) ? kImageInvalidFile : kImageOk;
    }
}

}  // namespace

int ParseTiTxt(std::string_view file, std::string& compact,
               std::array<uint32_t, kVectorCount>& vectors) {
    vectors = FirmwareImage::MakeEmptyVectors();
    compact.clear();
    if (file.empty() || file[0] != '@') return kImageInvalidFile;
    size_t q = file.find('q');
    if (q == std::string_view::npos) return kImageInvalidFile;
    std::string_view body = file.substr(0, q);

    bool vectorsSeen = false;
    size_t p = 0;
    while (p < body.size()) {
        size_t next = body.find('@', p + 1);
        size_t end = next == std::string_view::npos ? body.size() : next;
        std::string_view section = body.substr(p, end - p);
        p = end;

        uint32_t address = 0;
        if (!ReadAddress(section, address)) return kImageInvalidFile;
        // The address line must end inside its own section.
        size_t lineEnd = section.find('\n');
        if (lineEnd == std::string_view::npos) return kImageInvalidFile;
        std::string_view data = section.substr(lineEnd + 1);

        if (address >= kVectorBase && address <= kVectorLast) {
            vectorsSeen = true;
            if (!ParseVectors(address, data, vectors)) return kImageInvalidFile;
        } else if (address >= kLoaderFlashFirst && address <= kLoaderFlashLast) {
            // The loader's own section is dropped; one that goes on past the
            // loader's flash would take application bytes with it.
            if (address + WrittenBytes(data) - 1 > kLoaderFlashEnd) return kImageInvalidFile;
            continue;
        } else if (!DataFits(address, WrittenBytes(data))) {
            return kImageInvalidFile;
        } else {
            char head[8];
            snprintf(head, sizeof head, "@%05X", static_cast<unsigned>(address));
            compact.append(head);
            ConvertData(data, compact);
        }
    }
    return vectorsSeen ? kImageOk : kImageInvalidFile;
}

ImageIdentity IdentityFromFileName(std::string_view path) {
    ImageIdentity id;
    size_t slash = path.find_last_of("/\\");
    std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    std::string label(name.substr(0, kImageLabelCapacity));
    size_t ext = label.find(".txt");
    if (ext != std::string::npos) label.resize(ext);

    std::string word = label.substr(0, label.find_first_of(" -_"));
    for (char& c : word) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    int type = FindInstrumentType(word);
    id.typeCode = type >= 1 && type <= 24 ? static_cast<uint8_t>(type) : 0;

    size_t sep = label.find_first_of(" -");
    if (sep != std::string::npos) {
        int64_t version = 0;
        int digits = 0;
        for (size_t i = sep + 1; i < label.size() && digits < 11; ++i) {
            if (!IsDigit(label[i])) continue;
            version = version * 10 + (label[i] - '0');
            ++digits;
        }
        constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
        id.version = static_cast<int32_t>(version > kMax ? kMax : version);
    }

    bool digitDash = false;
    for (size_t i = 1; i + 1 < label.size(); ++i) {
        if (label[i] == '-' && IsDigit(label[i - 1]) && IsDigit(label[i + 1])) digitDash = true;
    }
    if (digitDash) label[label.rfind('-')] = '.';
    id.label = std::move(label);
    return id;
}

int LoadTIFile(FirmwareImage& image, TarsaLog* log, const char* path) {
    uint32_t start = TickMs();
    const char* shownPath = path ? path : "";
    File f(path ? fopen(path, "rb") : nullptr);
    if (!f) {
        int err = path ? errno : EINVAL;
        if (log) {
            log->Write(kLogOutcome, kTag, "BSLLoadTIFile got error %d trying to open datafile %s",
                       err, shownPath);
        }
        return -err;
    }

    FirmwareImage fresh;
    int result = kImageOk;
    try {
        std::string contents;
        result = ReadAll(f.get(), contents);
        f.reset();
        if (result == kImageOk) {
            fresh.text.reserve(contents.size());
            result = ParseTiTxt(contents, fresh.text, fresh.vectors);
        }
        if (result == kImageOk) {
            ImageIdentity id = IdentityFromFileName(path);
            fresh.label = std::move(id.label);
            fresh.typeCode = id.typeCode;
            fresh.version = id.version;
        }
    } catch (const std::bad_alloc&) {
        result = kImageOutOfMemory;
    }

    if (result != kImageOk) {
        if (log && result == kImageInvalidFile) {
            log->Write(kLogProgress, kTag,
                       "BSLLoadTIFile: file %s is not a valid TI-Text file (%d ms)", path,
                       Elapsed(start));
        } else if (log) {
            log->Write(kLogOutcome, kTag, "BSLLoadTIFile failed with error %d (%d ms)", result,
                       Elapsed(start));
        }
        return result;
    }

    fresh.length = static_cast<uint32_t>(fresh.text.size());
    fresh.loadedFromFile = true;
    image = std::move(fresh);
    if (log) {
        log->Write(kLogProgress, kTag, "BSLLoadTIFile loaded file %s (%d ms)", path,
                   Elapsed(start));
    }
    return 1;
}

std::string FormatTiTxtRecord(const FirmwareImage& image) {
    const std::string& text = image.text;
    std::string out;
    out.reserve(text.size() + text.size() / 32 + 128);
    size_t lineChars = 0;
    for (size_t p = 0; p < text.size();) {
        if (text[p] == '@') {
            size_t take = std::min<size_t>(6, text.size() - p);
            out.append(text, p, take);
            out.push_back('\n');
            p += take;
            lineChars = 0;
            continue;
        }
        out.push_back(text[p++]);
        if (++lineChars == 32) {
            out.push_back('\n');
            lineChars = 0;
        }
    }
    char tail[128];
    const auto& v = image.vectors;
    snprintf(tail, sizeof tail, "\n@%X\n", static_cast<unsigned>(kVectorBase));
    out.append(tail);
    for (size_t row = 0; row < 2; ++row) {
        const uint32_t* r = v.data() + row * 8;
        snprintf(tail, sizeof tail, "%04X%04X%04X%04X%04X%04X%04X%04X\n", r[0], r[1], r[2], r[3],
                 r[4], r[5], r[6], r[7]);
        out.append(tail);
    }
    return out;
}

int WriteTIFile(const FirmwareImage& image, TarsaLog* log, const char* path) {
    uint32_t start = TickMs();
    const char* shownPath = path ? path : "";
    File f(path ? fopen(path, "wb") : nullptr);
    if (!f) {
        int err = path ? errno : EINVAL;
        if (log) {
            log->Write(kLogOutcome, kTag, "BSLWriteTIFile got error %d trying to open datafile %s",
                       err, shownPath);
        }
        return -err;
    }
    std::string record = FormatTiTxtRecord(image);
    // A short write or a failed close (a full disk) is a failure, not a
    // silently truncated dump.
    errno = 0;
    bool written = fwrite(record.data(), 1, record.size(), f.get()) == record.size();
    int err = written ? 0 : (errno ? errno : EIO);
    if (fclose(f.release()) != 0 && err == 0) err = errno ? errno : EIO;
    if (err != 0) {
        if (log) {
            log->Write(kLogOutcome, kTag, "BSLWriteTIFile got error %d trying to write datafile %s",
                       err, path);
        }
        return -err;
    }
    if (log) {
        log->Write(kLogProgress, kTag, "BSLWriteTIFile wrote file %s (%d ms)", path,
                   Elapsed(start));
    }
    return 1;
}

}  // namespace tarsa
