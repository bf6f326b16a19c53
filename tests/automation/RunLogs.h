// What the runs write to the result log, and the registration the registered
// updater reads: shared by the step tests and the end-to-end tests.
#pragma once
#include <windows.h>
#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

namespace vlmtest {

inline const std::wstring kAbortLine = L"\nDas Update wird abgebrochen!";

inline const wchar_t kInstallPropertiesKey[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products\\"
    L"7D2E91B04C6A3F58E0B1D2C3A4958F76\\InstallProperties";
// The installer registers in the 64-bit view; a 32-bit process under WOW64
// reaches it only with this flag.
inline constexpr REGSAM kInstallerView = KEY_WOW64_64KEY;

// The backup part that both complete runs end with.
inline std::vector<std::wstring> BackupLog() {
    return {
        L"Sicherung der Formularkataloge ...",
        L"Sicherung Formularkataloge - OK",
        L"Sicherung der Formulierungshilfen wird erstellt ...",
        L"Sicherung Formulierungshilfen - OK",
        L"Sicherung des F\u00e4cherkanons wird erstellt ...",
        L"Sicherung F\u00e4cherkanon - OK",
        L"Sicherung der NKK-Dateien wird erstellt ...",
        L"Sicherung NKK-Dateien - OK",
    };
}

inline std::vector<std::wstring> WithBackupLog(std::vector<std::wstring> head) {
    const auto tail = BackupLog();
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

inline const std::vector<std::wstring> kDirectoryRunLog = WithBackupLog({
    L"Benutzeranzahl - OK",
    L"Die vorherige Velmora Installation wird gesichert ...",
    L"Velmora Sicherung - OK",
});

// What a run that ends with exit code 1 after the archive step adds.
inline const std::vector<std::wstring> kRestoreLog = {
    L"Die vorherige Velmora Installation wird wiederhergestellt ...",
    L"Velmora Wiederherstellung - OK",
};
inline const std::wstring kRestoreFailedLine = L"Fehler bei der Wiederherstellung des Alt-Programms";

// The first n lines of a run's log; all of it when n is larger, so that a
// count taken from what a run showed compares unequal instead of reading
// past the end.
inline std::vector<std::wstring> FirstLines(const std::vector<std::wstring>& log, size_t n) {
    return {log.begin(), log.begin() + static_cast<std::ptrdiff_t>(std::min(n, log.size()))};
}

// The log of a run that fails after its archive step emptied the program
// folder: the folder is put back before the program ends, or the restore
// reports that it could not finish.
inline std::vector<std::wstring> WithRestoreLog(std::vector<std::wstring> log, bool restored = true) {
    if (restored) {
        log.insert(log.end(), kRestoreLog.begin(), kRestoreLog.end());
    } else {
        log.push_back(kRestoreLog[0]);
        log.push_back(kRestoreFailedLine);
    }
    return log;
}

inline const std::vector<std::wstring> kRegisteredRunLog = WithBackupLog({
    L"Velmora-Datenpfad - OK",
    L"Velmora-Version - OK",
    L"Benutzeranzahl - OK",
});

}  // namespace vlmtest
