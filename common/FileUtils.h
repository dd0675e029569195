// Text padding and the few disk-file chores of the file list and the zip
// functions. Disk paths use the host's separator '/'.
#pragma once

#include <QByteArray>
#include <QChar>
#include <QString>

// Text of exactly `width` characters: a longer text is cut on the right;
// a shorter one is filled with `fill` in front when `side` is 'L' or 'l'
// (right-aligned), behind it otherwise. A negative width gives "".
QString PadToWidth(const QString& text, QChar fill, int width, QChar side);

// Deletes one file (not a folder). False when the path is empty, longer
// than 260 characters, or the platform refuses.
bool DeleteDiskFile(const QString& path);

// `path` with a '/' added when its last character isn't one; "" stays "".
QString WithTrailingBackslash(const QString& path);

// True when `path` (one trailing '/' dropped) names an existing entry: a
// folder, but also an ordinary file; the wildcards * and ? count when anything
// matches them ("[" and "]" are ordinary characters).
bool FolderExists(const QString& path);

// True when the wildcard pattern yields an entry whose name equals `name`,
// ASCII letters compared without regard to case. Hidden names count.
bool FolderEntryExists(const QString& pattern, const QString& name);

// Creates every missing level of `path`, which ends in '/' (a last part
// without '/' behind it is not created). Returns FolderExists(path)
// afterwards. A level that can't be created throws WriteError with the
// platform's error text.
bool MakeFolderPath(const QString& path);

// Opens a disk file for reading only when it is a regular file; -1 for
// anything else. O_NONBLOCK keeps a FIFO from blocking the open, the type is
// checked on the open file (not on the name, which could change between),
// and the descriptor is then blocking again. `notRegular` (when given) says
// whether the file opened but was no regular file; otherwise errno holds
// why the open failed.
int OpenRegularFile(const QString& path, bool* notRegular = nullptr);
// The same for a path given as its bytes (names that are not UTF-8).
int OpenRegularFile(const QByteArray& path, bool* notRegular = nullptr);

// Longest disk path the helpers accept.
constexpr int MaxDiskPath = 260;

// How ReplaceFileInFolder ended.
enum class ReplaceOutcome { Written, FolderIsLink, Failed };

// Writes `bytes` as the file `name` in `folder` (made when missing). The
// bytes go into a new file beside it, which is then renamed over the name:
// whatever lay under the name (a link planted there, pointing anywhere the
// program could write) is replaced and never followed, and a failed write
// leaves the old file whole. A `folder` that is itself a link is refused
// (FolderIsLink), nothing written. An old file's permissions are kept.
ReplaceOutcome ReplaceFileInFolder(const QString& folder, const QString& name,
                                   const QByteArray& bytes);
