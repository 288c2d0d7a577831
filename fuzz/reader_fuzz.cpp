// Package reader: readHeader and readRelations over each list of accepted part
// types the program uses, on a seekable source (a file) and an unseekable one
// (standard input). The first input byte picks the list and the source; the
// rest is the package file.
#include <cstdint>
#include <sstream>
#include <vector>

#include "fuzz_root.h"
#include "memory_source.h"
#include "package/package_reader.h"

namespace {

const std::vector<int32_t> kLists[3] = {
    // installing from a stream, hashing on
    {PartHeader, PartBundleHeader, PartBundleMembers, PartArchitecture, PartDependencies, PartProvides,
     PartConflicts, PartBlob, PartFiles, PartSignature},
    // scanning uploaded files, hashing on
    {PartBundleHeader, PartHeader, PartText24, PartArchitecture, PartText2, PartNote, PartDependencies,
     PartProvides, PartConflicts, PartBlob},
    // loading stored images, hashing off
    {PartBundleHeader, PartHeader, PartText24, PartNote, PartDependencies, PartProvides, PartConflicts},
};

bool isRelationList(int type) {
  return type == PartDependencies || type == PartProvides || type == PartConflicts || type == PartBundleMembers;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzroot::enter();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const int list = data[0] % 3;
  const bool seekable = (data[0] & 0x10) == 0;
  const bool copy = (data[0] & 0x20) != 0;
  MemorySource source(data + 1, size - 1, seekable);
  std::stringbuf sink;
  PackageReader reader(&source, list != 2, copy ? &sink : nullptr);
  for (int32_t type : kLists[list]) reader.accept(type);

  // Every part the reader stops on gets what its users would do with it.
  // Each step consumes at least one part header, so the walk ends; the bound
  // only guards against a reader that stops moving.
  int type = reader.nextPart();
  for (int steps = 0; type >= 0 && steps < 100000; ++steps) {
    if (type == PartHeader || type == PartBundleHeader) {
      PackageInfo record;
      int before = reader.partType();
      uint32_t start = reader.partStart();
      if (!reader.readHeader(record) && reader.partType() == before && reader.partStart() == start) {
        type = reader.nextPart();
      } else {
        type = reader.partType();
      }
      continue;
    }
    if (isRelationList(type)) {
      std::vector<Relation> relations;
      reader.readRelations(relations);
    } else if (type == PartFiles || type == PartBlob) {
      char chunk[512];
      reader.read(chunk, sizeof chunk);
      reader.clear(reader.rdstate() & ~std::ios::failbit & ~std::ios::eofbit);
      reader.seekg(7, std::ios_base::cur);
    } else if (type == PartSignature && reader.hashing()) {
      reader.closeDigest();
      uint8_t signature[132];
      uint32_t n = reader.remaining() >= 132 ? 132 : reader.remaining() >= 68 ? 68 : 0;
      if (n != 0) reader.readUndigested(signature, n);
    }
    type = reader.nextPart();
  }
  return 0;
}
