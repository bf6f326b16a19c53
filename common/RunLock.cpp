// Only one updater works at a time: two runs at once would archive and empty
// the same folder, or write the same record, over each other.
#include "Fehler.h"
#include "UpdateRun.h"

namespace {
// Shared by both programs, in every session of the computer.
const wchar_t kRunLockName[] = L"Global\\VelmoraUpdater";
}  // namespace

bool UpdateRun::TryRunLock() {
    if (runLock_) return true;  // held since this program's first run
    unique_handle lock(::CreateMutexW(nullptr, FALSE, kRunLockName));
    if (!lock) RaiseError(L"Die Sperre gegen ein zweites Update kann nicht angelegt werden");
    // An abandoned lock belonged to an updater that was ended from outside:
    // what it left behind is taken up by the next start (its recovery).
    const DWORD state = ::WaitForSingleObject(lock.get(), 0);
    if (state != WAIT_OBJECT_0 && state != WAIT_ABANDONED) return false;
    runLock_ = std::move(lock);
    return true;
}

void UpdateRun::ReleaseRunLock() {
    if (runLock_) ::ReleaseMutex(runLock_.get());
    runLock_.reset();
}

int UpdateRun::PruefeAndereUpdates() {
    if (TryRunLock()) return StepOk;
    Window.ErrorBox(L"Ein anderes Velmora-Update l\u00e4uft bereits.\nDas Update wird abgebrochen!");
    return StepFailed;
}
