// Archives of every kind are outside input: given any bytes, the
// description reader (libarchive for 7z, RAR, LHA, CAB, tar, ISO; the zip
// component for zip) writes at most the one description file, under its
// fixed name, inside the temporary folder, never above the size limit, and
// leaves everything outside that folder as it was.
#include "FuzzSupport.h"

#include "archive/ArchiveReader.h"
#include "archive/TUnzipFile.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>

extern "C" int32_t dunzip(UnzipCommandBlock* block);

namespace
{

void ListTree(const std::string& root, const std::string& rel,
              std::map<std::string, std::string>& out)
{
    DIR* d = ::opendir((root + rel).c_str());
    if (!d)
        return;
    while (const dirent* e = ::readdir(d)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0)
            continue;
        const std::string r = rel + "/" + e->d_name;
        struct stat st;
        if (::lstat((root + r).c_str(), &st) != 0)
            continue;
        out[r] = (S_ISDIR(st.st_mode)   ? "d"
                  : S_ISLNK(st.st_mode) ? "l"
                                        : "f") +
                 std::to_string(st.st_size);
        if (S_ISDIR(st.st_mode))
            ListTree(root, r, out);
    }
    ::closedir(d);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string sandbox = [] {
        const std::string s = fuzz::ScratchFolder() + "/sandbox";
        ::mkdir(s.c_str(), 0755);
        ::mkdir((s + "/evil").c_str(), 0755);
        fuzz::WriteBytes(s + "/evil/keep.txt", reinterpret_cast<const uint8_t*>("keep"), 4);
        fuzz::WriteBytes(s + "/FILE_ID.DIZ", reinterpret_cast<const uint8_t*>("mine"), 4);
        return s;
    }();
    static TUnzipFile unzip(nullptr, &dunzip);
    // Both names: a ".zip" name sends bytes of no kind to the zip component.
    static int round = 0;
    const std::string archive = sandbox + ((++round & 1) ? "/input.zip" : "/input.bin");
    const std::string temp = sandbox + "/temp";
    fuzz::WriteBytes(archive, data, size);
    fuzz::RemoveTree(temp);
    FUZZ_CHECK(::mkdir(temp.c_str(), 0755) == 0);

    std::map<std::string, std::string> before;
    ListTree(sandbox, "", before);

    const DescriptionExtraction r = ExtractArchiveDescription(QString::fromStdString(archive),
                                                              QString::fromStdString(temp), &unzip);

    FUZZ_CHECK(int(r.failure) >= int(DescriptionFailure::None) &&
               int(r.failure) <= int(DescriptionFailure::FolderFailed));
    FUZZ_CHECK(r.failure != DescriptionFailure::FolderFailed);
    FUZZ_CHECK(r.kindName == ArchiveKindName(r.kind));
    FUZZ_CHECK((r.failure == DescriptionFailure::ExtractFailed) ==
               (r.problem != ExtractProblem::None));
    if (r.failure == DescriptionFailure::UnreadableKind)
        FUZZ_CHECK(UnreadableKind(r.kind) && !r.kindName.isEmpty());

    // Inside the folder: the one description file when it worked, else nothing.
    std::map<std::string, std::string> inside;
    ListTree(temp, "", inside);
    if (r.ok()) {
        FUZZ_CHECK(inside.size() == 1);
        const auto& [name, kind] = *inside.begin();
        FUZZ_CHECK(name == "/file_id.diz" || name == "/desc.sdi");
        FUZZ_CHECK(kind[0] == 'f');
        FUZZ_CHECK(std::stoll(kind.substr(1)) <= ArchiveMemberMaxBytes);
        FUZZ_CHECK(r.path.toStdString() == temp + name);
    } else {
        FUZZ_CHECK(inside.empty());
        FUZZ_CHECK(r.path.isEmpty());
    }

    // Outside the folder: nothing changed.
    std::map<std::string, std::string> after;
    ListTree(sandbox, "", after);
    for (auto* m : {&before, &after})
        for (auto it = m->begin(); it != m->end();)
            it = (it->first == "/temp" || it->first.rfind("/temp/", 0) == 0) ? m->erase(it)
                                                                             : std::next(it);
    FUZZ_CHECK(after == before);
    fuzz::RemoveTree(temp);
    return 0;
}
