// Unpacking the file payload: entries are inflated through fixed buffers and
// every regular file goes to a staged temporary, so nothing under "/flash"
// changes before the run commits.
#include "package/payload.h"

#include <istream>
#include <memory>

#include "console/messages.h"
#include "model/install_rules.h"
#include "package/inflate_buffer.h"
#include "platform/endian.h"
#include "staging/atomic_writer.h"

namespace {

constexpr size_t kEntryHeadSize = 30;
// Large enough that most files leave in one write.
constexpr size_t kCopyChunk = 131072;
constexpr uint16_t kTypeMask = 0xF000;
constexpr uint16_t kRegularFile = 0x8000;

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

    const char* problem = nullptr;
    const std::string target = installedPath(package.disabled ? "/x/" + package.name + "/" : "/", stored, &problem);
    if (target.empty()) {
      reportBrokenPackage(package);
      return false;
    }

    AtomicFile out;
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
