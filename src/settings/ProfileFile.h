#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace varnel {

// An INI file read and written the way the Windows private-profile functions do it:
// - section and key names compare without regard to (ASCII) case; blanks around key
//   names, around '=' and around values are ignored, a section name is what stands
//   between '[' and the first ']'; a header without ']' is no header;
// - lines starting with ';' and lines without '=' are never keys;
// - only the first section of a name counts, and in it the first key of a name;
// - a value enclosed in a matching pair of quotes is read without them;
// - a write replaces the value in place or appends the key at the end of its section
//   (the section at the end of the file); every other byte stays as it was.
// The file is read once, at construction; writes collect in memory until Flush. What
// is no regular file, or over 1 MiB, reads as empty and is never written.
class ProfileFile {
public:
    using Entry = std::pair<std::string, std::string>;

    explicit ProfileFile(std::filesystem::path path);
    // Writes what is still unflushed; failures stay silent.
    ~ProfileFile();
    ProfileFile(const ProfileFile&) = delete;
    ProfileFile& operator=(const ProfileFile&) = delete;

    // Read like GetPrivateProfileInt: the default when the key is missing or its value
    // is empty; otherwise leading blanks, an optional sign, an optional "0x" / "0o" /
    // "0b" prefix and the digits up to the first other character, wrapping modulo 2^32.
    // "abc" reads 0, "12abc" 12, "-12" -12, "0x1A" 26.
    int GetInt(std::string_view section, std::string_view key, int defaultValue) const;
    std::string GetString(std::string_view section, std::string_view key,
                          std::string_view defaultValue = {}) const;
    // Every key of the section with its value, in file order, first occurrence only.
    std::vector<Entry> Entries(std::string_view section) const;

    // False, and nothing changed, when a name is empty or a text would break the line
    // structure (line breaks, NUL, '=' in a key, ']' in a section), or when the file
    // exists but could not be read (its content must not be overwritten unseen).
    bool WriteString(std::string_view section, std::string_view key, std::string_view value);
    // Creates the folder when missing and replaces the file; false when that failed.
    bool Flush();

private:
    std::filesystem::path m_path;
    std::string m_text;
    bool m_readable = true;
    bool m_dirty = false;
};

} // namespace varnel
