// The logged-in user check: nothing is backed up or changed while anyone is
// still logged in to Velmora.
#include "UserCheck.h"
#include <cstdint>
#include "DataPaths.h"
#include "UpdateRun.h"

namespace {

int HexDigit(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

}  // namespace

int ReadUserZahl(const std::wstring& text) {
    constexpr int invalid = -1;
    size_t i = 0;
    const size_t n = text.size();
    while (i < n && text[i] == L' ') ++i;

    bool negative = false;
    if (i < n && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';

    bool hex = false;
    if (i < n && (text[i] == L'$' || text[i] == L'x' || text[i] == L'X')) {
        hex = true;
        ++i;
    } else if (i + 1 < n && text[i] == L'0' && (text[i + 1] == L'x' || text[i + 1] == L'X')) {
        hex = true;
        i += 2;
    }
    if (i == n) return invalid;  // no digits at all

    // The magnitude is gathered in 64 bits; the limits below keep it from overflowing.
    const uint64_t limit = hex ? 0xFFFFFFFFull : (negative ? 0x80000000ull : 0x7FFFFFFFull);
    uint64_t value = 0;
    for (; i < n; ++i) {
        const int digit = hex ? HexDigit(text[i]) : (text[i] >= L'0' && text[i] <= L'9' ? text[i] - L'0' : -1);
        if (digit < 0) return invalid;
        value = value * (hex ? 16 : 10) + static_cast<unsigned>(digit);
        if (value > limit) return invalid;
    }
    // Hexadecimal digits give a 32-bit pattern read as two's complement; the sign
    // then negates that, wrapping like the 32-bit arithmetic it stands for.
    uint32_t bits = static_cast<uint32_t>(value);
    if (negative) bits = 0u - bits;
    return static_cast<int32_t>(bits);
}

int UpdateRun::PruefeVLMUser() {
    // Only the registered-installation updater sets the flag (ini folder "001").
    if (Session.HasSubdir001) return StepOk;

    const std::wstring userFile = Session.DataDir + L"VelmUser.ini";
    if (ReadUserZahl(ReadProfileText(userFile, L"Benutzer", L"UserZahl")) != 0) {
        Window.ErrorBox(L"Es sind noch Anwender in Velmora angemeldet!\nDas Update wird abgebrochen!");
        return StepFailed;
    }
    return StepOk;
}
