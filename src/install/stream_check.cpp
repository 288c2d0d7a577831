#include "install/stream_check.h"

#include <cstring>

#include "package/package_reader.h"
#include "package/signature.h"

namespace {

// One package from its header part to its signature; the reader ends on the
// part after the signature. A good one's digest joins digests.
bool checkPackage(PackageReader& reader, std::vector<std::array<uint8_t, 32>>& digests) {
  PackageInfo info;
  if (!reader.readHeader(info)) {
    reader.nextPart();  // a failed read leaves the reader at the end
    return false;
  }
  while (reader.partType() >= 0 && reader.partType() != PartSignature && reader.partType() != PartHeader) {
    reader.nextPart();
  }
  if (reader.partType() != PartSignature) return false;
  const bool valid = verifySignature(info, reader, nullptr);
  if (valid) {
    digests.emplace_back();
    std::memcpy(digests.back().data(), reader.digestBuffer(), 32);
  }
  reader.nextPart();
  return valid;
}

}  // namespace

StreamCheck checkStream(std::streambuf* source, std::streambuf* copySink) {
  StreamCheck check;
  PackageReader reader(source, true, copySink);
  reader.acceptAll();
  reader.nextPart();
  int packages = 0;
  bool good = true;
  if (reader.partType() == PartHeader) {
    good = checkPackage(reader, check.digests);
    packages = 1;
  } else if (reader.partType() == PartBundleHeader) {
    PackageInfo bundle;
    reader.readHeader(bundle);
    while (reader.partType() >= 0 && reader.partType() != PartHeader) reader.nextPart();
    while (check.sealed && reader.partType() == PartHeader) {
      good = checkPackage(reader, check.digests) && good;
      ++packages;
      if (reader.partType() == PartArchitecture) reader.nextPart();
      else if (reader.partType() == PartHeader) continue;
      check.sealed = reader.partType() == -1;
    }
  }
  // Whatever follows is read too, so a copy sink holds the whole stream.
  while (reader.partType() >= 0) reader.nextPart();
  check.allSigned = good && packages > 0 && reader.partStart() >= reader.fileSize();
  return check;
}
