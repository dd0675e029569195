// A demo BBS with realistic content, the same for the same seed.
#include "WcAdmin.h"

#include "WcAdminInternal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <unordered_set>

namespace wcadmin
{

using namespace detail;

namespace
{

// A small generator of our own, so the demo is the same on every library.
class Rng
{
public:
    explicit Rng(uint32_t seed) : m_state(uint64_t(seed) * 0x9E3779B97F4A7C15ULL + 1) {}
    uint32_t next()
    {
        m_state ^= m_state << 13;
        m_state ^= m_state >> 7;
        m_state ^= m_state << 17;
        return uint32_t(m_state >> 11);
    }
    // 0 .. n-1
    uint32_t below(uint32_t n) { return n ? next() % n : 0; }
    bool chance(uint32_t percent) { return below(100) < percent; }
    template <size_t N> const char* pick(const char* const (&list)[N]) { return list[below(N)]; }

private:
    uint64_t m_state;
};

const char* const kAreaNames[] = {
    "General Utilities",
    "DOS Games",
    "Windows Games",
    "Graphics & Images",
    "Music & Sound",
    "Communications",
    "Programming",
    "Text Files & E-Zines",
    "Windows Utilities",
    "BBS Doors",
    "Virus Scanners",
    "Business & Finance",
    "Education",
    "Ham Radio",
    "Hobbies & Crafts",
    "Sysop Utilities",
    "Archivers",
    "Fonts",
    "Editors",
    "Networking",
    "OS/2 Files",
    "Linux & Unix",
    "Science & Math",
    "Desktop Publishing",
    "Religion",
    "Sports",
    "Humor",
    "Database Programs",
    "Printer Utilities",
    "Screen Savers",
    "Disk Utilities",
    "New Uploads",
};

const char* const kFirstNames[] = {"John",  "Mary",  "Robert", "Linda", "Michael", "Susan",
                                   "David", "Karen", "James",  "Nancy", "Steve",   "Donna",
                                   "Paul",  "Carol", "Mark",   "Janet", "Gary",    "Ruth"};
const char* const kLastNames[] = {"Smith",  "Johnson", "Miller", "Davis",  "Wilson", "Moore",
                                  "Taylor", "Thomas",  "Harris", "Martin", "Clark",  "Lewis",
                                  "Walker", "Young",   "Allen",  "King",   "Wright", "Scott"};

const char* const kPrefixes[] = {
    "PKZ",   "QMDM",  "DOOM",  "TETR",  "WOLF",  "CMDR", "ARJ",   "LHA",   "TELIX", "RBBS",
    "TDRAW", "VGA",   "SVGA",  "MOD",   "GIF",   "JPEG", "FONT",  "TSR",   "DISK",  "BACK",
    "EDIT",  "QEDIT", "PAS",   "ASM",   "BASIC", "CLIP", "HAM",   "STAR",  "CHESS", "GOLF",
    "TAX",   "LOAN",  "CALC",  "DBASE", "MAIL",  "QWK",  "BLUE",  "OLX",   "FIDO",  "NODE",
    "VIRUS", "SCAN",  "FPROT", "TBAV",  "XTREE", "NORT", "SAVER", "PRINT", "LABEL", "MENU",
    "KIDS",  "MATH",  "SPELL", "BIBLE", "JOKE",  "TREK", "WAR",   "SPACE", "RACE",  "CARD"};
const char* const kExtensions[] = {".ZIP", ".ZIP", ".ZIP", ".ZIP", ".ZIP", ".ARJ",
                                   ".LZH", ".EXE", ".TXT", ".GIF", ".ZIP", ".ZIP"};

const char* const kAdjectives[] = {"Shareware",     "Freeware", "Fast",       "Tiny",
                                   "Full-featured", "Classic",  "Registered", "Improved",
                                   "Public domain", "Popular",  "New",        "Easy to use"};
const char* const kKinds[] = {
    "text editor",   "file manager",     "terminal program", "arcade game",        "adventure game",
    "font pack",     "GIF viewer",       "mail door",        "virus scanner",      "disk utility",
    "spreadsheet",   "MOD player",       "C compiler",       "tutorial",           "offline reader",
    "BBS door game", "screen saver",     "menu system",      "backup program",     "label printer",
    "chess program", "flight simulator", "tax calculator",   "clip art collection"};
const char* const kFeatures[] = {
    "with mouse support",    "for DOS and Windows", "v2.1 release",        "with source code",
    "VGA/SVGA graphics",     "supports ZMODEM",     "for 386 or better",   "multi-node ready",
    "Sound Blaster support", "runs from floppy",    "new in this release", "ASP member"};
const char* const kLongLines[] = {
    "Requires 640K RAM and a hard disk.",
    "Supports Hercules, CGA, EGA and VGA.",
    "Includes full documentation and examples.",
    "Bug fixes over the previous version.",
    "Registration unlocks all features.",
    "Works with FOSSIL drivers and DigiBoards.",
    "Uploaded by the author.",
    "Runs under DESQview and Windows 3.1.",
    "Network aware: Novell and LANtastic.",
    "Very small memory footprint.",
    "Ten new levels and a level editor.",
    "Tested with DOS 3.3 through 6.22.",
};
const char* const kPasswords[] = {"SECRET", "MEMBERS", "SYSOP", "BETA", "PRIVATE"};

std::string Bounded(std::string s, size_t max)
{
    if (s.size() > max)
        s.resize(max);
    return s;
}

std::string MakeName(Rng& rng, const std::unordered_set<std::string>& taken)
{
    for (int attempt = 0;; ++attempt) {
        std::string base;
        if (attempt < 20) {
            base = rng.pick(kPrefixes);
            const int digits = int(8 - base.size());
            const uint32_t limit = digits >= 4 ? 10000 : digits == 3 ? 1000 : 100;
            std::string number = std::to_string(rng.below(limit));
            if (rng.chance(50))
                number.insert(0, size_t(std::max(0, std::min(digits, 3) - int(number.size()))),
                              '0');
            base += number;
        } else {
            // Crowded areas: eight letters and digits.
            static const char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
            for (int i = 0; i < 8; ++i)
                base += kChars[rng.below(36)];
        }
        std::string name = Bounded(base, 8) + rng.pick(kExtensions);
        if (!taken.count(name))
            return name;
    }
}

// The key order of file names (SQLite's NOCASE folds to lower case).
std::string OrderKey(const std::string& name)
{
    std::string k = name;
    for (char& ch : k)
        if (ch >= 'A' && ch <= 'Z')
            ch = char(ch + 32);
    return k;
}

struct User {
    uint32_t id;
    std::string name;
};

// One record of the demo; the file on disk follows the record.
FullFileRec MakeRecord(Rng& rng, int area, const std::string& name, const std::vector<User>& users,
                       int64_t* unixTime)
{
    FullFileRec rec{};
    rec.Rec.Area = area;
    SetField(rec.Rec.Name, sizeof rec.Rec.Name, name);
    const std::string kind = rng.pick(kKinds);
    SetField(
        rec.Rec.Description, sizeof rec.Rec.Description,
        Bounded(std::string(rng.pick(kAdjectives)) + " " + kind + " " + rng.pick(kFeatures), 75));
    // Between 1992 and 1999.
    *unixTime = 694224000 + int64_t(rng.below(252460800));
    rec.Rec.FileTime = MakeFileTime(LocalFileTime(*unixTime));
    rec.Rec.LastAccessed = MakeFileTime(LocalFileTime(*unixTime + rng.below(60 * 86400)));
    rec.Rec.Size = int32_t(1024 + rng.below(rng.chance(10) ? 3000000 : 400000));
    rec.Rec.Downloads = int32_t(rng.chance(30) ? 0 : rng.below(rng.chance(10) ? 2000 : 120));
    const int32_t costs[] = {0, 0, 0, 0, 0, 0, 5, 10, 25, 50};
    rec.Rec.Cost = costs[rng.below(10)];
    rec.Rec.NeverOverwrite = rng.chance(2);
    rec.Rec.NeverDelete = rng.chance(3);
    rec.Rec.FreeFile = rng.chance(10);
    rec.Rec.CopyBeforeDownload = rng.chance(2);
    rec.Rec.FailedScan = rng.chance(1);
    rec.Rec.FreeTime = rng.chance(5);
    if (rng.chance(2))
        SetField(rec.Rec.Password, sizeof rec.Rec.Password, rng.pick(kPasswords));
    if (!users.empty() && rng.chance(90)) {
        const User& u = users[rng.below(uint32_t(users.size()))];
        rec.Rec.Uploader.UserId = u.id;
        SetField(rec.Rec.Uploader.UserName, sizeof rec.Rec.Uploader.UserName, u.name);
    }
    if (rng.chance(40)) {
        const int lines = 2 + int(rng.below(5));
        SetField(rec.LongDescription[0], LongDescLineSize,
                 Bounded(name + " - " + rng.pick(kAdjectives) + " " + kind, 79));
        for (int i = 1; i < lines; ++i)
            SetField(rec.LongDescription[i], LongDescLineSize, rng.pick(kLongLines));
        rec.Rec.HasLongDescription = 1;
    }
    return rec;
}

std::string DizText(const FullFileRec& rec)
{
    std::string text;
    for (int i = 0; i < LongDescLines; ++i) {
        const size_t n = wcstore::FieldLength(rec.LongDescription[i], LongDescLineSize);
        if (!n)
            continue;
        text.append(rec.LongDescription[i], n);
        text += "\r\n";
    }
    if (text.empty()) {
        text.append(rec.Rec.Description,
                    wcstore::FieldLength(rec.Rec.Description, sizeof rec.Rec.Description));
        text += "\r\n";
    }
    return text;
}

bool WriteZip(const std::string& path, const std::string& diz, const std::string& readme)
{
    int error = 0;
    zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!archive)
        return false;
    auto add = [&](const char* name, const std::string& content) {
        zip_source_t* src = zip_source_buffer(archive, content.data(), content.size(), 0);
        if (!src)
            return false;
        if (zip_file_add(archive, name, src, ZIP_FL_OVERWRITE) < 0) {
            zip_source_free(src);
            return false;
        }
        return true;
    };
    const bool ok = add("FILE_ID.DIZ", diz) && add("README.TXT", readme);
    if (!ok) {
        zip_discard(archive);
        return false;
    }
    return zip_close(archive) == 0;
}

// Writes the record's file; the record's size follows the file.
bool WriteDemoFile(Rng& rng, const std::string& folder, FullFileRec& rec, int64_t unixTime)
{
    const std::string name(rec.Rec.Name, wcstore::FieldLength(rec.Rec.Name, sizeof rec.Rec.Name));
    const std::string path = folder + "/" + name;
    const bool isZip = name.size() > 4 && name.compare(name.size() - 4, 4, ".ZIP") == 0;
    if (isZip && rng.chance(35)) {
        std::string readme = "Thank you for downloading " + name + ".\r\n";
        for (int i = 0; i < 20; ++i)
            readme += std::string(rng.pick(kLongLines)) + "\r\n";
        if (!WriteZip(path, DizText(rec), readme))
            return false;
    } else {
        // Small stand-in contents keep the demo modest on disk.
        std::string content(size_t(200 + rng.below(6000)), '\0');
        for (char& ch : content)
            ch = char(rng.next());
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(content.data(), std::streamsize(content.size()));
        if (!out)
            return false;
    }
    struct stat sb {
    };
    if (::stat(path.c_str(), &sb) != 0)
        return false;
    rec.Rec.Size = int32_t(sb.st_size);
    const struct timespec times[2] = {{time_t(unixTime), 0}, {time_t(unixTime), 0}};
    ::utimensat(AT_FDCWD, path.c_str(), times, 0);
    return true;
}

// Texts in code page 437, as DOS BBSes wrote them: accented letters, shades
// and box drawing (shown right with the setting "437").
const char* const kDosDescriptions[] = {
    "\xB0\xB1\xB2 ANSI art pack from the scene \xB2\xB1\xB0",
    "Caf\x82 m\x82nu planner \xAF\xAF 12 recipes \xAE\xAE",
    "\xDB\xDB Sound Blaster demo \xDB\xDB \x9B 1 \x9C 2",
};
const char* const kDosBox[] = {
    "\xC9\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xBB",
    "\xBA  Released by the  \xBA",
    "\xBA  Demo Sysop crew  \xBA",
    "\xC8\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xBC",
};

// Gives a record one of the code page 437 texts and a boxed long description.
void UseDosTexts(FullFileRec& rec, size_t which)
{
    SetField(rec.Rec.Description, sizeof rec.Rec.Description,
             kDosDescriptions[which % (sizeof kDosDescriptions / sizeof kDosDescriptions[0])]);
    std::memset(rec.LongDescription, 0, sizeof rec.LongDescription);
    for (size_t i = 0; i < sizeof kDosBox / sizeof kDosBox[0]; ++i)
        SetField(rec.LongDescription[i], LongDescLineSize, kDosBox[i]);
    rec.Rec.HasLongDescription = 1;
}

bool CopyFileBytes(const std::string& from, const std::string& to)
{
    std::ifstream in(from, std::ios::binary);
    std::ofstream out(to, std::ios::binary | std::ios::trunc);
    out << in.rdbuf();
    return bool(in) && bool(out);
}

// Files that lie in an area's folder without a record, and the folder's
// FILES.BBS describing them (the DOS directory layout for one, code page
// 437 in another), for "Add Files in Area Folder..." and "Import
// Descriptions...".
bool WriteUploads(Rng& rng, const std::string& folder, const std::unordered_set<std::string>& taken)
{
    const char* const names[] = {"NEWGAME.ARJ", "RECIPES.TXT", "386MAN.DOC"};
    for (const char* name : names) {
        if (taken.count(name))
            return true; // a record of that name: the folder stays as it is
    }
    for (const char* name : names) {
        std::string content(size_t(300 + rng.below(3000)), '\0');
        for (char& ch : content)
            ch = char(rng.next());
        std::ofstream out(folder + "/" + name, std::ios::binary | std::ios::trunc);
        out.write(content.data(), std::streamsize(content.size()));
        if (!out)
            return false;
    }
    std::ofstream list(folder + "/FILES.BBS", std::ios::binary | std::ios::trunc);
    list << "; Uploads not yet in the file base: \"Add Files in Area Folder...\"\r\n"
            "; takes their descriptions from this list.\r\n"
            "NEWGAME .ARJ  12-31-96  Space adventure, three levels \xB0\xB1\xB2\r\n"
            "              Needs a 386 and a VGA card.\r\n"
            "              \r\n"
            "              Shareware: register for ten more levels.\r\n"
            "RECIPES.TXT   Caf\x82 and cr\x88pe recipes, en fran\x87"
            "ais\r\n"
            "386MAN.DOC    80386 processor manual\r\n"
            "              | Chapter 1: the registers\r\n";
    return bool(list);
}

} // namespace

