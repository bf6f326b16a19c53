// The container of the previous-installation archive: the archive step writes
// it, the in-progress mark names it and the restore reads it only through
// these names, so another container is a writer and a reader of its own and
// this file.
#pragma once
#include "ZipReader.h"
#include "ZipWriter.h"

using ArchiveWriter = ZipWriter;  // AddFile(handle, size, path, name), Close()
using ArchiveReader = ZipReader;  // Entries(), Extract(entry, sink)
using ArchiveEntry = ZipEntry;    // WideName, Uncompressed, DosDate, DosTime, Attributes

// The archive's name in the program folder.
inline constexpr wchar_t kArchiveName[] = L"vlmaltinst.zip";
