// What an author's tool and the installer's first pass read of any file:
// "qpk info", as text and as JSON (it must end, whatever the parts and
// payload entries say), and the stream check that finds every signature
// before anything is unpacked.
// The input is a package file.
#include <cstdint>
#include <sstream>
#include <string>

#include "fuzz_root.h"
#include "install/stream_check.h"
#include "memory_source.h"
#include "qpk/commands.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzroot::enter();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  for (const bool json : {false, true}) {
    std::istringstream in(bytes);
    qpk::describePackageFile(in, size, "input", json);
  }
  MemorySource source(data, size, true);
  checkStream(&source, nullptr);
  return 0;
}
