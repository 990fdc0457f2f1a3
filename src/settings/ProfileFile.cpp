#include "settings/ProfileFile.h"

#include <QByteArray>
#include <QFile>
#include <QSaveFile>
#include <QString>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <system_error>

namespace varnel {

namespace {

// A settings file is a few hundred bytes; anything far larger is not ours to load
// into memory, and then not ours to overwrite either.
constexpr std::uintmax_t kMaxFileSize = 1024u * 1024u;

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

#ifdef _WIN32
constexpr std::string_view kNativeLineBreak = "\r\n";
#else
constexpr std::string_view kNativeLineBreak = "\n";
#endif

// The profile functions' notion of a blank includes Ctrl-Z, the old end-of-file mark.
bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r' || c == '\x1a';
}

std::string_view TrimLeft(std::string_view s)
{
    std::size_t i = 0;
    while (i < s.size() && IsBlank(s[i]))
        ++i;
    return s.substr(i);
}

std::string_view Trim(std::string_view s)
{
    s = TrimLeft(s);
    std::size_t n = s.size();
    while (n > 0 && IsBlank(s[n - 1]))
        --n;
    return s.substr(0, n);
}

char AsciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (AsciiLower(a[i]) != AsciiLower(b[i]))
            return false;
    return true;
}

// The value as the profile functions hand it out: up to a NUL (they deal in C strings),
// without the quotes around it.
std::string_view ValueText(std::string_view value)
{
    value = Trim(value.substr(0, value.find('\0')));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

enum class LineKind { Blank, Section, Key, Other };

struct Line {
    LineKind kind = LineKind::Other;
    std::size_t begin = 0;      // first byte
    std::size_t end = 0;        // end of the content, before the line break
    std::size_t next = 0;       // first byte of the following line
    std::string_view name;      // section or key name
    std::string_view value;     // key value, blanks trimmed
    std::size_t valueBegin = 0; // where a replacement value starts
};

void Classify(std::string_view text, Line& line)
{
    const std::string_view content = Trim(text.substr(line.begin, line.end - line.begin));
    if (content.empty()) {
        line.kind = LineKind::Blank;
        return;
    }
    const std::size_t contentOffset = static_cast<std::size_t>(content.data() - text.data());
    if (content.front() == '[') {
        if (const auto close = content.find(']'); close != std::string_view::npos) {
            line.kind = LineKind::Section;
            line.name = content.substr(1, close - 1);
            return;
        }
    }
    const auto equals = content.find('=');
    if (content.front() == ';' || equals == std::string_view::npos) {
        line.kind = LineKind::Other;
        return;
    }
    const std::string_view afterEquals = content.substr(equals + 1);
    line.kind = LineKind::Key;
    line.name = Trim(content.substr(0, equals));
    line.value = Trim(afterEquals);
    line.valueBegin = contentOffset + equals + 1 + (afterEquals.size() - TrimLeft(afterEquals).size());
}

// Reads the line at pos and moves pos to the next; false at the end of the text.
// Lines are read one at a time: a file of a million empty lines costs no memory.
bool NextLine(std::string_view text, std::size_t& pos, Line& line)
{
    if (pos == 0 && text.substr(0, kUtf8Bom.size()) == kUtf8Bom)
        pos = kUtf8Bom.size();
    if (pos >= text.size())
        return false;
    line = Line{};
    line.begin = pos;
    const auto newline = text.find('\n', pos);
    if (newline == std::string_view::npos) {
        line.end = line.next = text.size();
    } else {
        line.next = newline + 1;
        line.end = (newline > pos && text[newline - 1] == '\r') ? newline - 1 : newline;
    }
    Classify(text, line);
    pos = line.next;
    return true;
}

// The body of the first section called `name`, in bytes.
struct SectionSpan {
    std::size_t bodyBegin = 0; // after the header line
    std::size_t end = 0;       // at the next header, or the end of the text
    std::size_t insertAt = 0;  // after the last line of the section that is not blank
};

std::optional<SectionSpan> FindSection(std::string_view text, std::string_view name)
{
    std::optional<SectionSpan> span;
    std::size_t pos = 0;
    Line line;
    while (NextLine(text, pos, line)) {
        if (!span) {
            if (line.kind == LineKind::Section && EqualNoCase(line.name, name))
                span = SectionSpan{line.next, text.size(), line.next};
        } else if (line.kind == LineKind::Section) {
            span->end = line.begin;
            break;
        } else if (line.kind != LineKind::Blank) {
            span->insertAt = line.next;
        }
    }
    return span;
}

std::optional<Line> FindKey(std::string_view text, const SectionSpan& span, std::string_view key)
{
    std::size_t pos = span.bodyBegin;
    Line line;
    while (pos < span.end && NextLine(text, pos, line))
        if (line.kind == LineKind::Key && EqualNoCase(line.name, key))
            return line;
    return std::nullopt;
}

std::optional<std::string_view> FindValue(std::string_view text, std::string_view section,
                                          std::string_view key)
{
    section = Trim(section);
    key = Trim(key);
    if (section.empty() || key.empty())
        return std::nullopt;
    const auto span = FindSection(text, section);
    const auto line = span ? FindKey(text, *span, key) : std::nullopt;
    if (!line)
        return std::nullopt;
    return ValueText(line->value);
}

// RtlCharToInteger with base 0, which GetPrivateProfileInt relies on.
int ParseProfileInt(std::string_view s)
{
    std::size_t i = 0;
    while (i < s.size() && static_cast<unsigned char>(s[i]) <= ' ')
        ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        negative = s[i] == '-';
        ++i;
    }
    std::uint32_t base = 10;
    if (i + 1 < s.size() && s[i] == '0') {
        const char prefix = s[i + 1];
        base = prefix == 'x' ? 16 : prefix == 'o' ? 8 : prefix == 'b' ? 2 : 10;
        if (base != 10)
            i += 2;
    }
    std::uint32_t total = 0;
    for (; i < s.size(); ++i) {
        const char c = s[i];
        std::uint32_t digit = 36;
        if (c >= '0' && c <= '9')
            digit = static_cast<std::uint32_t>(c - '0');
        else if (c >= 'a' && c <= 'z')
            digit = static_cast<std::uint32_t>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'Z')
            digit = static_cast<std::uint32_t>(c - 'A' + 10);
        if (digit >= base)
            break;
        total = total * base + digit;
    }
    if (negative)
        total = 0u - total;
    return static_cast<int>(total);
}

