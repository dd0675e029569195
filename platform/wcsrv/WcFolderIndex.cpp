#include "WcFolderIndex.h"

#include "server/DiskNames.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <mutex>
#include <set>
#include <unordered_map>

namespace wcstore::folderindex
{
namespace
{

// At most this many folders are indexed; the one used longest ago goes.
constexpr std::size_t kMaxIndexed = 32;
// Folders searched but not indexed yet whose searches are counted.
constexpr std::size_t kMaxCounted = 256;
// Never fewer searches than these before a folder is read.
constexpr uint32_t kLeastSearches = 8;

constexpr uint32_t kWatched = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF |
                              IN_MOVE_SELF | IN_ONLYDIR;

struct Index {
    int watch = -1;
    dev_t device = 0;
    ino_t inode = 0;
    uint64_t used = 0;
    // The folder's entries by their name with ASCII letters in lower case
    // (disknames::FoldedName); each set in byte order.
    std::unordered_map<std::string, std::set<std::string>> names;

    void Add(const std::string& entry) { names[disknames::FoldedName(entry)].insert(entry); }
    void Remove(const std::string& entry)
    {
        const auto it = names.find(disknames::FoldedName(entry));
        if (it != names.end() && it->second.erase(entry) && it->second.empty())
            names.erase(it);
    }
};

struct State {
    std::mutex lock;
    int fd = -1;         // the inotify instance, made for the first index
    bool broken = false; // no inotify here: nothing is indexed
    int searchesBefore = 0;
    bool searchesSet = false;
    uint64_t clock = 0;
    std::map<std::string, Index> indexes; // by folder, ending in '/'
    std::unordered_map<int, std::string> folderOfWatch;
    std::unordered_map<std::string, uint32_t> searches; // of folders not indexed
    // Folders found on a file system that is never indexed: not asked again
    // (on a network file system each question is a round trip).
    std::set<std::string> notLocal;
};

// A child forked from this process reads the same inotify queue: it takes
// an instance of its own, and its copies of the indexes go.
std::atomic<bool> gForked{false};

// Never destroyed: a search may come while the process ends.
State& TheState()
{
    static State* state = [] {
        ::pthread_atfork(nullptr, nullptr, [] { gForked = true; });
        return new State;
    }();
    return *state;
}

void Forget(State& s, std::map<std::string, Index>::iterator it, bool removeWatch)
{
    if (removeWatch)
        ::inotify_rm_watch(s.fd, it->second.watch);
    s.folderOfWatch.erase(it->second.watch);
    s.indexes.erase(it);
}

void ForgetAll(State& s)
{
    while (!s.indexes.empty())
        Forget(s, s.indexes.begin(), true);
}

// Applies every change the kernel has told since the last time. A lost
// change (the kernel's queue overflowed) or a failed read leaves no index.
void Drain(State& s)
{
    alignas(inotify_event) char buffer[16384];
    for (;;) {
        const ssize_t n = ::read(s.fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0 || errno != EAGAIN)
                ForgetAll(s);
            return;
        }
        for (const char* p = buffer; p < buffer + n;) {
            const auto* e = reinterpret_cast<const inotify_event*>(p);
            p += sizeof(inotify_event) + e->len;
            if (e->mask & IN_Q_OVERFLOW) {
                ForgetAll(s);
                continue;
            }
            const auto folder = s.folderOfWatch.find(e->wd);
            if (folder == s.folderOfWatch.end())
                continue;
            const auto it = s.indexes.find(folder->second);
            if (e->mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT)) {
                Forget(s, it, !(e->mask & IN_IGNORED));
                continue;
            }
            if (e->len == 0)
                continue;
            const std::string entry(e->name); // NUL-padded to len
            if (e->mask & (IN_CREATE | IN_MOVED_TO))
                it->second.Add(entry);
            else if (e->mask & (IN_DELETE | IN_MOVED_FROM))
                it->second.Remove(entry);
        }
    }
}

// File systems whose every change, whoever makes it, the kernel tells
// here. A network file system's folder changes on other machines silently.
bool LocalFileSystem(const std::string& folder)
{
    struct statfs fs {
    };
    if (::statfs(folder.c_str(), &fs) != 0)
        return false;
    switch (static_cast<unsigned long>(fs.f_type)) {
    case 0xEF53:     // ext2, ext3, ext4
    case 0x58465342: // xfs
    case 0x9123683E: // btrfs
    case 0x01021994: // tmpfs
    case 0xF2F52010: // f2fs
    case 0x2FC12FC1: // zfs
        return true;
    default:
        return false;
    }
}

