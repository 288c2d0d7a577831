// Finding the uploaded package files of one directory and reading their
// headers, so the candidates can be ordered before any of them is installed.
#include <dirent.h>
#include <sys/stat.h>

#include <memory>

#include "console/messages.h"
#include "package/package_reader.h"
#include "platform/fd_stream_buffer.h"
#include "upgrade/upgrade_driver.h"

namespace {

// The scan reads header parts only and skips payloads by seeking.
constexpr long kReadBlock = 4096;

bool endsWith(const std::string& text, const char* suffix) {
  const std::string tail(suffix);
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Reads the headers of one package file into candidate; false when the file
// is broken (declared size wrong, header or member headers unreadable).
bool readCandidate(const std::string& path, PackageCandidate& candidate) {
  InputFile file(path, kReadBlock);
  struct stat status;
  // A folder or anything else but a plain file is no package.
  if (!file.isOpen() || fstat(file.fd(), &status) != 0 || !S_ISREG(status.st_mode)) return false;
  // No digest: the scan never checks a signature, and without one the reader
  // skips the payload by seeking instead of reading and hashing all of it
  // (halving what an upgrade reads; the parts it does read are the same).
  PackageReader reader(file.buffer(), false, nullptr);

  // A cut or padded upload would only fail late in the payload; the size the
  // file header declares tells at once.
  if (static_cast<uint64_t>(status.st_size) != static_cast<uint64_t>(reader.fileSize())) return false;

  for (int32_t type : {PartBundleHeader, PartHeader, PartText24, PartArchitecture, PartText2, PartNote,
                       PartDependencies, PartProvides, PartConflicts, PartBlob}) {
    reader.accept(type);
  }
  candidate.recorded = reader.magic() != UnrecordedMagic;
  candidate.isBundle = reader.nextPart() == PartBundleHeader;
  if (!reader.readHeader(candidate)) return false;
  if (!candidate.isBundle) return true;

  // A bundle's member headers follow its own; a bundle without members is broken.
  for (;;) {
    if (reader.partType() == PartBlob) reader.nextPart();
    if (reader.partType() != PartHeader) return !candidate.members.empty();
    auto member = std::make_shared<PackageInfo>();
    if (!reader.readHeader(*member)) return false;
    candidate.members.push_back(std::move(member));
  }
}

}  // namespace

void scanPackageDirectory(const std::string& directory,
                          std::vector<std::unique_ptr<PackageCandidate>>& candidates) {
  DIR* listing = opendir(directory.c_str());
  if (listing == nullptr) return;
  while (const dirent* entry = readdir(listing)) {
    const std::string name = entry->d_name;
    if (name.empty() || name[0] == '.') continue;
    const std::string path = directory + name;
    if (!endsWith(path, ".qpk") && !endsWith(path, ".zpk")) continue;

    auto candidate = std::make_unique<PackageCandidate>();
    candidate->path = path;
    if (!readCandidate(path, *candidate)) {
      printError("broken package %s", name.c_str());
      continue;
    }
    candidates.push_back(std::move(candidate));
  }
  closedir(listing);
}