bool HasAnyOf(std::string_view s, std::string_view forbidden)
{
    return s.find_first_of(forbidden) != std::string_view::npos;
}

std::string_view LineBreakOf(std::string_view text)
{
    const auto newline = text.find('\n');
    if (newline == std::string_view::npos)
        return kNativeLineBreak;
    return (newline > 0 && text[newline - 1] == '\r') ? "\r\n" : "\n";
}

// Inserts a whole line at pos, ending the line before it first when that one has no break.
void InsertLine(std::string& text, std::size_t pos, std::string_view content)
{
    const std::string lineBreak(LineBreakOf(text));
    const bool afterBomOnly = pos == kUtf8Bom.size() && text.compare(0, pos, kUtf8Bom) == 0;
    std::string insert;
    if (pos > 0 && text[pos - 1] != '\n' && !afterBomOnly)
        insert += lineBreak;
    insert.append(content);
    insert += lineBreak;
    text.insert(pos, insert);
}

QString QtPath(const std::filesystem::path& path)
{
#ifdef _WIN32
    return QString::fromStdWString(path.native());
#else
    return QFile::decodeName(QByteArray::fromStdString(path.native()));
#endif
}

} // namespace

ProfileFile::ProfileFile(std::filesystem::path path) : m_path(std::move(path))
{
    std::error_code ec;
    const auto status = std::filesystem::status(m_path, ec);
    if (!std::filesystem::exists(status))
        return;
    // A folder, a pipe or a device under our name is not a settings file: reading
    // a pipe would block, and nothing of it may be overwritten.
    const auto size = std::filesystem::file_size(m_path, ec);
    if (!std::filesystem::is_regular_file(status) || ec || size > kMaxFileSize) {
        m_readable = false;
        return;
    }
    std::ifstream in(m_path, std::ios::binary);
    // A read error (a failing disk) is thrown by the stream buffer, not flagged on the stream.
    try {
        m_text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    } catch (const std::ios_base::failure&) {
        in.setstate(std::ios::badbit);
    }
    if (!in.is_open() || in.bad()) {
        m_text.clear();
        m_readable = false;
    }
}

