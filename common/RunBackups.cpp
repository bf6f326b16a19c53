// The backup part of both update runs.
#include "Haupt.h"

void TFHaupt::RunBackups() {
    struct Group {
        const wchar_t* Announcement;
        const wchar_t* Status;
        int (TFHaupt::*Step)();
        const wchar_t* Done;
    };
    // The form catalogues announce themselves in the log and the status line
    // with different texts; the other groups use one text for both.
    static const Group groups[] = {
        {L"Sicherung der Formularkataloge ...", L"Sicherung der Formularkataloge wird erstellt ...",
         &TFHaupt::BackupFormKatalog, L"Sicherung Formularkataloge - OK"},
        {L"Sicherung der Formulierungshilfen wird erstellt ...", L"Sicherung der Formulierungshilfen wird erstellt ...",
         &TFHaupt::BackupFormHilfePfad, L"Sicherung Formulierungshilfen - OK"},
        {L"Sicherung des F\u00e4cherkanons wird erstellt ...", L"Sicherung des F\u00e4cherkanons wird erstellt ...",
         &TFHaupt::BackupFaecherkanon, L"Sicherung F\u00e4cherkanon - OK"},
        {L"Sicherung der NKK-Dateien wird erstellt ...", L"Sicherung der NKK-Dateien wird erstellt ...",
         &TFHaupt::BackupNKK, L"Sicherung NKK-Dateien - OK"},
    };
    for (const Group& group : groups) {
        AddLogLine(group.Announcement);
        SetStatus(group.Status);
        if ((this->*group.Step)() != 0) EndWith(1);
        AddLogLinePaused(group.Done);
    }
}
