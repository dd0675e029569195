// The names in area folders that the library searches often, kept in
// memory and up to date through inotify, so that looking for a name in
// other letter cases asks no one but the index.
//
// Looking for a name that is not there costs one look-up per spelling of
// the name (16 for a name with four letters), each a search of the folder
// on the disk. A run that moves a thousand files into one folder pays that
// a thousand times. Once a folder has been searched about as often as it
// would cost to read it, its names are read once and kept; the kernel
// tells every later change to the folder, by any process, before the
// change's call returns, so the index answers as the folder stands.
//
// Only folders on local file systems are indexed: a folder that another
// machine writes over the network changes without telling this one.
#pragma once

#include <string>
#include <string_view>

namespace wcstore::folderindex
{

// Looks for the entry that stands for the record name `name` in `folder`
// in another letter case, after the entry of exactly that name was not
// found: true with `found` (the entry's name, empty for none) when the
// folder is indexed; false when the caller must search the folder itself.
bool FindVariant(const std::string& folder, std::string_view name, std::string& found);

// How many searches of one folder come before it is indexed: 0 for the
// folder's own measure (as many searches as it costs to read it), 1 and
// more for that many, negative for never. WCSRV_FOLDER_INDEX_AFTER sets the
// same for a process.
void SetSearchesBeforeIndex(int searches);

// Whether folders on the file system of `folder` are ever indexed (those
// of local file systems, where inotify is to be had).
bool Indexable(const std::string& folder);

// The folders indexed now.
int IndexedFolders();

// Forgets every index (and stops watching their folders).
void DropAll();

} // namespace wcstore::folderindex
