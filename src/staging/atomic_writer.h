// Files on flash are never written in place: openAtomic hands out a stream on
// a fresh temporary and stages its move onto the target.
#pragma once
#include <cstdint>
#include <string>

#include "staging/atomic_file.h"
#include "staging/staged_changes.h"

// sizeHint: bytes the caller expects to write (0 = unknown); mode: permission
// word for the file (0 = keep mkstemp's 0600). On failure out is left failed
// (errno tells why) and nothing is staged. Returns whether out is open. The
// set outlives the stream.
bool openAtomic(AtomicFile& out, StagedChanges& set, const std::string& target, uint32_t sizeHint,
                uint32_t mode);

// "/flash/var/pdb/" -> "/flash/var"; "/flash" -> "/"; "image" -> "."; "/" -> ".".
std::string parentDirectory(const std::string& path);
// Creates path and every missing ancestor; failures are ignored.
void makeDirectories(const std::string& path);
