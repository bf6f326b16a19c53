// The data backups: each listed data file is copied beside itself under the
// prefix "VLM_Bkp_", and the formulation aids into a sibling folder.
#pragma once
#include <string>
#include "Haupt.h"

// The step that copies a row of the table, and so the folder it lies in.
enum class BackupStep { FormKatalog, Faecherkanon, NKK };

struct BackupFile {
    const wchar_t* Name;  // spelled as the new backup copy is named
    BackupStep Step;
    std::wstring TFHaupt::*Folder;  // the UpdateSession field naming its folder
};

// The data files the backups copy, in the order they are copied. The platform
// finds each file whatever the letter case it is stored in.
inline constexpr BackupFile BackupFileTable[] = {
    {L"Formulare.dbf", BackupStep::FormKatalog, &TFHaupt::FormsDir},
    {L"Formulare.cdx", BackupStep::FormKatalog, &TFHaupt::FormsDir},
    {L"Beiblaetter.dbf", BackupStep::FormKatalog, &TFHaupt::FormsDir},
    {L"Beiblaetter.cdx", BackupStep::FormKatalog, &TFHaupt::FormsDir},
    {L"Deckblaetter.dbf", BackupStep::FormKatalog, &TFHaupt::FormsDir},
    {L"Deckblaetter.cdx", BackupStep::FormKatalog, &TFHaupt::FormsDir},
    {L"FAECHERKANON.dbf", BackupStep::Faecherkanon, &TFHaupt::DataDir},
    {L"FaecherKanon.cdx", BackupStep::Faecherkanon, &TFHaupt::DataDir},
    {L"NKK_FAECHER.DBF", BackupStep::NKK, &TFHaupt::NkkDir},
    {L"NKK_Faecher.CDX", BackupStep::NKK, &TFHaupt::NkkDir},
    {L"NKK_NOTEN.DBF", BackupStep::NKK, &TFHaupt::NkkDir},
    {L"NKK_Noten.CDX", BackupStep::NKK, &TFHaupt::NkkDir},
};

inline constexpr wchar_t BackupPrefix[] = L"VLM_Bkp_";

// What CopyFolder returns when its source folder does not exist: nothing
// was backed up. (The shell's DE_INVALIDFILES: the source or destination
// path was invalid.) Other failures return the platform's error code.
inline constexpr int CopyFolderSourceMissing = 0x7C;

// Makes the folder and every missing parent folder; an existing folder counts
// as made. False as soon as one level cannot be made.
bool ForceDirectories(const std::wstring& dir);
