// File names in area folders and the names of file records, both ways, in
// one place for the server library and the program alike. No Qt: libwcsrv
// includes it too.
//
// A name on disk is a string of bytes (usually UTF-8, but any bytes but '/'
// and NUL); a record's Name is a string of 1 to 15 bytes. Neither side is
// decoded, so a record always means the one file the server opens for it:
//
// - Disk name to record name: the same bytes, with the ASCII letters a-z as
//   A-Z (record names are upper case). Every other byte stays as it is:
//   "CAFÉ.TXT" in UTF-8 is the nine bytes "CAF\xC3\x89.TXT", and "CAF\xC9.TXT"
//   (one byte 0xC9) is another name with another record. A name that can't
//   name a record's file is refused (ProblemOfFileName), never changed into
//   one that can.
// - Record name to disk file: the entry of exactly the record's bytes, else
//   the first entry, in byte order, whose name differs from it only in the
//   letter case of ASCII letters (FindInFolder).
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

namespace disknames
{

// The record's Name field holds 15 bytes and a terminating NUL.
inline constexpr std::size_t kMaxFileNameBytes = 15;

// Why a name cannot name a file in an area's folder.
enum class NameProblem {
    None,
    Empty,
    TooLong,     // more than kMaxFileNameBytes bytes
    ControlByte, // a byte below 0x20 or 0x7F: no record text or server path carries it
    Separator,   // '\' (the server path's separator) or '/'
    FolderName,  // "." or "..": the folder itself or its parent
};

inline NameProblem ProblemOfFileName(std::string_view name)
{
    if (name.empty())
        return NameProblem::Empty;
    if (name.size() > kMaxFileNameBytes)
        return NameProblem::TooLong;
    for (const char ch : name) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7f)
            return NameProblem::ControlByte;
        if (c == '/' || c == '\\')
            return NameProblem::Separator;
    }
    // Dots inside a name ("FILE..ZIP") are part of it; only the names of the
    // folder itself and of its parent lead elsewhere.
    if (name == "." || name == "..")
        return NameProblem::FolderName;
    return NameProblem::None;
}

inline bool IsFileName(std::string_view name)
{
    return ProblemOfFileName(name) == NameProblem::None;
}

inline char UpperAscii(char c)
{
    return c >= 'a' && c <= 'z' ? char(c - 32) : c;
}

inline char LowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c + 32) : c;
}

// The record name of a name on disk: ASCII letters in upper case, every
// other byte the same. Whether it can be one: ProblemOfFileName.
inline std::string RecordNameOfDiskName(std::string_view disk)
{
    std::string name(disk);
    for (char& c : name)
        c = UpperAscii(c);
    return name;
}

// True when the names differ at most in the letter case of ASCII letters:
// the names the server finds for one record name.
inline bool SameNameAnyCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (UpperAscii(a[i]) != UpperAscii(b[i]))
            return false;
    return true;
}

// The name with ASCII letters in lower case: equal for exactly the names
// SameNameAnyCase finds equal (a key for them).
inline std::string FoldedName(std::string_view name)
{
    std::string key(name);
    for (char& c : key)
        c = LowerAscii(c);
    return key;
}

// Of two entries that both stand for a record name in another letter case,
// the one the server takes: the first in byte order.
inline bool TakenBefore(std::string_view candidate, std::string_view current)
{
    return current.empty() || candidate < current;
}

// Looks for the other letter cases of `name` in the folder open as `dirFd`
// by name, an lstat each (relative to the folder, so the folder's path is
// not walked again for each), and puts the first in byte order that exists
// into `found`. False, having looked for none, when the name has more variants
// than that is worth in a folder of `folderBytes` bytes: reading a folder
// costs about a quarter of a look-up per entry, and an entry takes some 32
// bytes of the folder's size on the common file systems. A move into a
// large folder then costs a few look-ups instead of reading the folder.
inline bool FindVariantByName(int dirFd, std::string_view name, off_t folderBytes,
                              std::string& found)
{
    std::size_t letters[kMaxFileNameBytes];
    std::size_t count = 0;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (UpperAscii(name[i]) == LowerAscii(name[i]))
            continue;
        if (count == kMaxFileNameBytes)
            return false;
        letters[count++] = i;
    }
    const unsigned long variants = 1ul << count;
    // A folder of one block (4 KiB, the least most file systems give one)
    // is read as fast as a few look-ups are made.
    if (name.size() > kMaxFileNameBytes || off_t(variants) * 4 * 32 > folderBytes - 4096)
        return false;
    std::string candidate(name);
    for (unsigned long mask = 0; mask < variants; ++mask) {
        for (std::size_t i = 0; i < count; ++i) {
            char& c = candidate[letters[i]];
            c = (mask >> i) & 1 ? UpperAscii(c) : LowerAscii(c);
        }
        struct stat sb {
        };
        if (candidate != name && TakenBefore(candidate, found) &&
            ::fstatat(dirFd, candidate.c_str(), &sb, AT_SYMLINK_NOFOLLOW) == 0)
            found = candidate;
    }
    return true;
}

// The entry of the folder `dir` (a path ending in '/') that differs from
// `name` only in the letter case of ASCII letters, first in byte order;
// empty when there is none. The caller has looked for `name` itself.
inline std::string FindOtherCase(const std::string& dir, std::string_view name)
{
    std::string found;
    const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return found;
    struct stat sb {
    };
    if (::fstat(dirFd, &sb) == 0 && FindVariantByName(dirFd, name, sb.st_size, found)) {
        ::close(dirFd);
        return found;
    }
    // The folder is read through the descriptor already open (which
    // fdopendir takes over and closedir closes).
    if (DIR* d = ::fdopendir(dirFd)) {
        while (const dirent* e = ::readdir(d)) {
            const std::string_view entry(e->d_name);
            if (SameNameAnyCase(entry, name) && TakenBefore(entry, found))
                found = entry;
        }
        ::closedir(d);
    } else {
        ::close(dirFd);
    }
    return found;
}

// The disk path of the record name `name` in `folder`: the entry of exactly
// that name (whatever kind of entry it is), else the entry that differs
// from it only in ASCII letter case, first in byte order, else the path
// with the name as given. `exists` tells which. `otherCase(dir, name)`
// finds the entry in another letter case (FindOtherCase, or a faster way
// to the same answer).
template <class OtherCase>
std::string FindInFolderWith(const std::string& folder, std::string_view name, bool* exists,
                             OtherCase otherCase)
{
    std::string dir = folder;
    if (!dir.empty() && dir.back() != '/')
        dir += '/';
    const std::string exact = dir + std::string(name);
    struct stat sb {
    };
    if (::lstat(exact.c_str(), &sb) == 0) {
        if (exists)
            *exists = true;
        return exact;
    }
    const std::string found = otherCase(dir, name);
    if (exists)
        *exists = !found.empty();
    return found.empty() ? exact : dir + found;
}

inline std::string FindInFolder(const std::string& folder, std::string_view name, bool* exists)
{
    return FindInFolderWith(folder, name, exists, FindOtherCase);
}

} // namespace disknames
