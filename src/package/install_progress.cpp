#include <cstdint>
#include <string>

#include "console/messages.h"
#include "model/package.h"
#include "package/package_reader.h"

void installProgress(const Package& package, PackageReader& reader) {
  std::string line = "installing ";
  if (package.disabled && package.bundle.name.empty()) line += " (disabled) ";
  line += reportLabel(package);
  line += " [";
  uint64_t width = line.size() < 76 ? 76 - line.size() : 0;
  uint64_t position = static_cast<uint64_t>(reader.partStart()) +
                      (reader.partLength() - reader.remaining());
  uint64_t size = reader.fileSize();
  // A declared size of 0 (a length field of 0xFFFFFFF8) says nothing about
  // progress, and a position past the declared size cannot fill beyond the bar.
  uint64_t filled = size == 0 ? 0 : position * width / size;
  if (filled > width) filled = width;
  line.append(filled, '#');
  line.append(width - filled, ' ');
  line += "]";
  setProgressLine(line);
}
