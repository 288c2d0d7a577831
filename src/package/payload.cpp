// Unpacking the file payload: entries are inflated through fixed buffers and
// every regular file goes to a staged temporary, so nothing under "/flash"
// changes before the run commits.
#include "package/payload.h"

#include <limits.h>

#include <fstream>
#include <istream>
#include <memory>

#include "console/messages.h"
#include "package/inflate_buffer.h"
#include "platform/endian.h"
#include "staging/atomic_writer.h"

namespace {

constexpr size_t kEntryHeadSize = 30;
constexpr size_t kCopyChunk = 16384;
constexpr uint16_t kTypeMask = 0xF000;
constexpr uint16_t kRegularFile = 0x8000;

// The final path of a regular file, or "" when the stored path cannot be
// installed: it would leave the package's tree (a ".." component), land in
// the package database (a payload could then make packages that were never
// installed, or rewrite another's file list), name a folder (its last part
// empty or "."), hold a byte the files list or the manifest cannot carry
// (newline, NUL, space), or not fit the file system's name limits. Empty
// and "." components are dropped, so one file has one path. The whole path
// is checked, so a package name cannot smuggle anything in either.
std::string finalPath(const Package& package, const std::string& stored) {
  std::string relative = package.disabled ? "/x/" + package.name + "/" : "/";
  relative += stored;
  if (relative.find_first_of(std::string(" \n\0", 3)) != std::string::npos) return "";
  const std::string last = relative.substr(relative.rfind('/') + 1);
  if (last.empty() || last == ".") return "";
  std::string path = "/flash";
  size_t start = 0;
  while (start < relative.size()) {
    size_t end = relative.find('/', start);
    if (end == std::string::npos) end = relative.size();
    const std::string part = relative.substr(start, end - start);
    if (part == ".." || part.size() > NAME_MAX) return "";
    if (!part.empty() && part != ".") path += "/" + part;
    start = end + 1;
  }
  const std::string database(kDatabaseDirectory);
  if (path.size() >= PATH_MAX || path + "/" == database || path.compare(0, database.size(), database) == 0) return "";
  return path;
}

}  // namespace

bool unpackFiles(Package& package, StagedChanges& staged, PackageReader& reader) {
  InflateBuffer inflater(reader.partBuffer());
  std::istream in(&inflater);
  std::unique_ptr<char[]> copy(new char[kCopyChunk]);

  while (in) {
    char head[kEntryHeadSize];
    // A payload that ends at an entry boundary, or inside a head, is complete.
    if (!in.read(head, kEntryHeadSize)) return true;
    const auto* h = reinterpret_cast<const uint8_t*>(head);
    const uint16_t mode = decodeFixed16(h);
    const uint8_t skipMark = h[23];
    const uint32_t dataLength = decodeFixed32(h + 24);
    const uint16_t pathLength = decodeFixed16(h + 28);

    std::string stored(pathLength, '\0');
    if (!in.read(stored.data(), pathLength)) {
      reportBrokenPackage(package);
      return false;
    }

    if ((mode & kTypeMask) != kRegularFile || skipMark != 0) {
      // Directories, links and marked entries are not created; their data is
      // inflated and dropped. A failed skip fails the stream and ends the loop.
      in.seekg(dataLength, std::ios_base::cur);
      continue;
    }

    const std::string target = finalPath(package, stored);
    if (target.empty()) {
      reportBrokenPackage(package);
      return false;
    }

    std::ofstream out;
    if (!openAtomic(out, staged, target, dataLength, mode)) {
      reportWriteFailure(package, stored);
      return false;
    }
    package.files.insert(target);

    uint32_t left = dataLength;
    while (left > 0) {
      const uint32_t chunk = left < kCopyChunk ? left : static_cast<uint32_t>(kCopyChunk);
      if (!in.read(copy.get(), chunk)) {
        reportBrokenPackage(package);
        return false;
      }
      out.write(copy.get(), chunk);
      if (!out) {
        reportWriteFailure(package, stored);
        return false;
      }
      left -= chunk;
    }
    out.close();
    if (!out) {
      reportWriteFailure(package, stored);
      return false;
    }
    installProgress(package, reader);
  }
  return true;
}
