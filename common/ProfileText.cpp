#include "ProfileText.h"
#include <windows.h>
#include <cstring>
#include <cwctype>

namespace {

enum class Encoding { Ansi, Utf8, Utf16, Utf16BigEndian };

constexpr char kUtf8Mark[] = "\xEF\xBB\xBF";

struct Key {
    std::wstring Name;
    std::optional<std::wstring> Value;  // none: a line without "="
};

struct Section {
    std::wstring Name;  // empty: the lines before the first header
    std::vector<Key> Keys;
};

// Blanks as the platform's profile functions see them: control characters
// from tab to carriage return, the DOS end-of-file mark, and the blank.
bool IsProfileSpace(wchar_t c) { return (c >= 0x09 && c <= 0x0d) || c == 0x1a || c == 0x20; }

void Trim(const wchar_t*& begin, const wchar_t*& end) {
    while (begin < end && IsProfileSpace(*begin)) ++begin;
    while (end > begin && IsProfileSpace(end[-1])) --end;
}

bool SameName(const std::wstring& a, const std::wstring& b) {
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

std::wstring Widen(UINT codePage, const char* bytes, std::size_t size) {
    if (size == 0) return {};
    const int n = ::MultiByteToWideChar(codePage, 0, bytes, static_cast<int>(size), nullptr, 0);
    std::wstring text(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) ::MultiByteToWideChar(codePage, 0, bytes, static_cast<int>(size), text.data(), n);
    return text;
}

std::string Narrow(UINT codePage, const std::wstring& text) {
    if (text.empty()) return {};
    const int n =
        ::WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        ::WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), bytes.data(), n, nullptr,
                              nullptr);
    return bytes;
}

std::wstring Utf16Text(const char* bytes, std::size_t size, bool bigEndian) {
    std::wstring text(size / 2, L'\0');
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto lo = static_cast<unsigned char>(bytes[2 * i + (bigEndian ? 1 : 0)]);
        const auto hi = static_cast<unsigned char>(bytes[2 * i + (bigEndian ? 0 : 1)]);
        text[i] = static_cast<wchar_t>(lo | (hi << 8));
    }
    return text;
}

Encoding EncodingOf(const std::string& bytes, std::size_t& markSize) {
    markSize = 0;
    if (bytes.size() >= 3 && bytes.compare(0, 3, kUtf8Mark) == 0) {
        markSize = 3;
        return Encoding::Utf8;
    }
    if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') {
        markSize = 2;
        return Encoding::Utf16;
    }
    if (bytes.size() >= 2 && bytes[0] == '\xFE' && bytes[1] == '\xFF') {
        markSize = 2;
        return Encoding::Utf16BigEndian;
    }
    return Encoding::Ansi;
}

std::wstring Decode(const std::string& bytes, Encoding encoding, std::size_t markSize) {
    const char* body = bytes.data() + markSize;
    const std::size_t size = bytes.size() - markSize;
    switch (encoding) {
    case Encoding::Utf8:
        return Widen(CP_UTF8, body, size);
    case Encoding::Utf16:
        return Utf16Text(body, size, false);
    case Encoding::Utf16BigEndian:
        return Utf16Text(body, size, true);
    case Encoding::Ansi:
        break;
    }
    return Widen(CP_ACP, body, size);
}

std::string Encode(const std::wstring& text, Encoding encoding) {
    std::string bytes;
    switch (encoding) {
    case Encoding::Ansi:
        return Narrow(CP_ACP, text);
    case Encoding::Utf8:
        return kUtf8Mark + Narrow(CP_UTF8, text);
    case Encoding::Utf16:
    case Encoding::Utf16BigEndian: {
        const bool big = encoding == Encoding::Utf16BigEndian;
        bytes.reserve(2 + 2 * text.size());
        auto put = [&bytes, big](wchar_t c) {
            const char lo = static_cast<char>(c & 0xFF), hi = static_cast<char>((c >> 8) & 0xFF);
            bytes += big ? hi : lo;
            bytes += big ? lo : hi;
        };
        put(0xFEFF);
        for (wchar_t c : text) put(c);
        return bytes;
    }
    }
    return bytes;
}