// Reads `folder` into a new index, watched from before the first entry is
// read: a change made while it reads is applied after it, in order, so
// the index ends as the folder stands.
std::map<std::string, Index>::iterator Build(State& s, const std::string& folder)
{
    if (s.indexes.size() >= kMaxIndexed) {
        auto oldest = s.indexes.begin();
        for (auto it = s.indexes.begin(); it != s.indexes.end(); ++it)
            if (it->second.used < oldest->second.used)
                oldest = it;
        Forget(s, oldest, true);
    }
    const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return s.indexes.end();
    // The watch goes on the folder open here, whatever its path names by
    // now: the entries read and the changes told are of one folder.
    const std::string opened = "/proc/self/fd/" + std::to_string(dirFd);
    struct stat st {
    };
    const int watch = ::inotify_add_watch(s.fd, opened.c_str(), kWatched);
    // A folder already indexed under another path (a link) is searched on
    // the disk under this one.
    if (watch < 0 || s.folderOfWatch.count(watch) || ::fstat(dirFd, &st) != 0) {
        ::close(dirFd);
        return s.indexes.end();
    }
    DIR* d = ::fdopendir(dirFd);
    if (!d) {
        ::close(dirFd);
        ::inotify_rm_watch(s.fd, watch);
        return s.indexes.end();
    }
    const auto it = s.indexes.try_emplace(folder).first;
    it->second.watch = watch;
    it->second.device = st.st_dev;
    it->second.inode = st.st_ino;
    s.folderOfWatch[watch] = folder;
    while (const dirent* e = ::readdir(d)) {
        const std::string_view entry(e->d_name);
        if (entry != "." && entry != "..")
            it->second.Add(std::string(entry));
    }
    ::closedir(d);
    Drain(s);
    return s.indexes.find(folder);
}

// The searches a folder of `folderBytes` bytes gets before it is read.
uint32_t SearchesBefore(int setting, off_t folderBytes)
{
    if (setting > 0)
        return uint32_t(setting);
    // Reading a folder costs about a quarter of a look-up per entry of some
    // 32 bytes; a search makes some 16 look-ups (a name of four letters).
    return std::max<uint32_t>(kLeastSearches, uint32_t(folderBytes / 2048));
}

// How many searches come before a folder is indexed (SetSearchesBeforeIndex).
int Setting(const State& s)
{
    if (s.searchesSet)
        return s.searchesBefore;
    const char* env = std::getenv("WCSRV_FOLDER_INDEX_AFTER");
    return env && *env ? std::atoi(env) : 0;
}

void StartAfterFork(State& s)
{
    if (!gForked.exchange(false) || s.fd < 0)
        return;
    ::close(s.fd);
    s.fd = -1;
    s.indexes.clear();
    s.folderOfWatch.clear();
    s.searches.clear();
}

} // namespace

bool FindVariant(const std::string& folder, std::string_view name, std::string& found)
{
    State& s = TheState();
    std::lock_guard<std::mutex> guard(s.lock);
    StartAfterFork(s);
    const int setting = Setting(s);
    if (s.broken || setting < 0)
        return false;
    if (s.notLocal.count(folder))
        return false;
    struct stat st {
    };
    if (folder.empty() || folder.back() != '/' || ::stat(folder.c_str(), &st) != 0 ||
        !S_ISDIR(st.st_mode))
        return false;
    if (s.fd >= 0)
        Drain(s);
    auto it = s.indexes.find(folder);
    // The path may name another folder by now (the old one moved away, or
    // a folder mounted over it).
    if (it != s.indexes.end() &&
        (it->second.device != st.st_dev || it->second.inode != st.st_ino)) {
        Forget(s, it, true);
        it = s.indexes.end();
    }
    if (it == s.indexes.end()) {
        if (s.searches.size() >= kMaxCounted && !s.searches.count(folder))
            s.searches.clear();
        uint32_t& searched = s.searches[folder];
        if (++searched < SearchesBefore(setting, st.st_size))
            return false;
        s.searches.erase(folder);
        if (!LocalFileSystem(folder)) {
            if (s.notLocal.size() >= kMaxCounted)
                s.notLocal.clear();
            s.notLocal.insert(folder);
            return false;
        }
        // The instance is made for the first folder indexed: a process
        // that indexes none holds no descriptor for it.
        if (s.fd < 0) {
            s.fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
            if (s.fd < 0) {
                s.broken = true;
                return false;
            }
        }
        it = Build(s, folder);
        if (it == s.indexes.end())
            return false;
    }
    it->second.used = ++s.clock;
    found.clear();
    const auto names = it->second.names.find(disknames::FoldedName(name));
    if (names != it->second.names.end()) {
        for (const std::string& entry : names->second) {
            if (entry != name) {
                found = entry;
                break;
            }
        }
    }
    // An entry the index holds is there: should it not be, the index has
    // missed a change, and the folder is searched on the disk.
    struct stat entry {
    };
    if (!found.empty() && ::lstat((folder + found).c_str(), &entry) != 0) {
        Forget(s, it, true);
        found.clear();
        return false;
    }
    return true;
}

bool Indexable(const std::string& folder)
{
    if (!LocalFileSystem(folder))
        return false;
    const int probe = ::inotify_init1(IN_CLOEXEC);
    if (probe < 0)
        return false;
    ::close(probe);
    return true;
}

void SetSearchesBeforeIndex(int searches)
{
    State& s = TheState();
    std::lock_guard<std::mutex> guard(s.lock);
    s.searchesBefore = searches;
    s.searchesSet = true;
    s.searches.clear();
    s.notLocal.clear();
    if (searches < 0 && s.fd >= 0)
        ForgetAll(s);
}

int IndexedFolders()
{
    State& s = TheState();
    std::lock_guard<std::mutex> guard(s.lock);
    StartAfterFork(s);
    if (s.fd >= 0)
        Drain(s);
    return int(s.indexes.size());
}

void DropAll()
{
    State& s = TheState();
    std::lock_guard<std::mutex> guard(s.lock);
    StartAfterFork(s);
    if (s.fd >= 0) {
        Drain(s);
        ForgetAll(s);
    }
    s.searches.clear();
    s.notLocal.clear();
}

} // namespace wcstore::folderindex
