#include "ArchiveFiles.h"
#include <algorithm>
#include "SampleInstall.h"
#include "TestFiles.h"
#include "ZipReader.h"

namespace vlmtest {

std::map<std::wstring, std::string> FilesIn(const std::wstring& dir) {
    std::map<std::wstring, std::string> files;
    for (const auto& name : ListTree(dir)) files[name] = ReadBytes(dir + L"\\" + name).value();
    return files;
}

std::map<std::wstring, std::string> FilesInArchive(const std::wstring& path) {
    std::map<std::wstring, std::string> files;
    ZipReader zip(path);
    for (const auto& e : zip.Entries()) {
        std::string content;
        zip.Extract(e, [&](const unsigned char* p, std::size_t n) {
            content.append(reinterpret_cast<const char*>(p), n);
            return true;
        });
        std::wstring name = e.WideName.substr(e.WideName.find(L'/') + 1);
        std::replace(name.begin(), name.end(), L'/', L'\\');
        files[name] = content;
    }
    return files;
}

}  // namespace vlmtest
