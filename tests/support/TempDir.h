#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <cstdlib> // mkdtemp
#ifdef _WIN32
#include <io.h> // _mktemp
#endif

namespace varnel::test {

// Turns the pattern's final XXXXXX into the name of a directory it creates.
inline bool MakeTempDir(std::string& pattern)
{
#ifdef _WIN32
    return ::_mktemp(pattern.data()) != nullptr && std::filesystem::create_directory(pattern);
#else
    return ::mkdtemp(pattern.data()) != nullptr;
#endif
}

// A fresh directory removed with everything in it when the test ends.
class TempDir {
public:
    TempDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "varnel-test-XXXXXX").string();
        if (MakeTempDir(pattern))
            m_path = pattern;
    }
    ~TempDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return m_path; }
    std::string File(const std::string& name) const { return (m_path / name).string(); }

private:
    std::filesystem::path m_path;
};

inline std::string ReadFileBytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace varnel::test
