// libdunzip: the extraction library behind the program's zip component.
// One entry, `dunzip`, takes the parameter block of UnzipBlock.h.
//
// Archives are outside input. Members are matched and written only by the
// last part of their name (after '/' or '\'), links are never followed or
// created, members are read with a hard size limit whatever the header
// claims, and every file is written under a temporary name in the
// destination folder and renamed into place.
#include "platform/dunzip/UnzipBlock.h"

#include <zip.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace
{

constexpr uint32_t UnixFileTypeMask = 0170000;
constexpr uint32_t UnixLink = 0120000;
constexpr uint32_t UnixDirectory = 0040000;

// The part of a member name after its last '/' or '\'.
std::string LastPart(const char* name)
{
    const char* last = name;
    for (const char* p = name; *p; ++p)
        if (*p == '/' || *p == '\\')
            last = p + 1;
    return std::string(last);
}

char LowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

// '*' and '?' wildcards, ASCII letters compared without regard to case.
bool WildMatch(const char* pattern, const char* text)
{
    const char* star = nullptr;
    const char* resume = nullptr;
    while (*text) {
        if (*pattern == '*') {
            star = pattern++;
            resume = text;
        } else if (*pattern == '?' || (*pattern && LowerAscii(*pattern) == LowerAscii(*text))) {
            ++pattern;
            ++text;
        } else if (star) {
            pattern = star + 1;
            text = ++resume;
        } else {
            return false;
        }
    }
    while (*pattern == '*')
        ++pattern;
    return *pattern == '\0';
}

class Archive
{
public:
    ~Archive()
    {
        if (m_zip)
            zip_discard(m_zip);
    }
    bool Open(const char* path)
    {
        if (!path || !*path)
            return false;
        int error = 0;
        m_zip = zip_open(path, ZIP_RDONLY, &error);
        return m_zip != nullptr;
    }
    zip_t* get() const { return m_zip; }
    int64_t Entries() const { return zip_get_num_entries(m_zip, 0); }
    const char* RawName(zip_uint64_t index) const
    {
        return zip_get_name(m_zip, index, ZIP_FL_ENC_RAW);
    }
    uint32_t UnixType(zip_uint64_t index) const
    {
        zip_uint8_t opsys = 0;
        zip_uint32_t attributes = 0;
        if (zip_file_get_external_attributes(m_zip, index, 0, &opsys, &attributes) != 0)
            return 0;
        if (opsys != ZIP_OPSYS_UNIX)
            return 0;
        return (attributes >> 16) & UnixFileTypeMask;
    }
    bool IsDirectory(zip_uint64_t index) const
    {
        const char* name = RawName(index);
        if (!name)
            return true;
        const std::size_t len = std::strlen(name);
        if (len > 0 && (name[len - 1] == '/' || name[len - 1] == '\\'))
            return true;
        return UnixType(index) == UnixDirectory;
    }

private:
    zip_t* m_zip = nullptr;
};

// The file members whose last name part matches the block's file spec
// (every file member when there is none).
std::vector<zip_uint64_t> Matches(const Archive& archive, const char* fileSpec)
{
    std::vector<zip_uint64_t> out;
    const std::string pattern = (fileSpec && *fileSpec) ? LastPart(fileSpec) : std::string("*");
    const int64_t n = archive.Entries();
    for (int64_t i = 0; i < n; ++i) {
        if (archive.IsDirectory(zip_uint64_t(i)))
            continue;
        const char* name = archive.RawName(zip_uint64_t(i));
        if (name && WildMatch(pattern.c_str(), LastPart(name).c_str()))
            out.push_back(zip_uint64_t(i));
    }
    return out;
}

bool Cancelled(DzStatusProc proc, void* user, const char* item, int32_t percent)
{
    return proc && proc(item, percent, user) != 0;
}

// The failure kind of a libzip error code.
int32_t FailureOfZipError(int code)
{
    switch (code) {
    case ZIP_ER_CRC:
        return DZ_FAIL_CRC;
    case ZIP_ER_ZLIB:
    case ZIP_ER_COMPRESSED_DATA:
    case ZIP_ER_INCONS:
        return DZ_FAIL_DECODE;
    case ZIP_ER_EOF:
        return DZ_FAIL_SHORT;
    case ZIP_ER_READ:
    case ZIP_ER_SEEK:
        return DZ_FAIL_READ;
    case ZIP_ER_ENCRNOTSUPP:
    case ZIP_ER_NOPASSWD:
    case ZIP_ER_WRONGPASSWD:
        return DZ_FAIL_ENCRYPTED;
    case ZIP_ER_COMPNOTSUPP:
        return DZ_FAIL_METHOD;
    default:
        return DZ_FAIL_OTHER;
    }
}

// Reads one member whole. Kept data (extraction) is never more than
// DunzipMaxMemberSize bytes; a test keeps nothing and reads any size, so
// the CRC check at the member's end is reached. `failure` gets the
// DunzipFailure of a failed read.
int32_t ReadMember(const Archive& archive, zip_uint64_t index, const UnzipCommandBlock& block,
                   std::string& data, bool keep, int32_t& failure)
{
    failure = DZ_FAIL_OTHER;
    if (archive.UnixType(index) == UnixLink) {
        failure = DZ_FAIL_LINK;
        return DZ_ERR_LINK;
    }
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(archive.get(), index, 0, &st) != 0)
        return DZ_ERR_DATA;
    if ((st.valid & ZIP_STAT_ENCRYPTION_METHOD) && st.encryption_method != ZIP_EM_NONE) {
        failure = DZ_FAIL_ENCRYPTED;
        return DZ_ERR_UNSUPPORTED;
    }
    if ((st.valid & ZIP_STAT_COMP_METHOD) && !zip_compression_method_supported(st.comp_method, 0)) {
        failure = DZ_FAIL_METHOD;
        return DZ_ERR_UNSUPPORTED;
    }
    if (keep && (st.valid & ZIP_STAT_SIZE) && st.size > zip_uint64_t(DunzipMaxMemberSize))
        return DZ_ERR_TOO_LARGE;

    zip_file_t* file = zip_fopen_index(archive.get(), index, 0);
    if (!file) {
        const int code = zip_error_code_zip(zip_get_error(archive.get()));
        failure = FailureOfZipError(code);
        return (code == ZIP_ER_COMPNOTSUPP || code == ZIP_ER_ENCRNOTSUPP || code == ZIP_ER_NOPASSWD)
                   ? DZ_ERR_UNSUPPORTED
                   : DZ_ERR_DATA;
    }
    data.clear();
    char buffer[8192];
    int32_t result = DZ_OK;
    zip_uint64_t read = 0;
    for (;;) {
        const zip_int64_t got = zip_fread(file, buffer, sizeof buffer);
        if (got < 0) {
            failure = FailureOfZipError(zip_error_code_zip(zip_file_get_error(file)));
            result = DZ_ERR_DATA;
            break;
        }
        if (got == 0)
            break;
        read += zip_uint64_t(got);
        if (keep) {
            // The header's size is not trusted: the limit holds for what is read.
            if (int64_t(data.size()) + got > DunzipMaxMemberSize) {
                result = DZ_ERR_TOO_LARGE;
                break;
            }
            data.append(buffer, std::size_t(got));
        }
        const int32_t percent =
            st.size ? int32_t(std::min<zip_uint64_t>(100, read * 100 / st.size)) : 100;
        if (Cancelled(block.lpMinorStatus, block.lpMinorUserData, archive.RawName(index),
                      percent)) {
            result = DZ_ERR_CANCELLED;
            break;
        }
    }
    zip_fclose(file);
    return result;
}

