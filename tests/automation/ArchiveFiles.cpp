#include "ArchiveFiles.h"
#include <algorithm>
#include <stdexcept>
#include "SampleInstall.h"
#include "TestFiles.h"
#include "ZipReader.h"

namespace vlmtest {

std::map<std::wstring, std::string> FilesIn(const std::wstring& dir) {
    std::map<std::wstring, std::string> files;
    for (const auto& name : ListTree(dir)) files[name] = ReadBytes(dir + L"\\" + name).value();
    return files;
}

std::map<std::wstring, std::string> ArchiveContents(const std::wstring& path) {
    std::map<std::wstring, std::string> out;
    ZipReader zip(path);
    for (const auto& e : zip.Entries()) {
        std::string& content = out[e.WideName];
        const bool whole = zip.Extract(e, [&](const unsigned char* p, std::size_t n) {
            content.append(reinterpret_cast<const char*>(p), n);
            return true;
        });
        if (!whole) throw std::runtime_error("an archive entry cannot be read whole: " + WideToUtf8(e.WideName));
    }
    return out;
}

std::wstring EntryFileName(const std::wstring& entryName) {
    std::wstring name = entryName.substr(entryName.find(L'/') + 1);
    std::replace(name.begin(), name.end(), L'/', L'\\');
    return name;
}

std::map<std::wstring, std::string> FilesInArchive(const std::wstring& path) {
    std::map<std::wstring, std::string> files;
    for (auto& [name, content] : ArchiveContents(path)) files[EntryFileName(name)] = std::move(content);
    return files;
}

}  // namespace vlmtest
