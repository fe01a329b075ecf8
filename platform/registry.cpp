#include "platform/registry.h"

#include <cerrno>
#include <cstring>
#include <limits>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/last_error.h"
#include "platform/system_root.h"

namespace platform {

namespace {

constexpr std::uint8_t kUtf8Bom[] = {0xEF, 0xBB, 0xBF};
constexpr std::uint8_t kUtf16LeBom[] = {0xFF, 0xFE};
// The unit's export holds a handful of keys; anything this large is not one.
constexpr std::uint64_t kMaxRegistryFileBytes = 64ull * 1024 * 1024;
constexpr char32_t kReplacementCharacter = 0xFFFD;
constexpr char32_t kMaxCodePoint = 0x10FFFF;
constexpr char32_t kFirstHighSurrogate = 0xD800;
constexpr char32_t kFirstLowSurrogate = 0xDC00;
constexpr char32_t kLastLowSurrogate = 0xDFFF;
constexpr char32_t kFirstSupplementary = 0x10000;
constexpr std::size_t kDwordDigits = 8;
constexpr std::size_t kByteDigits = 2;

constexpr std::string_view kDwordPrefix = "dword:";
constexpr std::string_view kHexPrefix = "hex:";
constexpr std::string_view kTypedHexPrefix = "hex(";  // hex(2):, hex(7): ...
constexpr std::string_view kDeletion = "-";

using Bytes = std::vector<std::uint8_t>;

// --- Text helpers ---------------------------------------------------------

char FoldCase(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Registry names compare without regard to letter case (ASCII letters; other
// characters must be equal).
bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldCase(a[i]) != FoldCase(b[i])) {
            return false;
        }
    }
    return true;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (IsBlank(text.back()) || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return text;
}

std::string_view TrimBackslashes(std::string_view text) {
    while (!text.empty() && text.front() == '\\') {
        text.remove_prefix(1);
    }
    while (!text.empty() && text.back() == '\\') {
        text.remove_suffix(1);
    }
    return text;
}

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// 1 to maxDigits hex digits and nothing else.
std::optional<std::uint32_t> ParseHexNumber(std::string_view digits, std::size_t maxDigits) {
    if (digits.empty() || digits.size() > maxDigits) {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    for (char c : digits) {
        const int digit = HexDigitValue(c);
        if (digit < 0) {
            return std::nullopt;
        }
        value = (value << 4) | static_cast<std::uint32_t>(digit);
    }
    return value;
}

void AppendUtf8(std::string& out, char32_t codePoint) {
    if (codePoint < 0x80) {
        out.push_back(static_cast<char>(codePoint));
    } else if (codePoint < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else if (codePoint < kFirstSupplementary) {
        out.push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (codePoint >> 18)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    }
}

// UTF-16LE (after its byte-order mark) to UTF-8. A lone surrogate becomes
// U+FFFD; an odd last byte is dropped.
std::string Utf16LeToUtf8(const std::uint8_t* bytes, std::size_t length) {
    std::string out;
    out.reserve(length / 2);
    const std::size_t units = length / 2;
    const auto unitAt = [bytes](std::size_t index) {
        return static_cast<char32_t>(bytes[2 * index] | (bytes[2 * index + 1] << 8));
    };
    for (std::size_t i = 0; i < units; ++i) {
        const char32_t unit = unitAt(i);
        if (unit >= kFirstHighSurrogate && unit < kFirstLowSurrogate && i + 1 < units) {
            const char32_t next = unitAt(i + 1);
            if (next >= kFirstLowSurrogate && next <= kLastLowSurrogate) {
                AppendUtf8(out, kFirstSupplementary + ((unit - kFirstHighSurrogate) << 10) +
                                    (next - kFirstLowSurrogate));
                ++i;
                continue;
            }
        }
        const bool surrogate = unit >= kFirstHighSurrogate && unit <= kLastLowSurrogate;
        AppendUtf8(out, surrogate ? kReplacementCharacter : unit);
    }
    return out;
}

// Decodes one UTF-8 character at text[position] and advances position. An
// invalid sequence (bad lead or continuation byte, overlong form, surrogate,
// beyond U+10FFFF) gives U+FFFD for its first byte.
char32_t NextCodePoint(std::string_view text, std::size_t& position) {
    const auto lead = static_cast<unsigned char>(text[position]);
    std::size_t length = 0;
    char32_t codePoint = 0;
    char32_t smallest = 0;
    if (lead < 0x80) {
        ++position;
        return lead;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2;
        codePoint = lead & 0x1F;
        smallest = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        codePoint = lead & 0x0F;
        smallest = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        codePoint = lead & 0x07;
        smallest = kFirstSupplementary;
    } else {
        ++position;
        return kReplacementCharacter;
    }
    if (position + length > text.size()) {
        ++position;
        return kReplacementCharacter;
    }
    for (std::size_t i = 1; i < length; ++i) {
        const auto continuation = static_cast<unsigned char>(text[position + i]);
        if ((continuation & 0xC0) != 0x80) {
            ++position;
            return kReplacementCharacter;
        }
        codePoint = (codePoint << 6) | (continuation & 0x3F);
    }
    if (codePoint < smallest || codePoint > kMaxCodePoint ||
        (codePoint >= kFirstHighSurrogate && codePoint <= kLastLowSurrogate)) {
        ++position;
        return kReplacementCharacter;
    }
    position += length;
    return codePoint;
}

// The stored form of a text value: UTF-16LE and a 16-bit zero.
Bytes StoredText(std::string_view text) {
    Bytes out;
    out.reserve(2 * text.size() + 2);
    const auto appendUnit = [&out](char32_t unit) {
        out.push_back(static_cast<std::uint8_t>(unit & 0xFF));
        out.push_back(static_cast<std::uint8_t>((unit >> 8) & 0xFF));
    };
    std::size_t position = 0;
    while (position < text.size()) {
        const char32_t codePoint = NextCodePoint(text, position);
        if (codePoint >= kFirstSupplementary) {
            const char32_t offset = codePoint - kFirstSupplementary;
            appendUnit(kFirstHighSurrogate + (offset >> 10));
            appendUnit(kFirstLowSurrogate + (offset & 0x3FF));
        } else {
            appendUnit(codePoint);
        }
    }
    appendUnit(0);
    return out;
}

// --- Line parsing ---------------------------------------------------------

// A quoted text at the start of text ("...", with \" and \\ escapes). On
// success *rest is what follows the closing quote. Nothing when unterminated.
std::optional<std::string> ParseQuoted(std::string_view text, std::string_view* rest) {
    if (text.empty() || text.front() != '"') {
        return std::nullopt;
    }
    std::string out;
    for (std::size_t i = 1; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"') {
            *rest = text.substr(i + 1);
            return out;
        }
        if (c == '\\' && i + 1 < text.size() && (text[i + 1] == '"' || text[i + 1] == '\\')) {
            out.push_back(text[++i]);
            continue;
        }
        out.push_back(c);  // any other backslash stays as written
    }
    return std::nullopt;
}

// "41,00, 42" -> those bytes. Each item is one or two hex digits; a single
// trailing comma (left by a joined continuation) is accepted.
std::optional<Bytes> ParseHexList(std::string_view list) {
    Bytes out;
    list = Trim(list);
    if (list.empty()) {
        return out;
    }
    if (list.back() == ',') {
        list.remove_suffix(1);
    }
    while (true) {
        const std::size_t comma = list.find(',');
        const std::optional<std::uint32_t> value =
            ParseHexNumber(Trim(list.substr(0, comma)), kByteDigits);
        if (!value) {
            return std::nullopt;
        }
        out.push_back(static_cast<std::uint8_t>(*value));
        if (comma == std::string_view::npos) {
            return out;
        }
        list.remove_prefix(comma + 1);
    }
}

enum class ValueAction { kStore, kDelete, kMalformed };

struct ParsedData {
    ValueAction action = ValueAction::kMalformed;
    Bytes bytes;
};

// The part after '=' of a value line.
ParsedData ParseValueData(std::string_view data) {
    ParsedData parsed;
    if (!data.empty() && data.front() == '"') {
        std::string_view rest;
        std::optional<std::string> text = ParseQuoted(data, &rest);
        if (text && Trim(rest).empty()) {
            parsed.bytes = StoredText(*text);
            parsed.action = ValueAction::kStore;
        }
        return parsed;
    }
    if (data == kDeletion) {
        parsed.action = ValueAction::kDelete;
        return parsed;
    }
    if (StartsWithNoCase(data, kDwordPrefix)) {
        const std::optional<std::uint32_t> value =
            ParseHexNumber(Trim(data.substr(kDwordPrefix.size())), kDwordDigits);
        if (value) {
            for (int shift = 0; shift < 32; shift += 8) {  // little-endian
                parsed.bytes.push_back(static_cast<std::uint8_t>((*value >> shift) & 0xFF));
            }
            parsed.action = ValueAction::kStore;
        }
        return parsed;
    }
    std::string_view list;
    if (StartsWithNoCase(data, kHexPrefix)) {
        list = data.substr(kHexPrefix.size());
    } else if (StartsWithNoCase(data, kTypedHexPrefix)) {
        // hex(<type>): the type is not looked at, the bytes are taken as they are.
        const std::string_view typed = data.substr(kTypedHexPrefix.size());
        const std::size_t close = typed.find("):");
        if (close == std::string_view::npos ||
            !ParseHexNumber(typed.substr(0, close), kDwordDigits)) {
            return parsed;
        }
        list = typed.substr(close + 2);
    } else {
        return parsed;
    }
    std::optional<Bytes> bytes = ParseHexList(list);
    if (bytes) {
        parsed.bytes = std::move(*bytes);
        parsed.action = ValueAction::kStore;
    }
    return parsed;
}

// Splits a value line into its name ("" for the default value '@') and the
// data after '='. Nothing for a malformed line.
bool SplitValueLine(std::string_view line, std::string* name, std::string_view* data) {
    std::string_view rest;
    if (line.front() == '@') {
        name->clear();
        rest = line.substr(1);
    } else {
        std::optional<std::string> quoted = ParseQuoted(line, &rest);
        if (!quoted) {
            return false;
        }
        *name = std::move(*quoted);
    }
    rest = Trim(rest);
    if (rest.empty() || rest.front() != '=') {
        return false;
    }
    *data = Trim(rest.substr(1));
    return true;
}

// "HKEY_LOCAL_MACHINE\SoftWare\Tovren\Os" against the hive and key path asked for.
bool KeyEquals(std::string_view fullKey, std::string_view hive, std::string_view keyPath) {
    const std::size_t separator = fullKey.find('\\');
    const std::string_view keyHive = fullKey.substr(0, separator);
    const std::string_view path =
        separator == std::string_view::npos ? std::string_view() : fullKey.substr(separator + 1);
    return EqualsNoCase(keyHive, hive) && EqualsNoCase(TrimBackslashes(path), keyPath);
}

// True when deleting deletedKey removes the key asked for (it or an ancestor).
bool DeletionCovers(std::string_view deletedKey, std::string_view hive, std::string_view keyPath) {
    deletedKey = TrimBackslashes(deletedKey);
    if (KeyEquals(deletedKey, hive, keyPath)) {
        return true;
    }
    std::string wanted;
    wanted.reserve(hive.size() + 1 + keyPath.size());
    wanted.append(hive).append("\\").append(keyPath);
    return wanted.size() > deletedKey.size() && wanted[deletedKey.size()] == '\\' &&
           EqualsNoCase(std::string_view(wanted).substr(0, deletedKey.size()), deletedKey);
}

// Walks the lines of an export (as UTF-8) and keeps the last definition of
// the value; later lines override earlier ones, as an import would.
class CExportReader {
public:
    CExportReader(std::string_view text, std::string_view hive, std::string_view keyPath,
                  std::string_view valueName)
        : m_text(text), m_hive(hive), m_keyPath(TrimBackslashes(keyPath)), m_valueName(valueName) {}

    std::optional<Bytes> Run() {
        std::string logical;
        while (NextLine(&logical)) {
            const std::string_view line = Trim(logical);
            if (line.empty()) {
                continue;
            }
            if (line.front() == '[') {
                HandleKeyLine(line);
            } else if (line.front() == '"' || line.front() == '@') {
                HandleValueLine(line);
            }
            // Anything else (the header, ';' comments, garbage) is skipped.
        }
        return std::move(m_value);
    }

private:
    // The next physical line, without its line end.
    bool NextPhysicalLine(std::string_view* line) {
        if (m_position >= m_text.size()) {
            return false;
        }
        const std::size_t end = m_text.find('\n', m_position);
        const std::size_t stop = end == std::string_view::npos ? m_text.size() : end;
        *line = m_text.substr(m_position, stop - m_position);
        m_position = stop == m_text.size() ? stop : stop + 1;
        return true;
    }

    // The next logical line: a value line ending in '\' goes on in the next
    // line (long hex values are written that way).
    bool NextLine(std::string* logical) {
        std::string_view line;
        if (!NextPhysicalLine(&line)) {
            return false;
        }
        // Trimmed at once, so that joining many continuation lines stays linear.
        logical->assign(Trim(line));
        std::string_view trimmed = *logical;
        if (trimmed.empty() || (trimmed.front() != '"' && trimmed.front() != '@')) {
            return true;
        }
        while (!trimmed.empty() && trimmed.back() == '\\') {
            logical->resize(trimmed.size() - 1);  // drop the '\'
            if (!NextPhysicalLine(&line)) {
                break;  // the file ends in a continuation: take what came
            }
            logical->append(Trim(line));
            trimmed = Trim(*logical);
        }
        return true;
    }

    void HandleKeyLine(std::string_view line) {
        m_inWantedKey = false;
        if (line.size() < 2 || line.back() != ']') {
            return;  // malformed: its values go nowhere until the next good key line
        }
        std::string_view key = line.substr(1, line.size() - 2);
        if (!key.empty() && key.front() == '-') {
            if (DeletionCovers(key.substr(1), m_hive, m_keyPath)) {
                m_value.reset();
            }
            return;
        }
        m_inWantedKey = KeyEquals(TrimBackslashes(key), m_hive, m_keyPath);
    }

    void HandleValueLine(std::string_view line) {
        if (!m_inWantedKey) {
            return;
        }
        std::string name;
        std::string_view data;
        if (!SplitValueLine(line, &name, &data) || !EqualsNoCase(name, m_valueName)) {
            return;
        }
        ParsedData parsed = ParseValueData(data);
        if (parsed.action == ValueAction::kStore) {
            m_value = std::move(parsed.bytes);
        } else if (parsed.action == ValueAction::kDelete) {
            m_value.reset();
        }
    }

    std::string_view m_text;
    std::size_t m_position = 0;
    std::string_view m_hive;
    std::string_view m_keyPath;
    std::string_view m_valueName;
    bool m_inWantedKey = false;
    std::optional<Bytes> m_value;
};

bool HasPrefix(const std::uint8_t* bytes, std::size_t length, const std::uint8_t* prefix,
               std::size_t prefixLength) {
    return length >= prefixLength && std::memcmp(bytes, prefix, prefixLength) == 0;
}

std::optional<Bytes> FindValue(const std::uint8_t* bytes, std::size_t length, std::string_view hive,
                               std::string_view keyPath, std::string_view valueName) {
    std::string decoded;
    std::string_view text;
    if (HasPrefix(bytes, length, kUtf16LeBom, sizeof kUtf16LeBom)) {
        decoded = Utf16LeToUtf8(bytes + sizeof kUtf16LeBom, length - sizeof kUtf16LeBom);
        text = decoded;
    } else if (HasPrefix(bytes, length, kUtf8Bom, sizeof kUtf8Bom)) {
        text = std::string_view(reinterpret_cast<const char*>(bytes) + sizeof kUtf8Bom,
                                length - sizeof kUtf8Bom);
    } else if (length > 0) {
        text = std::string_view(reinterpret_cast<const char*>(bytes), length);
    }
    return CExportReader(text, hive, keyPath, valueName).Run();
}

}  // namespace

bool RegistryQueryValueInExport(const std::uint8_t* bytes, std::size_t length,
                                std::string_view hive, std::string_view keyPath,
                                std::string_view valueName, void* buffer, std::uint32_t* size) {
    if ((bytes == nullptr && length > 0) || buffer == nullptr || size == nullptr) {
        SetLastError(EINVAL);
        return false;
    }
    std::optional<Bytes> value;
    try {
        value = FindValue(bytes, length, hive, keyPath, valueName);
    } catch (const std::bad_alloc&) {
        SetLastError(ENOMEM);
        return false;
    } catch (const std::length_error&) {
        SetLastError(ENOMEM);
        return false;
    }
    if (!value) {
        SetLastError(ENOENT);
        return false;
    }
    if (value->size() > *size) {
        SetLastError(ERANGE);  // too large for the caller: the buffer stays as it was
        return false;
    }
    if (!value->empty()) {
        std::memcpy(buffer, value->data(), value->size());
    }
    *size = static_cast<std::uint32_t>(value->size());
    return true;
}

bool RegistryQueryValue(std::string_view hive, std::string_view keyPath, std::string_view valueName,
                        void* buffer, std::uint32_t* size) {
    std::vector<std::uint8_t> contents;
    try {
        const std::string path = RootedPath(kRegistryFile);
        const std::optional<std::uint64_t> fileSize = GetFileSize(path);
        if (!fileSize) {
            return false;  // GetFileSize set the error
        }
        if (*fileSize > kMaxRegistryFileBytes) {
            SetLastError(EFBIG);
            return false;
        }
        if (!ReadWholeFile(path, contents)) {
            return false;
        }
    } catch (const std::bad_alloc&) {
        SetLastError(ENOMEM);
        return false;
    }
    if (contents.size() > kMaxRegistryFileBytes) {
        SetLastError(EFBIG);  // it grew between the two looks
        return false;
    }
    return RegistryQueryValueInExport(contents.data(), contents.size(), hive, keyPath, valueName,
                                      buffer, size);
}

}  // namespace platform
