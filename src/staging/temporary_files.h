// Where temporaries live. Every temporary the program makes is created in a
// folder of its own, ".installer", at the top of the file system it belongs
// to ("/flash/.installer", "/flash/boot/.installer" when that is a file system
// of its own, "/ram/.installer", or "/tmp/.installer" without a "/ram"). A run
// cut off by a kill or a power cut therefore leaves its temporaries in known
// places only, where the next run finds and deletes them; nothing else in
// those folders is ever touched but files named like a temporary.
#pragma once
#include <set>
#include <string>

inline constexpr const char* kTemporaryFolderName = ".installer";
inline constexpr const char* kRamTemporaries = "/ram/.installer";
inline constexpr const char* kTmpTemporaries = "/tmp/.installer";

// The temporaries' folder on the file system of directory, which must exist:
// its top within the first path component, so "/flash/bin" on the same file
// system as "/flash" gives "/flash/.installer".
std::string temporaryFolderOn(const std::string& directory);

// Creates a fresh, empty temporary (mode 0600) in folder, making the folder
// when it is missing. Returns the open descriptor and sets *path, or -1 with
// errno set.
int createTemporary(const std::string& folder, std::string* path);

// Whether path names a temporary in one of the program's folders.
bool isTemporaryPath(const std::string& path);

// Deletes every temporary in the program's folders but those in keep, then
// removes the folders that are left empty.
void deleteTemporaries(const std::set<std::string>& keep);
// Removes the program's folders where they are empty, so that a run leaves
// no trace when it changes nothing.
void removeEmptyTemporaryFolders();
