// CONTROLLER.INI: a private-profile file read and written with the Windows semantics the
// Controller's settings were made for. Sections and keys match without regard to ASCII case;
// a write changes one value in place and keeps every other byte of the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kv::controller {

// The whole file as written when CONTROLLER.INI is missing.
inline constexpr std::string_view kDefaultProfileText =
    "[GENERAL]\r\nFIRST=1\r\nLANG=19\r\nINDEX=0\r\n[BOOT]\r\nDRIVER=0\r\nCONTROLLER=0\r\n"
    "STATUS=1\r\nCUSTOM=0\r\n";

// A settings file larger than this is not one of ours: it is neither read past this size nor
// rewritten, so a stray huge file can neither exhaust memory nor be cut short.
inline constexpr size_t kMaxProfileBytes = 1 << 20;

// Where a key's value lies in the text: [begin, end), without the blanks around it.
struct ProfileSpan {
    size_t begin = 0;
    size_t end = 0;
};

// The value of the first key of that name in the first section of that name, or nothing.
std::optional<ProfileSpan> FindProfileValue(std::string_view text, std::string_view section,
                                            std::string_view key);
std::optional<std::string> LookupProfileString(std::string_view text, std::string_view section,
                                               std::string_view key);
// An integer as the Windows profile reader takes it: leading blanks, an optional sign, then
// decimal digits up to the first other character; no digits gives 0.
int32_t ParseProfileInt(std::string_view value);
int32_t LookupProfileInt(std::string_view text, std::string_view section, std::string_view key,
                         int32_t fallback);

// True when a section name, key and value can be written so that they read back the same:
// nothing empty, no line breaks, no blanks around a name, no "=" in a key, no "]" in a
// section, no key or section that would read as a section header.
bool IsStorableProfileEntry(std::string_view section, std::string_view key, std::string_view value);

// Sets the key's value in text. An existing value is replaced where it stands; a missing key
// is added after the last line of its section, a missing section at the end, with CR LF line
// ends. False (text unchanged) when the entry is not storable.
bool WriteProfileString(std::string& text, std::string_view section, std::string_view key,
                        std::string_view value);

// One profile file on disk.
class ProfileFile {
public:
    explicit ProfileFile(std::string path) : path_(std::move(path)) {}

    const std::string& Path() const { return path_; }
    bool Exists() const;
    // Writes the default text as the whole file; false when it cannot.
    bool CreateWithDefaults() const;

    int32_t ReadInt(std::string_view section, std::string_view key, int32_t fallback) const;
    std::string ReadString(std::string_view section, std::string_view key,
                           std::string_view fallback) const;
    // False when the file cannot be read whole or written; the file is then as it was.
    bool WriteString(std::string_view section, std::string_view key, std::string_view value) const;
    bool WriteInt(std::string_view section, std::string_view key, int32_t value) const;

private:
    std::string path_;
};

}  // namespace kv::controller
