#include "package/package_reader.h"

#include <algorithm>

#include "package/part_buffer.h"
#include "platform/endian.h"

namespace {

// Text parts are metadata shown in listings; a longer part is kept to its
// first kMaxTextLength bytes and the rest is skipped with the part, so a
// hostile length never decides an allocation.
constexpr uint32_t kMaxTextLength = 4096;

std::string decodeName(const uint8_t* field) {
  size_t n = 0;
  while (n < 16 && field[n] != 0) ++n;
  return std::string(reinterpret_cast<const char*>(field), n);
}

}  // namespace

PackageReader::PackageReader(std::streambuf* source, bool hashing, std::streambuf* copySink)
    : std::istream(nullptr), buffer_(new PartBuffer(source, hashing, copySink)) {
  rdbuf(buffer_);
  if (!buffer_->readFileHeader()) setstate(std::ios_base::badbit);
}

PackageReader::~PackageReader() { delete buffer_; }

void PackageReader::accept(int32_t type) { buffer_->accepted.push_back(type); }
void PackageReader::acceptAll() { buffer_->acceptEvery = true; }

int PackageReader::nextPart() {
  if (fail()) {  // fail or bad
    buffer_->type = -1;
    return -1;
  }
  clear();
  int32_t type = buffer_->advance();
  if (type < 0) setstate(std::ios_base::eofbit | std::ios_base::failbit);
  return type;
}

int32_t PackageReader::partType() const { return buffer_->type; }
uint32_t PackageReader::magic() const { return buffer_->magic; }
uint32_t PackageReader::fileSize() const { return buffer_->fileSize; }
uint32_t PackageReader::partLength() const { return buffer_->partLength; }
uint32_t PackageReader::partStart() const { return buffer_->partStart; }
uint32_t PackageReader::remaining() const { return buffer_->remaining; }

bool PackageReader::hashing() const { return buffer_->hashing(); }
void PackageReader::closeDigest() { buffer_->closeDigest(); }
const uint8_t* PackageReader::digestBuffer() const { return buffer_->digestBuffer(); }
bool PackageReader::digestIsSha256() const { return buffer_->sha256Running(); }
bool PackageReader::readUndigested(uint8_t* out, uint32_t n) {
  return buffer_->readUndigested(out, n);
}
std::streambuf* PackageReader::partBuffer() { return buffer_; }

namespace {

// Reads the current text part, up to kMaxTextLength bytes. A short read is
// left in the stream state for the following nextPart to notice.
void readText(PackageReader& reader, std::string& out) {
  uint32_t n = std::min(reader.remaining(), kMaxTextLength);
  out.resize(n);
  reader.read(out.data(), n);
  out.resize(static_cast<size_t>(reader.gcount()));
}

}  // namespace

bool PackageReader::readRelations(std::vector<Relation>& list) {
  uint8_t count[2];
  if (!read(reinterpret_cast<char*>(count), 2)) return false;
  uint16_t n = decodeFixed16(count);
  // Reserve only what the part can actually hold.
  list.reserve(list.size() + std::min<uint32_t>(n, buffer_->remaining / 32));
  for (uint16_t i = 0; i < n; ++i) {
    uint8_t entry[32];
    if (!read(reinterpret_cast<char*>(entry), 32)) return false;
    Relation r;
    r.name = decodeName(entry);
    r.minVersion = decodeFixed32(entry + 16);
    r.maxVersion = decodeFixed32(entry + 24);
    r.priority = static_cast<int32_t>(decodeFixed32(entry + 28));
    list.push_back(std::move(r));
  }
  return true;
}

bool PackageReader::readHeader(PackageInfo& record) {
  int32_t type = buffer_->type;
  if (type != PartHeader && type != PartBundleHeader) return false;
  record.isBundle = type == PartBundleHeader;
  uint8_t header[32];
  if (!read(reinterpret_cast<char*>(header), 32)) return false;
  record.name = decodeName(header);
  record.version = decodeFixed32(header + 16);
  record.buildTime = decodeFixed32(header + 20);
  uint8_t flags[4];
  if (read(reinterpret_cast<char*>(flags), 4)) {
    record.flags = decodeFixed32(flags);
  } else {
    record.flags = 0;
    clear();
  }
  nextPart();
  if (partType() == PartText24) {
    readText(*this, record.text24);
    nextPart();
  }
  if (partType() == PartArchitecture) {
    readText(*this, record.architecture);
    nextPart();
  } else {
    record.architecture = "i386";
  }
  if (partType() == PartText2) {
    readText(*this, record.text2);
    nextPart();
  }
  if (partType() == PartNote) {
    readText(*this, record.note);
    nextPart();
  }
  if (partType() == PartDependencies) {
    if (!readRelations(record.dependencies)) return false;
    nextPart();
  }
  if (partType() == PartProvides) {
    if (!readRelations(record.provides)) return false;
    nextPart();
  }
  if (partType() == PartConflicts) {
    if (!readRelations(record.conflicts)) return false;
    nextPart();
  }
  if (partType() == PartBlob) record.hasBlob = true;
  return true;
}
