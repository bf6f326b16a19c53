#include <gtest/gtest.h>
#include "CommandLine.h"

namespace {

struct SplitCase {
    const wchar_t* Line;
    std::vector<std::wstring> Words;  // program name first
    const wchar_t* Target;
};

TEST(CommandLine, SplitsAndJoinsTheTargetFolder) {
    const SplitCase cases[] = {
        {L"u.exe C:\\Program Files\\Velmora\\",
         {L"u.exe", L"C:\\Program", L"Files\\Velmora\\"},
         L"C:\\Program Files\\Velmora"},
        // The backslash does not protect the closing quote.
        {L"u.exe \"C:\\Program Files\\Velmora\\\"",
         {L"u.exe", L"C:\\Program Files\\Velmora\\"},
         L"C:\\Program Files\\Velmora"},
        {L"u.exe D:\\Velm\\\\", {L"u.exe", L"D:\\Velm\\\\"}, L"D:\\Velm\\"},
        {L"u.exe C:\\", {L"u.exe", L"C:\\"}, L"C:"},
        {L"u.exe  eins   zwei \t drei ", {L"u.exe", L"eins", L"zwei", L"drei"}, L"eins zwei drei"},
        {L"u.exe", {L"u.exe"}, L""},
        {L"\"C:\\Pro gramme\\u.exe\"", {L"C:\\Pro gramme\\u.exe"}, L""},
        // A quoted stretch may sit inside a word; an unclosed one runs to the end.
        {L"u.exe a\"b c\"d", {L"u.exe", L"ab cd"}, L"ab cd"},
        {L"u.exe \"x  y", {L"u.exe", L"x  y"}, L"x  y"},
        // Pairs of quotes where a word would begin are skipped; nothing is ever empty.
        {L"u.exe \"\" \"\"\"\" x", {L"u.exe", L"x"}, L"x"},
        {L"u.exe \"", {L"u.exe"}, L""},
        {L"u.exe \x01\x1f"
         L"a\x7f"
         L"b",
         {L"u.exe",
          L"a\x7f"
          L"b"},
         L"a\x7f"
         L"b"},
        {L"u.exe C:\\Schule\\\x03a9mega", {L"u.exe", L"C:\\Schule\\\x03a9mega"}, L"C:\\Schule\\\x03a9mega"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Line);
        const auto words = SplitCommandLine(c.Line);
        EXPECT_EQ(words, c.Words);
        EXPECT_EQ(JoinTargetDir(words), c.Target);
    }
}

}  // namespace
