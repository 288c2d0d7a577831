// Payload extraction: unpackFiles over a scratch root. The first input byte
// chooses how the rest is used: bit 0 clear, the rest is the inflated entry
// sequence and is compressed here (so the fuzzer works on the entries);
// set, it is the raw part data (so it works on the zlib stream itself). Bit 1
// unpacks as a disabled package (files under /flash/x/<name>). The staged
// temporaries are discarded after every input.
#include <zlib.h>

#include <cstdint>
#include <sstream>
#include <string>

#include "fuzz_root.h"
#include "memory_source.h"
#include "package/payload.h"
#include "qpk/package_builder.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzroot::enter();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const bool raw = (data[0] & 1) != 0;
  std::string part(reinterpret_cast<const char*>(data + 1), size - 1);
  if (!raw) {
    uLongf bound = compressBound(part.size());
    std::string packed(bound, '\0');
    if (compress2(reinterpret_cast<Bytef*>(packed.data()), &bound, reinterpret_cast<const Bytef*>(part.data()),
                  part.size(), 1) != Z_OK)
      return 0;
    packed.resize(bound);
    part.swap(packed);
  }
  qpk::PartWriter writer;
  writer.part(PartFiles, part);
  const std::string file = writer.finish();

  MemorySource source(reinterpret_cast<const uint8_t*>(file.data()), file.size(), true);
  PackageReader reader(&source, true, nullptr);
  reader.accept(PartFiles);
  if (reader.nextPart() != PartFiles) return 0;

  Package package("fuzz");
  package.disabled = (data[0] & 2) != 0;
  StagedChanges staged;
  unpackFiles(package, staged, reader);
  // Every file written went to a staged temporary and nowhere else.
  for (const auto& [target, change] : staged) {
    if (change.kind != ChangeKind::MoveTemporary) __builtin_trap();
    if (target.compare(0, 7, "/flash/") != 0) __builtin_trap();
  }
  discardChanges(staged);
  return 0;
}