ProfileFile::~ProfileFile()
{
    Flush();
}

int ProfileFile::GetInt(std::string_view section, std::string_view key, int defaultValue) const
{
    const auto value = FindValue(m_text, section, key);
    if (!value || value->empty())
        return defaultValue;
    return ParseProfileInt(*value);
}

std::string ProfileFile::GetString(std::string_view section, std::string_view key,
                                   std::string_view defaultValue) const
{
    return std::string(FindValue(m_text, section, key).value_or(defaultValue));
}

std::vector<ProfileFile::Entry> ProfileFile::Entries(std::string_view section) const
{
    std::vector<Entry> entries;
    section = Trim(section);
    const auto span = section.empty() ? std::nullopt : FindSection(m_text, section);
    if (!span)
        return entries;
    std::set<std::string> seen;
    std::size_t pos = span->bodyBegin;
    Line line;
    while (pos < span->end && NextLine(m_text, pos, line)) {
        if (line.kind != LineKind::Key || line.name.empty())
            continue;
        std::string folded(line.name);
        std::transform(folded.begin(), folded.end(), folded.begin(), AsciiLower);
        if (seen.insert(std::move(folded)).second)
            entries.emplace_back(std::string(line.name), std::string(ValueText(line.value)));
    }
    return entries;
}

bool ProfileFile::WriteString(std::string_view section, std::string_view key, std::string_view value)
{
    using namespace std::string_view_literals;
    section = Trim(section);
    key = Trim(key);
    const auto lineBreaks = "\r\n\0"sv;
    if (!m_readable || section.empty() || key.empty() || HasAnyOf(section, lineBreaks)
        || section.find(']') != std::string_view::npos || HasAnyOf(key, lineBreaks)
        || key.find('=') != std::string_view::npos || key.front() == '[' || key.front() == ';'
        || HasAnyOf(value, lineBreaks))
        return false;

    const std::string keyLine = std::string(key) + '=' + std::string(value);
    const auto span = FindSection(m_text, section);
    const auto line = span ? FindKey(m_text, *span, key) : std::nullopt;
    if (!span) {
        InsertLine(m_text, m_text.size(), "[" + std::string(section) + "]");
        InsertLine(m_text, m_text.size(), keyLine);
    } else if (line) {
        const std::size_t length = line->end - line->valueBegin;
        if (m_text.compare(line->valueBegin, length, value) == 0)
            return true;
        m_text.replace(line->valueBegin, length, value);
    } else {
        InsertLine(m_text, span->insertAt, keyLine);
    }
    m_dirty = true;
    return true;
}

bool ProfileFile::Flush()
{
    if (!m_dirty)
        return true;
    std::error_code ec;
    if (m_path.has_parent_path())
        std::filesystem::create_directories(m_path.parent_path(), ec);
    // Written beside and renamed over the old file, so a failed write leaves the old
    // one whole; where the folder forbids new files, the file is written directly.
    QSaveFile out(QtPath(m_path));
    out.setDirectWriteFallback(true);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    const auto size = static_cast<qint64>(m_text.size());
    if (out.write(m_text.data(), size) != size) {
        out.cancelWriting();
        return false;
    }
    if (!out.commit())
        return false;
    m_dirty = false;
    return true;
}

} // namespace varnel
