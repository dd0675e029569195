// Archives are outside input: the extraction library, given any bytes as a
// zip archive, counts, matches and extracts FILE_ID.DIZ only into the
// destination folder, flat, never above the size limit, and leaves nothing
// else behind.
#include "FuzzSupport.h"

#include "platform/dunzip/UnzipBlock.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>

extern "C" int32_t dunzip(UnzipCommandBlock* block);

namespace
{

// Every path under `root` (relative, links not followed) with its kind and size.
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

bool EqualNoCase(const std::string& a, const char* b)
{
    if (a.size() != std::strlen(b))
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = char(x - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

int32_t Run(int32_t function, const std::string& zip, const std::string& dest, int32_t& count)
{
    UnzipCommandBlock block;
    std::memset(&block, 0, sizeof block);
    block.StructSize = int32_t(sizeof block);
    block.Function = function;
    block.lpszZipFile = zip.c_str();
    block.lpszFileSpec = "file_id.diz";
    block.lpszDestination = dest.c_str();
    block.OverWriteFlag = 1;
    block.QuietFlag = 1;
    block.Count = -7;
    const int32_t r = dunzip(&block);
    count = block.Count;
    return r;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The sandbox: the archive, a destination folder, and a neighbour folder
    // that a member named "../evil/FILE_ID.DIZ" would reach.
    static const std::string sandbox = [] {
        const std::string s = fuzz::ScratchFolder() + "/sandbox";
        ::mkdir(s.c_str(), 0755);
        ::mkdir((s + "/evil").c_str(), 0755);
        fuzz::WriteBytes(s + "/evil/keep.txt", reinterpret_cast<const uint8_t*>("keep"), 4);
        return s;
    }();
    const std::string zip = sandbox + "/input.zip";
    const std::string dest = sandbox + "/dest";
    fuzz::WriteBytes(zip, data, size);
    fuzz::RemoveTree(dest);
    FUZZ_CHECK(::mkdir(dest.c_str(), 0755) == 0);

    std::map<std::string, std::string> outsideBefore;
    ListTree(sandbox, "", outsideBefore);

    int32_t items = 0, matches = 0, extracted = 0;
    const int32_t r1 = Run(DZ_COUNT_ITEMS, zip, dest, items);
    const int32_t r3 = Run(DZ_COUNT_MATCHES, zip, dest, matches);
    const int32_t r8 = Run(DZ_EXTRACT, zip, dest, extracted);
    FUZZ_CHECK(r1 >= DZ_OK && r1 <= DZ_ERR_INDEX);
    FUZZ_CHECK(r3 >= DZ_OK && r3 <= DZ_ERR_INDEX);
    FUZZ_CHECK(r8 >= DZ_OK && r8 <= DZ_ERR_INDEX);
    // The three calls see the same archive.
    FUZZ_CHECK((r1 == DZ_ERR_OPEN) == (r3 == DZ_ERR_OPEN));
    FUZZ_CHECK((r1 == DZ_ERR_OPEN) == (r8 == DZ_ERR_OPEN));
    if (r1 == DZ_OK && r3 == DZ_OK) {
        FUZZ_CHECK(items >= 0 && matches >= 0 && matches <= items);
        if (matches == 0)
            FUZZ_CHECK(r8 == DZ_ERR_NOT_FOUND);
    }
    if (r8 == DZ_OK || (r8 != DZ_ERR_OPEN && r8 != DZ_ERR_NOT_FOUND && extracted != -7))
        FUZZ_CHECK(extracted >= 0 && (r3 != DZ_OK || extracted <= matches));

    // Inside the destination: only plain files named FILE_ID.DIZ (any case),
    // none above the limit, no temporary file left, no folder, no link.
    std::map<std::string, std::string> inside;
    ListTree(dest, "", inside);
    FUZZ_CHECK(int32_t(inside.size()) <= std::max<int32_t>(extracted, 0) || r8 != DZ_OK);
    for (const auto& [name, kind] : inside) {
        FUZZ_CHECK(kind[0] == 'f');
        FUZZ_CHECK(std::stoll(kind.substr(1)) <= DunzipMaxMemberSize);
        FUZZ_CHECK(EqualNoCase(name.substr(1), "file_id.diz"));
    }
    if (r8 != DZ_OK && r8 != DZ_ERR_DATA && r8 != DZ_ERR_TOO_LARGE && r8 != DZ_ERR_UNSUPPORTED &&
        r8 != DZ_ERR_NAME && r8 != DZ_ERR_LINK && r8 != DZ_ERR_WRITE)
        FUZZ_CHECK(inside.empty());

    // Outside the destination: nothing changed.
    std::map<std::string, std::string> outsideAfter;
    ListTree(sandbox, "", outsideAfter);
    for (auto it = outsideAfter.begin(); it != outsideAfter.end();) {
        if (it->first == "/dest" || it->first.rfind("/dest/", 0) == 0)
            it = outsideAfter.erase(it);
        else
            ++it;
    }
    for (auto it = outsideBefore.begin(); it != outsideBefore.end();) {
        if (it->first == "/dest" || it->first.rfind("/dest/", 0) == 0)
            it = outsideBefore.erase(it);
        else
            ++it;
    }
    FUZZ_CHECK(outsideAfter == outsideBefore);

    fuzz::RemoveTree(dest);
    return 0;
}
