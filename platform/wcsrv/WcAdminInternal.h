// Helpers shared by the admin functions and the demo builder.
#pragma once

#include "WcStore.h"

#include <memory>
#include <string>
#include <vector>

namespace wcadmin::detail
{

// The store of the BBS in `home` (the database setting in use: see
// wcadmin::UseDatabase). Null on failure, with a message in `error`.
std::unique_ptr<wcstore::Store> OpenStore(const std::string& home, bool create, std::string& error);

bool MakeFolders(const std::string& path);
// "areas/<number>" under the home folder.
std::string DefaultAreaFolder(int number);

// The lines of a FILE_ID.DIZ text (line ends CR LF or LF).
std::vector<std::string> SplitLines(const std::string& text);
// Fills Description, LongDescription and HasLongDescription from the lines.
void ApplyDiz(FullFileRec& rec, const std::vector<std::string>& lines);
// The FILE_ID.DIZ inside a zip archive open as `fd` (member name compared by
// its last part, without regard to case). False when there is none. The
// archive is read through a copy of the descriptor, which is left at the
// file's start.
bool ReadDizFromZip(int fd, std::string& text);

void SetField(char* field, size_t size, const std::string& text);

} // namespace wcadmin::detail
