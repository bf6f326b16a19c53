// Our profile writer against the platform's WritePrivateProfileStringW: the
// same starting file, written once by each, must give the same bytes.
#include <gtest/gtest.h>
#include "ProfileText.h"
#include "TestFiles.h"

using namespace vlmtest;

namespace {

std::string Utf16(const std::wstring& text, bool mark = true) {
    std::string bytes = mark ? std::string("\xFF\xFE") : std::string();
    for (wchar_t c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    return bytes;
}

std::string Utf16BigEndian(const std::wstring& text) {
    std::string bytes("\xFE\xFF");
    for (wchar_t c : text) {
        bytes += static_cast<char>(c >> 8);
        bytes += static_cast<char>(c & 0xFF);
    }
    return bytes;
}

// Printable bytes for a failure message.
std::string Shown(const std::optional<std::string>& bytes) {
    if (!bytes) return "<none>";
    std::string text;
    for (unsigned char c : *bytes) {
        char hex[8];
        if (c >= 0x20 && c < 0x7f && c != '\\') {
            text += static_cast<char>(c);
        } else {
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            text += hex;
        }
    }
    return text;
}

struct Case {
    const char* Name;
    std::optional<std::string> Before;
    ProfileValues Values;
};

const ProfileValues kRecord{
    {L"Erfolg", L"0"}, {L"Datum", L"11.12.2026"}, {L"Uhrzeit", L"16:20:05"}, {L"Vorversion", L"9.4.0.12"}};

TEST(ProfileWithValues, GivesTheBytesOfThePlatformsProfileWrite) {
    // clang-format off
    const Case cases[] = {
        {"no file", std::nullopt, kRecord},
        {"empty file", std::string(), kRecord},
        {"ANSI, the record of an earlier run", std::string("[Update]\r\nErfolg=0\r\nDatum=1.2.2025\r\nUhrzeit=10:00:00\r\nVorversion=9.2.0.15\r\n"), kRecord},
        {"ANSI with characters of the code page", std::string("[Eigen]\r\nOrt=M\xfcnchen \xe9t\xe9\r\n[Update]\r\nErfolg=1\r\n"), kRecord},
        {"UTF-16 with a byte-order mark", Utf16(L"[Eigen]\r\nA=\x03a9\x4e2d\r\n[Update]\r\nDatum=x\r\n"), kRecord},
        {"UTF-16 big-endian with a byte-order mark", Utf16BigEndian(L"[Update]\r\nErfolg=3\r\n"), kRecord},
        {"UTF-8 with a byte-order mark", std::string("\xEF\xBB\xBF[Eigen]\r\nA=\xc3\xa4\r\n"), kRecord},
        {"UTF-16 without a mark is read as ANSI", Utf16(L"[Update]\r\nErfolg=3\r\n", false), kRecord},
        {"other sections before and after", std::string("[Vorher]\r\nA=1\r\n\r\n[Update]\r\nErfolg=2\r\n\r\n[Nachher]\r\nB=2\r\n"), kRecord},
        {"keys and section in another letter case", std::string("[UPDATE]\r\nERFOLG=5\r\ndatum=x\r\nVorVersion=8\r\n"), kRecord},
        {"keys in another order stay where they are", std::string("[Update]\r\nVorversion=8\r\nUhrzeit=x\r\nErfolg=5\r\nDatum=y\r\n"), kRecord},
        {"no final line end", std::string("[Eigen]\r\nA=1\r\n[Update]\r\nErfolg=5"), kRecord},
        {"no final line end after a header", std::string("[Update]"), kRecord},
        {"line feeds only", std::string("[Eigen]\nA=1\n\n[Update]\nErfolg=5\n"), kRecord},
        {"carriage returns only", std::string("[Eigen]\rA=1\r[Update]\rErfolg=5\r"), kRecord},
        {"blanks around names, values and headers", std::string("  [ Update ]  \r\n\tErfolg \t=  7  \r\n Datum= \r\n"), kRecord},
        {"comments, lines without =, and = without a name", std::string("; Kommentar\r\n[Update]\r\nohne Gleich\r\n=a\r\n=b\r\n;Erfolg=9\r\n"), kRecord},
        {"keys before the first section", std::string("Frei=1\r\n[Eigen]\r\nA=1\r\n"), kRecord},
        {"the section twice: the first one gets the keys", std::string("[Update]\r\nErfolg=1\r\n[Eigen]\r\n[update]\r\nDatum=z\r\n"), kRecord},
        {"a key twice: the first one is set", std::string("[Update]\r\nErfolg=1\r\nErfolg=2\r\n"), kRecord},
        {"text after the header's bracket, and a bracket without an end", std::string("[Update] alt\r\n[Kaputt\r\nErfolg=1\r\n"), kRecord},
        {"an empty section name", std::string("[]\r\nA=1\r\n"), kRecord},
        {"DOS end-of-file mark", std::string("[Update]\r\nErfolg=1\r\n\x1a"), kRecord},
        {"values already as given: the file stays as it is", std::string("  [Update]\r\n\r\nErfolg = 0\r\n"), {{L"Erfolg", L"0"}}},
        {"a value with blanks before it", std::string("[Update]\r\nErfolg=1\r\n"), {{L"Erfolg", L"  4 "}}},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TempDir root(L"profile");
        const std::wstring platform = root / L"plattform.ini";
        const std::wstring ours = root / L"eigen.ini";
        if (c.Before) {
            WriteBytes(platform, *c.Before);
            WriteBytes(ours, *c.Before);
        }
        for (const auto& [key, value] : c.Values)
            ASSERT_TRUE(::WritePrivateProfileStringW(L"Update", key.c_str(), value.c_str(), platform.c_str()));
        ::WritePrivateProfileStringW(nullptr, nullptr, nullptr, platform.c_str());

        const std::optional<std::string> written = ProfileWithValues(c.Before, L"Update", c.Values);
        if (written) WriteBytes(ours, *written);
        const auto expected = ReadBytes(platform);
        const auto actual = ReadBytes(ours);
        EXPECT_EQ(actual, expected) << "platform: " << Shown(expected) << "\nours:     " << Shown(actual);
    }
}

}  // namespace
