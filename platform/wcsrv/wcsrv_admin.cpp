// wcsrv-admin: sets up and fills a BBS without the BBS software.
#include "WcAdmin.h"
#include "common/BuildInfo.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace
{

const char kUsage[] =
    "usage: wcsrv-admin [--home DIR] [--database CONN] COMMAND ...\n"
    "  init [--sysop NAME]                 create a BBS in the home folder\n"
    "  area add NUMBER NAME [--folder DIR] add a file area (DIR relative to the home folder\n"
    "                                      unless absolute; default areas/NUMBER)\n"
    "  area list                           list the file areas\n"
    "  user add NAME                       add a user\n"
    "  import AREA FILE...                 copy files into an area and add their records\n"
    "  list AREA                           list the records of an area\n"
    "  demo [--areas N] [--files M] [--seed S] [--no-files]\n"
    "                                      build a demo BBS\n"
    "  copy-store --to CONN                copy the BBS from wcsrv.db in the home folder into\n"
    "                                      an empty PostgreSQL database\n"
    "  copy-store --from CONN              copy the BBS from a PostgreSQL database into a new\n"
    "                                      wcsrv.db in the home folder\n"
    "The home folder defaults to $WCSRV_HOME, then $XDG_DATA_HOME/wcsrv.\n"
    "The records live in wcsrv.db in the home folder unless --database or $WCSRV_DATABASE\n"
    "holds a PostgreSQL connection string (postgresql://... or key=value ...).\n";

// The manual page (troff), made from the usage text, so that the page and
// --help cannot disagree; the build writes it to wcsrv-admin.1 (hidden --man).
std::string ManText(const std::string& text)
{
    std::string out;
    bool lineStart = true;
    for (const char c : text) {
        if (lineStart && (c == '.' || c == '\''))
            out += "\\&";
        if (c == '\\')
            out += "\\e";
        else if (c == '-')
            out += "\\-";
        else
            out += c;
        lineStart = c == '\n';
    }
    return out;
}

std::string ManPage()
{
    return std::string(".TH WCSRV-ADMIN 1 \"\" \"wcsrv\\-admin " VT_VERSION
                       "\" \"Vantrel File Manager\"\n"
                       ".SH NAME\nwcsrv\\-admin \\- sets up and fills a BBS without the BBS "
                       "software\n"
                       ".SH SYNOPSIS\n.B wcsrv\\-admin\n"
                       "[\\-\\-home DIR] [\\-\\-database CONN] COMMAND ...\n.br\n"
                       ".B wcsrv\\-admin\n\\-\\-help | \\-\\-version\n"
                       ".SH COMMANDS\n.nf\n") +
           ManText(kUsage) +
           ".fi\n"
           ".SH ENVIRONMENT\n"
           ".TP\nWCSRV_HOME\nThe home folder when \\-\\-home is not given.\n"
           ".TP\nWCSRV_DATABASE\nA PostgreSQL connection string: the records are kept on "
           "that server.\n"
           ".SH SEE ALSO\nvtfilemgr(1), vtfilemgr\\-cli(1)\n";
}

int Usage(const char* message = nullptr)
{
    if (message)
        std::fprintf(stderr, "wcsrv-admin: %s\n", message);
    std::fputs(kUsage, stderr);
    return 2;
}

int Report(const wcadmin::Result& error)
{
    if (error.empty())
        return 0;
    std::fprintf(stderr, "wcsrv-admin: %s\n", error.c_str());
    return 1;
}

bool ParseLong(const std::string& text, long min, long max, long& out)
{
    if (text.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (errno || *end || v < min || v > max)
        return false;
    out = v;
    return true;
}

// "MM/dd/yy hh:mm" of a FILETIME holding local time.
std::string DateText(uint64_t fileTime)
{
    const int64_t seconds = int64_t(fileTime / 10000000ULL) - 11644473600LL;
    const time_t t = time_t(seconds);
    struct tm tm {
    };
    gmtime_r(&t, &tm);
    char buffer[32];
    std::strftime(buffer, sizeof buffer, "%m/%d/%y %H:%M", &tm);
    return buffer;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string home;
    while (args.size() >= 2 && (args[0] == "--home" || args[0] == "--database")) {
        if (args[0] == "--home")
            home = args[1];
        else
            wcadmin::UseDatabase(args[1]);
        args.erase(args.begin(), args.begin() + 2);
    }
    if (home.empty())
        home = wcadmin::DefaultHome();
    if (args.empty())
        return Usage("no command given");
    const std::string command = args[0];
    if (command == "-h" || command == "--help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (command == "--version") {
        std::printf("wcsrv-admin %s\n", VT_VERSION);
        return 0;
    }
    if (command == "--man") {
        std::fputs(ManPage().c_str(), stdout);
        return 0;
    }

    if (command == "init") {
        std::string sysop = "Sysop";
        for (size_t i = 1; i < args.size(); ++i) {
            if (args[i] == "--sysop" && i + 1 < args.size())
                sysop = args[++i];
            else
                return Usage(("unknown argument to init: " + args[i]).c_str());
        }
        return Report(wcadmin::CreateBbs(home, sysop));
    }

    if (command == "area" && args.size() >= 2 && args[1] == "add") {
        long number = 0;
        std::string folder;
        std::vector<std::string> rest;
        for (size_t i = 2; i < args.size(); ++i) {
            if (args[i] == "--folder" && i + 1 < args.size())
                folder = args[++i];
            else
                rest.push_back(args[i]);
        }
        if (rest.size() != 2)
            return Usage("area add needs NUMBER and NAME");
        if (!ParseLong(rest[0], 1, 2147483647L, number))
            return Usage(("not an area number: " + rest[0]).c_str());
        return Report(wcadmin::AddArea(home, int(number), rest[1], folder));
    }

    if (command == "area" && args.size() == 2 && args[1] == "list") {
        std::vector<wcadmin::AreaInfo> areas;
        if (const auto e = wcadmin::ListAreas(home, areas); !e.empty())
            return Report(e);
        for (const auto& a : areas)
            std::printf("%4d: %s\n", a.number, a.name.c_str());
        return 0;
    }

    if (command == "user" && args.size() == 3 && args[1] == "add")
        return Report(wcadmin::AddUser(home, args[2]));

    if (command == "import") {
        long area = 0;
        if (args.size() < 3)
            return Usage("import needs AREA and at least one FILE");
        if (!ParseLong(args[1], 1, 2147483647L, area))
            return Usage(("not an area number: " + args[1]).c_str());
        int failures = 0;
        for (size_t i = 2; i < args.size(); ++i) {
            const auto e = wcadmin::ImportFile(home, int(area), args[i]);
            if (!e.empty()) {
                Report(e);
                ++failures;
            }
        }
        return failures ? 1 : 0;
    }

    if (command == "list") {
        long area = 0;
        if (args.size() != 2)
            return Usage("list needs AREA");
        if (!ParseLong(args[1], 1, 2147483647L, area))
            return Usage(("not an area number: " + args[1]).c_str());
        std::vector<wcadmin::FileInfo> files;
        if (const auto e = wcadmin::ListFiles(home, int(area), files); !e.empty())
            return Report(e);
        for (const auto& f : files)
            std::printf("%-15s %10d %s %s\n", f.name.c_str(), f.size, DateText(f.fileTime).c_str(),
                        f.description.c_str());
        return 0;
    }

    if (command == "copy-store") {
        if (args.size() != 3 || (args[1] != "--to" && args[1] != "--from"))
            return Usage("copy-store needs --to CONN or --from CONN");
        const std::string& other = args[2];
        if (args[1] == "--to")
            return Report(wcadmin::CopyStore(home, std::string(), other));
        return Report(wcadmin::CopyStore(home, other, std::string()));
    }

    if (command == "demo") {
        wcadmin::DemoOptions options;
        for (size_t i = 1; i < args.size(); ++i) {
            long v = 0;
            const bool hasValue = i + 1 < args.size();
            if (args[i] == "--no-files") {
                options.noFiles = true;
            } else if (args[i] == "--areas" && hasValue && ParseLong(args[i + 1], 1, 10000, v)) {
                options.areas = int(v);
                ++i;
            } else if (args[i] == "--files" && hasValue && ParseLong(args[i + 1], 0, 20000000, v)) {
                options.files = v;
                ++i;
            } else if (args[i] == "--seed" && hasValue &&
                       ParseLong(args[i + 1], 0, 4294967295L, v)) {
                options.seed = uint32_t(v);
                ++i;
            } else {
                return Usage(("bad argument to demo: " + args[i]).c_str());
            }
        }
        return Report(wcadmin::MakeDemo(home, options));
    }

    return Usage(("unknown command: " + command).c_str());
}