bool WriteAll(int fd, const std::string& data)
{
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += std::size_t(n);
    }
    return true;
}

bool Exists(const std::string& path)
{
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

// Writes `data` as `name` into `folder` through a temporary file that is
// renamed into place; a link of that name is replaced, not followed.
int32_t WriteMember(const UnzipCommandBlock& block, const std::string& name,
                    const std::string& data)
{
    if (name.empty() || name == "." || name == "..")
        return DZ_ERR_NAME;
    std::string folder = block.lpszDestination;
    if (folder.empty())
        return DZ_ERR_ARGUMENT;
    if (folder.back() != '/')
        folder += '/';
    const std::string target = folder + name;
    struct stat st;
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return DZ_ERR_WRITE;

    if (!block.OverWriteFlag && Exists(target)) {
        // Without overwrite, a quiet run keeps the existing file; otherwise
        // the caller's message callback decides (1 = replace).
        int32_t answer = 0;
        if (!block.QuietFlag && block.lpMessageDisplay)
            answer = block.lpMessageDisplay(DZ_MSG_REPLACE, 0, 0, 0, name.c_str(), target.c_str(),
                                            block.lpMessageDisplayData);
        if (answer != 1)
            return DZ_OK;
    }

    std::string temp = folder + ".dunzip-XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        return DZ_ERR_WRITE;
    bool ok = WriteAll(fd, data);
    ok = (::fchmod(fd, 0644) == 0) && ok;
    ok = (::close(fd) == 0) && ok;
    if (ok && ::rename(temp.c_str(), target.c_str()) == 0)
        return DZ_OK;
    ::unlink(temp.c_str());
    return DZ_ERR_WRITE;
}

int32_t Extract(const Archive& archive, UnzipCommandBlock& block, bool write)
{
    if (write && !block.lpszDestination)
        return DZ_ERR_ARGUMENT;
    const std::vector<zip_uint64_t> members = Matches(archive, block.lpszFileSpec);
    if (members.empty())
        return DZ_ERR_NOT_FOUND;
    int32_t result = DZ_OK;
    int32_t done = 0;
    const int32_t total = int32_t(members.size());
    for (zip_uint64_t index : members) {
        const char* rawName = archive.RawName(index);
        if (Cancelled(block.lpMajorStatus, block.lpMajorUserData, rawName, done * 100 / total))
            return DZ_ERR_CANCELLED;
        std::string data;
        int32_t failure = DZ_FAIL_OTHER;
        int32_t r = ReadMember(archive, index, block, data, write, failure);
        if (r == DZ_ERR_CANCELLED)
            return r;
        if (r != DZ_OK && !write && block.lpMessageDisplay)
            block.lpMessageDisplay(DZ_MSG_MEMBER_FAILED, 0, r, failure, rawName ? rawName : "", "",
                                   block.lpMessageDisplayData);
        if (r == DZ_OK && write)
            r = WriteMember(block, LastPart(rawName), data);
        if (r == DZ_OK)
            ++done;
        else if (result == DZ_OK)
            result = r; // the first failure is the result; the others still run
    }
    block.Count = done;
    return result;
}

int32_t Run(UnzipCommandBlock& block)
{
    switch (block.Function) {
    case DZ_COUNT_ITEMS:
    case DZ_COUNT_MATCHES:
    case DZ_TEST_MATCHES:
    case DZ_NAME_LENGTH:
    case DZ_NAME_TEXT:
    case DZ_EXTRACT:
        break;
    default:
        return DZ_ERR_FUNCTION;
    }
    if (!block.lpszZipFile)
        return DZ_ERR_ARGUMENT;
    Archive archive;
    if (!archive.Open(block.lpszZipFile))
        return DZ_ERR_OPEN;

    switch (block.Function) {
    case DZ_COUNT_ITEMS: {
        const int64_t n = archive.Entries();
        if (n < 0)
            return DZ_ERR_OPEN;
        block.Count = int32_t(std::min<int64_t>(n, INT32_MAX));
        return DZ_OK;
    }
    case DZ_COUNT_MATCHES:
        block.Count =
            int32_t(std::min<std::size_t>(Matches(archive, block.lpszFileSpec).size(), INT32_MAX));
        return DZ_OK;
    case DZ_NAME_LENGTH:
    case DZ_NAME_TEXT: {
        if (block.Index < 0 || block.Index >= archive.Entries())
            return DZ_ERR_INDEX;
        const char* name = archive.RawName(zip_uint64_t(block.Index));
        if (!name)
            return DZ_ERR_DATA;
        const std::size_t len = std::strlen(name);
        if (block.Function == DZ_NAME_LENGTH) {
            block.Count = int32_t(std::min<std::size_t>(len, INT32_MAX));
            return DZ_OK;
        }
        // The caller sized the return text from the length it asked for
        // before: write at most Count characters and the zero.
        if (!block.lpszReturnString || block.Count < 0)
            return DZ_ERR_ARGUMENT;
        const std::size_t n = std::min<std::size_t>(len, std::size_t(block.Count));
        std::memcpy(block.lpszReturnString, name, n);
        block.lpszReturnString[n] = '\0';
        block.Count = int32_t(n);
        return DZ_OK;
    }
    case DZ_TEST_MATCHES:
        return Extract(archive, block, false);
    case DZ_EXTRACT:
        return Extract(archive, block, true);
    }
    return DZ_ERR_FUNCTION;
}

} // namespace

DZ_EXPORT int32_t DZ_CALLBACK dunzip(UnzipCommandBlock* block)
{
    if (!block || block->StructSize != int32_t(sizeof(UnzipCommandBlock)))
        return DZ_ERR_BLOCK;
    try {
        return Run(*block);
    } catch (...) {
        // Nothing may escape a C entry (an allocation failure, say).
        return DZ_ERR_DATA;
    }
}