// The file's lines as the platform reads them: a line ends at a run of
// carriage returns and line feeds, is trimmed, and an empty one is dropped.
// A header is a line starting with "[" that has a "]"; the name lies between
// the first character and the last "]", trimmed. Every other line is a key,
// split at its first "=".
std::vector<Section> Parse(const std::wstring& text) {
    std::vector<Section> sections(1);
    const wchar_t* next = text.data();
    const wchar_t* const end = next + text.size();
    bool previousNamed = true;  // several lines without a name in a row keep only the first
    while (next < end) {
        const wchar_t* begin = next;
        while (next < end && *next != L'\n' && *next != L'\r') ++next;
        while (next < end && (*next == L'\n' || *next == L'\r')) ++next;
        const wchar_t* lineEnd = next;
        Trim(begin, lineEnd);
        if (begin >= lineEnd) continue;

        if (*begin == L'[') {
            const wchar_t* close = lineEnd;
            while (close > begin && close[-1] != L']') --close;
            if (close > begin) {
                const wchar_t* nameBegin = begin + 1;
                const wchar_t* nameEnd = close - 1;
                Trim(nameBegin, nameEnd);
                sections.push_back({std::wstring(nameBegin, nameEnd), {}});
                previousNamed = true;
                continue;
            }
        }

        const wchar_t* equals = begin;
        while (equals < lineEnd && *equals != L'=') ++equals;
        Key key;
        if (equals < lineEnd) {
            const wchar_t* nameEnd = equals;
            while (nameEnd > begin && IsProfileSpace(nameEnd[-1])) --nameEnd;
            const wchar_t* valueBegin = equals + 1;
            while (valueBegin < lineEnd && IsProfileSpace(*valueBegin)) ++valueBegin;
            key.Name.assign(begin, nameEnd);
            key.Value.emplace(valueBegin, lineEnd);
        } else {
            key.Name.assign(begin, lineEnd);
        }
        if (!key.Name.empty() || previousNamed) {
            previousNamed = !key.Name.empty();
            sections.back().Keys.push_back(std::move(key));
        }
    }
    return sections;
}

// The platform's names are C strings: a NUL inside one ends it.
std::wstring UpToNul(const std::wstring& text) { return text.substr(0, text.find(L'\0')); }

std::wstring Serialise(const std::vector<Section>& sections) {
    std::wstring text;
    for (const Section& section : sections) {
        if (!UpToNul(section.Name).empty()) text += L"[" + UpToNul(section.Name) + L"]\r\n";
        for (const Key& key : section.Keys) {
            text += UpToNul(key.Name);
            if (key.Value) text += L"=" + UpToNul(*key.Value);
            text += L"\r\n";
        }
    }
    return text;
}

// Sets one key; false when it already had that value.
bool Set(std::vector<Section>& sections, const std::wstring& sectionName, const std::wstring& keyName,
         const std::wstring& value) {
    Section* section = nullptr;
    for (Section& s : sections)
        if (!s.Name.empty() && SameName(s.Name, sectionName)) {
            section = &s;
            break;
        }
    if (!section) section = &sections.emplace_back(Section{sectionName, {}});
    for (Key& key : section->Keys)
        if (SameName(key.Name, keyName)) {
            if (key.Value == value) return false;
            key.Value = value;
            return true;
        }
    section->Keys.push_back({keyName, value});
    return true;
}

}  // namespace

std::optional<std::string> ProfileWithValues(const std::optional<std::string>& before, const std::wstring& section,
                                             const ProfileValues& values) {
    // Key by key, each from the bytes the last one left, as the platform's
    // calls do: a file written once need not read back as it was held (a
    // name with a NUL in it is written cut short, a line of its own left
    // empty), and the next call starts from what was written.
    std::optional<std::string> bytes = before;
    bool changed = false;
    for (const auto& [key, value] : values) {
        std::size_t markSize = 0;
        // A missing or empty file is written in the ANSI code page.
        const Encoding encoding = bytes ? EncodingOf(*bytes, markSize) : Encoding::Ansi;
        std::vector<Section> sections = bytes ? Parse(Decode(*bytes, encoding, markSize)) : std::vector<Section>(1);
        // The platform drops blanks before a value.
        const wchar_t* v = value.c_str();
        while (IsProfileSpace(*v)) ++v;
        if (!Set(sections, section, key, v)) continue;
        bytes = Encode(Serialise(sections), encoding);
        changed = true;
    }
    if (!changed) return std::nullopt;
    return bytes;
}