Result MakeDemo(const std::string& home, const DemoOptions& options)
{
    if (options.areas < 1 || options.areas > 10000)
        return "the number of areas must be 1 to 10000";
    if (options.files < 0 || options.files > 20000000)
        return "the number of files must be 0 to 20000000";
    Rng rng(options.seed);
    if (Result e = CreateBbs(home, "Demo Sysop"); !e.empty())
        return e;

    std::vector<User> users;
    {
        std::unordered_set<std::string> names;
        while (users.size() < 24) {
            std::string n = std::string(rng.pick(kFirstNames)) + " " + rng.pick(kLastNames);
            if (!names.insert(n).second)
                continue;
            if (Result e = AddUser(home, n); !e.empty())
                return e;
            users.push_back({uint32_t(users.size() + 1), n});
        }
    }
    const size_t areaNameCount = sizeof kAreaNames / sizeof kAreaNames[0];
    for (int a = 1; a <= options.areas; ++a) {
        const std::string name = size_t(a) <= areaNameCount ? std::string(kAreaNames[a - 1])
                                                            : "File Area " + std::to_string(a);
        if (Result e = AddArea(home, a, name); !e.empty())
            return e;
    }

    std::string error;
    auto store = OpenStore(home, false, error);
    if (!store)
        return error;
    // One transaction, records in key order, handed over in batches.
    if (!store->Begin())
        return "the database is busy: " + store->Error();
    std::vector<FullFileRec> batch;
    batch.reserve(1000);
    auto flush = [&] {
        const bool ok = store->InsertMany(batch.data(), batch.size()) == wcstore::Rc::Ok;
        batch.clear();
        return ok;
    };
    // With files, the demo shows what the managers find: a file of area 1
    // is also in area 2 under the same name (a duplicate by name and by
    // content) and in area 3 under another name (by content); some texts
    // are in code page 437; the last area's folder holds uploads without a
    // record and their FILES.BBS.
    const bool showcase = !options.noFiles;
    std::string copied;     // area 1's file that areas 2 and 3 hold again
    std::string copiedName; // its name
    for (int a = 1; a <= options.areas; ++a) {
        // Spread the files over the areas unevenly, as on a real BBS.
        long count = options.files / options.areas;
        if (a <= options.files % options.areas)
            ++count;
        std::unordered_set<std::string> taken;
        std::vector<std::pair<std::string, std::string>> names; // order key, name
        names.reserve(size_t(count));
        for (long i = 0; i < count; ++i) {
            std::string n = MakeName(rng, taken);
            taken.insert(n);
            names.emplace_back(OrderKey(n), n);
        }
        // Area 2's first name becomes the name of area 1's copied file.
        std::string sameName;
        if (showcase && a == 2 && !copiedName.empty() && !names.empty() &&
            !taken.count(copiedName)) {
            taken.erase(names.front().second);
            taken.insert(copiedName);
            names.front() = {OrderKey(copiedName), copiedName};
            sameName = copiedName;
        }
        std::sort(names.begin(), names.end());
        const std::string folder = AreaFolder(home, a);
        size_t index = 0;
        for (const auto& entry : names) {
            int64_t unixTime = 0;
            FullFileRec rec = MakeRecord(rng, a, entry.second, users, &unixTime);
            const size_t at = index++;
            if (showcase && at % 7 == 3)
                UseDosTexts(rec, size_t(a) + at);
            // The copies of area 1's file: the same bytes, its record's size.
            const bool copy = showcase && !copied.empty() &&
                              ((a == 2 && entry.second == sameName) || (a == 3 && at == 0));
            if (copy) {
                const std::string path = folder + "/" + entry.second;
                struct stat sb {
                };
                if (!CopyFileBytes(copied, path) || ::stat(path.c_str(), &sb) != 0) {
                    store->Rollback();
                    return "cannot write the file " + entry.second + " in " + folder;
                }
                rec.Rec.Size = int32_t(sb.st_size);
                const struct timespec times[2] = {{time_t(unixTime), 0}, {time_t(unixTime), 0}};
                ::utimensat(AT_FDCWD, path.c_str(), times, 0);
            } else if (!options.noFiles && !rng.chance(5) &&
                       !WriteDemoFile(rng, folder, rec, unixTime)) {
                // (A few records have lost their file.)
                store->Rollback();
                return "cannot write the file " + entry.second + " in " + folder;
            } else if (showcase && a == 1 && copied.empty() &&
                       ::access((folder + "/" + entry.second).c_str(), F_OK) == 0) {
                copied = folder + "/" + entry.second;
                copiedName = entry.second;
            }
            batch.push_back(rec);
            if (batch.size() == 1000 && !flush()) {
                const std::string e = "cannot add a record: " + store->Error();
                store->Rollback();
                return e;
            }
        }
        if (showcase && a == options.areas && !WriteUploads(rng, folder, taken)) {
            store->Rollback();
            return "cannot write the uploads in " + folder;
        }
    }
    if (!flush() || !store->Commit()) {
        const std::string e = "cannot store the records: " + store->Error();
        store->Rollback();
        return e;
    }
    return {};
}

} // namespace wcadmin
