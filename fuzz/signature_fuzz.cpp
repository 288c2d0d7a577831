// Signature checks on hostile input. The input is a package file; the reader
// walks it as the installer does and the signature part, wherever it is and
// whatever its size, goes to verifySignature (both forms, both digest kinds,
// seeds signed with the development keys). The legacy check also gets the
// input's first 88 bytes directly. Whether a change can ever verify is the
// sweep's question (tests/robustness); this target looks for crashes.
#include <cstdint>

#include "crypto/legacy_signature.h"
#include "fuzz_root.h"
#include "memory_source.h"
#include "package/signature.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzroot::enter();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size >= 20 + 68) {
    static const uint8_t key[32] = {9};
    verifyLegacySignature(data, data + 20, key);
  }

  MemorySource source(data, size, true);
  PackageReader reader(&source, true, nullptr);
  for (int32_t type : {PartHeader, PartBundleHeader, PartBundleMembers, PartArchitecture, PartDependencies,
                       PartProvides, PartConflicts, PartBlob, PartFiles, PartSignature}) {
    reader.accept(type);
  }
  PackageInfo package;
  for (int type = reader.nextPart(), steps = 0; type >= 0 && steps < 100000; type = reader.nextPart(), ++steps) {
    if (type == PartHeader) {
      package = PackageInfo();
      if (!reader.readHeader(package)) continue;
      type = reader.partType();
    }
    if (type == PartSignature) verifySignature(package, reader, nullptr);
  }
  return 0;
}
