// qpk info: every part of a package file, decoded where the installer
// interprets it. Walks the raw parts itself so that unknown, cut or
// misplaced parts are shown as they are. One walk feeds either output, the
// text for people or the JSON document for scripts, so the two never
// disagree about a file.
#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

#include "model/package.h"
#include "model/version.h"
#include "package/package_reader.h"
#include "platform/endian.h"
#include "qpk/commands.h"
#include "qpk/json_writer.h"

namespace qpk {

namespace {

const char kInfoHelp[] =
    "usage: qpk info [--json] FILE\n"
    "\n"
    "Shows the file header, every part (offset, type, length), the decoded\n"
    "header, texts and relations, the payload's entries (mode, size, path) and\n"
    "the signature form, and whether the declared length matches the file size.\n"
    "\n"
    "  --json   the same as one JSON document (fields in qpk(1))\n";

// Texts are shown up to this many bytes.
constexpr size_t kShownText = 200;

const char* partName(uint32_t type) {
  switch (type) {
    case PartHeader: return "header";
    case PartText2: return "text2";
    case PartDependencies: return "dependencies";
    case PartFiles: return "files";
    case PartSignature: return "signature";
    case PartArchitecture: return "architecture";
    case PartConflicts: return "conflicts";
    case PartBundleHeader: return "bundle header";
    case PartProvides: return "provides";
    case PartBundleMembers: return "bundle members";
    case PartBlob: return "blob";
    case PartNote: return "note";
    case PartText24: return "text24";
    case PartDigestSwitch: return "digest switch";
    default: return "unknown";
  }
}

std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text.substr(0, kShownText)) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    }
  }
  out += "\"";
  if (text.size() > kShownText) out += "...";
  return out;
}

std::string nameField(const uint8_t* p) {
  size_t n = 0;
  while (n < 16 && p[n] != 0) ++n;
  return std::string(reinterpret_cast<const char*>(p), n);
}

std::string versionShown(Version v) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08X", v);
  return versionText(v) + " (" + hex + ")";
}

// ---- what the walk finds ----

// A header part (types 1 and 18); a 32-byte header has no flags field.
struct HeaderFacts {
  size_t size = 0;
  bool whole = false;  // at least the 32 bytes every header has
  std::string name;
  Version version = 0;
  uint32_t buildTime = 0;
  bool hasFlags = false;
  uint32_t flags = 0;
};

HeaderFacts decodeHeader(const std::string& data) {
  HeaderFacts h;
  h.size = data.size();
  if (data.size() < 32) return h;
  const auto* p = reinterpret_cast<const uint8_t*>(data.data());
  h.whole = true;
  h.name = nameField(p);
  h.version = decodeFixed32(p + 16);
  h.buildTime = decodeFixed32(p + 20);
  h.hasFlags = data.size() >= 36;
  if (h.hasFlags) h.flags = decodeFixed32(p + 32);
  return h;
}

// A relation list (types 3, 17, 19, 20): a 2-byte count, then 32-byte entries.
struct RelationFacts {
  bool whole = false;  // at least the count
  uint16_t count = 0;
  std::vector<Relation> entries;  // fewer than count when the list is cut short
  size_t bytesAfter = 0;          // bytes of the part after a whole list
};

RelationFacts decodeRelations(const std::string& data) {
  RelationFacts r;
  if (data.size() < 2) return r;
  const auto* p = reinterpret_cast<const uint8_t*>(data.data());
  r.whole = true;
  r.count = decodeFixed16(p);
  for (uint32_t i = 0; i < r.count; ++i) {
    size_t at = 2 + static_cast<size_t>(i) * 32;
    if (at + 32 > data.size()) return r;
    const uint8_t* e = p + at;
    r.entries.push_back({nameField(e), decodeFixed32(e + 16), decodeFixed32(e + 24),
                         static_cast<int32_t>(decodeFixed32(e + 28))});
  }
  size_t used = 2 + static_cast<size_t>(r.count) * 32;
  if (data.size() > used) r.bytesAfter = data.size() - used;
  return r;
}

enum class StreamEnd { Complete, CutShort, Broken };

struct PayloadFacts {
  uint32_t entries = 0;
  uint64_t inflated = 0;
  StreamEnd stream = StreamEnd::Complete;
  bool lastEntryCut = false;
};

// Receives the facts in file order. Every part begins with partStart and
// ends with partEnd; in between come its cut, or what it decodes to.
class InfoOutput {
 public:
  virtual ~InfoOutput() = default;
  virtual void begin(const char* path, uint32_t magic, uint32_t declared, uint64_t fileSize) = 0;
  // The file ends inside a part's 6-byte header.
  virtual void partHeaderCut(uint64_t offset, uint64_t present) = 0;
  virtual void partStart(uint64_t offset, uint16_t type, uint32_t length) = 0;
  virtual void partCut(uint64_t present, uint32_t length) = 0;
  virtual void header(const HeaderFacts& h) = 0;
  virtual void text(const std::string& data) = 0;
  virtual void relations(const RelationFacts& r) = 0;
  virtual void payloadEntry(uint16_t mode, uint32_t size, const std::string& path, bool skipped) = 0;
  virtual void payloadEnd(const PayloadFacts& p) = 0;
  virtual void signature(uint32_t length, bool sha256) = 0;
  virtual void partEnd() = 0;
  virtual void end(bool complete) = 0;
};

// ---- the text for people ----

class TextInfo : public InfoOutput {
 public:
  void begin(const char* path, uint32_t magic, uint32_t declared, uint64_t fileSize) override {
    std::printf("file: %s\n", path);
    std::printf("magic: 0x%08X (%s)\n", magic, magic == PackageMagic ? "package" : "unrecorded package");
    uint64_t declaredSize = static_cast<uint64_t>(declared) + 8;
    if (declaredSize == fileSize) {
      std::printf("length: %u + 8 = %llu, matches the file size\n", declared,
                  static_cast<unsigned long long>(fileSize));
    } else {
      std::printf("length: %u + 8 = %llu, DOES NOT match the file size of %llu bytes\n", declared,
                  static_cast<unsigned long long>(declaredSize), static_cast<unsigned long long>(fileSize));
    }
    std::printf("parts:\n");
  }
  void partHeaderCut(uint64_t offset, uint64_t present) override {
    std::printf("  offset %llu: part header cut short (%llu of 6 bytes)\n",
                static_cast<unsigned long long>(offset), static_cast<unsigned long long>(present));
  }
  void partStart(uint64_t offset, uint16_t type, uint32_t length) override {
    std::printf("  offset %llu: type %u (%s), length %u\n", static_cast<unsigned long long>(offset), type,
                partName(type), length);
  }
  void partCut(uint64_t present, uint32_t length) override {
    std::printf("    part cut short: %llu of %u bytes present\n", static_cast<unsigned long long>(present),
                length);
  }
  void header(const HeaderFacts& h) override {
    if (!h.whole) {
      std::printf("    (too short for a header: %zu bytes)\n", h.size);
      return;
    }
    time_t t = h.buildTime;
    char when[64] = "";
    struct tm tmv;
    if (gmtime_r(&t, &tmv) != nullptr) std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S UTC", &tmv);
    std::printf("    name: %s\n", quoted(h.name).c_str());
    std::printf("    version: %s\n", versionShown(h.version).c_str());
    std::printf("    build time: %u (%s)\n", h.buildTime, when);
    if (h.hasFlags) {
      std::printf("    flags: 0x%X%s%s\n", h.flags, (h.flags & 1) ? " boot-image" : "",
                  (h.flags & 2) ? " state-only" : "");
    } else {
      std::printf("    flags: none (32-byte header)\n");
    }
  }
  void text(const std::string& data) override { std::printf("    %s\n", quoted(data).c_str()); }
  void relations(const RelationFacts& r) override {
    if (!r.whole) {
      std::printf("    (too short for a relation list)\n");
      return;
    }
    std::printf("    %u entr%s\n", r.count, r.count == 1 ? "y" : "ies");
    for (const Relation& e : r.entries) {
      std::printf("    %s", quoted(e.name).c_str());
      if (e.minVersion != 0) std::printf(" min %s", versionText(e.minVersion).c_str());
      if (e.maxVersion != 0) std::printf(" max %s", versionText(e.maxVersion).c_str());
      if (e.priority != 0) std::printf(" priority %d", e.priority);
      std::printf("\n");
    }
    if (r.entries.size() < r.count) {
      std::printf("    (list cut short after %zu entries)\n", r.entries.size());
    } else if (r.bytesAfter > 0) {
      std::printf("    (%zu bytes after the list)\n", r.bytesAfter);
    }
  }
  void payloadEntry(uint16_t mode, uint32_t size, const std::string& path, bool skipped) override {
    std::printf("    %06o %10u %s%s\n", mode, size, quoted(path).c_str(),
                skipped ? " (byte 23 set: skipped)" : "");
  }
  void payloadEnd(const PayloadFacts& p) override {
    std::printf("    %u entr%s, %llu bytes inflated", p.entries, p.entries == 1 ? "y" : "ies",
                static_cast<unsigned long long>(p.inflated));
    if (p.stream != StreamEnd::Complete) {
      std::printf(", compressed stream %s", p.stream == StreamEnd::CutShort ? "cut short" : "broken");
    }
    if (p.lastEntryCut) std::printf(", last entry cut short");
    std::printf("\n");
  }
  void signature(uint32_t length, bool sha256) override {
    if (length >= 132) {
      std::printf("    long form: legacy and Ed25519 over %s%s\n", sha256 ? "SHA-256" : "SHA-1",
                  length > 132 ? " (extra bytes ignored)" : "");
    } else if (length >= 68) {
      std::printf("    short form: legacy only over %s%s\n", sha256 ? "SHA-256" : "SHA-1",
                  length > 68 ? " (extra bytes ignored)" : "");
    } else {
      std::printf("    too short to be a signature\n");
    }
  }
  void partEnd() override {}
  void end(bool) override {}
};

// ---- the JSON document for scripts (fields described in qpk(1)) ----

class JsonInfo : public InfoOutput {
 public:
  void begin(const char* path, uint32_t magic, uint32_t declared, uint64_t fileSize) override {
    json_.beginObject();
    json_.key("file").string(path);
    json_.key("magic").string(magic == PackageMagic ? "package" : "unrecorded package");
    json_.key("declared_size").number(static_cast<uint64_t>(declared) + 8);
    json_.key("file_size").number(fileSize);
    json_.key("size_matches").boolean(static_cast<uint64_t>(declared) + 8 == fileSize);
    json_.key("parts").beginArray();
  }
  void partHeaderCut(uint64_t offset, uint64_t present) override {
    json_.beginObject();
    json_.key("offset").number(offset);
    for (const char* unknown : {"type", "name", "length"}) json_.key(unknown).null();
    json_.key("cut_short").boolean(true);
    json_.key("present").number(present);
    json_.end();
  }
  void partStart(uint64_t offset, uint16_t type, uint32_t length) override {
    json_.beginObject();
    json_.key("offset").number(offset);
    json_.key("type").number(type);
    json_.key("name").string(partName(type));
    json_.key("length").number(length);
  }
  void partCut(uint64_t present, uint32_t) override {
    json_.key("cut_short").boolean(true);
    json_.key("present").number(present);
  }
  void header(const HeaderFacts& h) override {
    if (!h.whole) {
      json_.key("too_short").boolean(true);
      return;
    }
    json_.key("header").beginObject();
    json_.key("name").string(h.name);
    version("version", h.version);
    json_.key("build_time").number(h.buildTime);
    if (h.hasFlags) {
      json_.key("flags").number(h.flags);
    } else {
      json_.key("flags").null();
    }
    json_.key("boot_image").boolean(h.flags & kFlagBootImage);
    json_.key("state_only").boolean(h.flags & kFlagStateOnly);
    json_.end();
  }
  void text(const std::string& data) override { json_.key("text").string(data); }
  void relations(const RelationFacts& r) override {
    if (!r.whole) {
      json_.key("too_short").boolean(true);
      return;
    }
    json_.key("count").number(r.count);
    json_.key("relations").beginArray();
    for (const Relation& e : r.entries) {
      json_.beginObject();
      json_.key("name").string(e.name);
      version("min", e.minVersion);
      version("max", e.maxVersion);
      json_.key("priority").signedNumber(e.priority);
      json_.end();
    }
    json_.end();
    if (r.bytesAfter > 0) json_.key("bytes_after").number(r.bytesAfter);
  }
  void payloadEntry(uint16_t mode, uint32_t size, const std::string& path, bool skipped) override {
    openEntries();
    json_.beginObject();
    json_.key("mode").number(mode);
    json_.key("size").number(size);
    json_.key("path").string(path);
    json_.key("skipped").boolean(skipped);
    json_.end();
  }
  void payloadEnd(const PayloadFacts& p) override {
    openEntries();
    json_.end();
    entriesOpen_ = false;
    json_.key("inflated_bytes").number(p.inflated);
    json_.key("stream").string(p.stream == StreamEnd::Complete   ? "complete"
                               : p.stream == StreamEnd::CutShort ? "cut short"
                                                                 : "broken");
    json_.key("last_entry_cut").boolean(p.lastEntryCut);
  }
  void signature(uint32_t length, bool sha256) override {
    const uint32_t form = length >= 132 ? 132 : length >= 68 ? 68 : 0;
    json_.key("form").string(form == 132 ? "long" : form == 68 ? "short" : "too short");
    json_.key("digest").string(sha256 ? "sha256" : "sha1");
    if (form != 0 && length > form) json_.key("extra_bytes").number(length - form);
  }
  void partEnd() override { json_.end(); }
  void end(bool complete) override {
    json_.end();  // the parts
    json_.key("complete").boolean(complete);
    json_.end();
  }

 private:
  // A packed version and, unless it is 0 (no bound), its text.
  void version(const char* name, Version v) {
    json_.key(name).number(v);
    if (v != 0) json_.key(std::string(name) + "_text").string(versionText(v));
  }
  void openEntries() {
    if (entriesOpen_) return;
    json_.key("entries").beginArray();
    entriesOpen_ = true;
  }

  JsonWriter json_{stdout};
  bool entriesOpen_ = false;
};

// Lists the entries of the payload by inflating it from the file, holding
// only an entry head and path at a time.
void walkPayload(std::istream& in, uint32_t length, InfoOutput& out) {
  z_stream z;
  std::memset(&z, 0, sizeof z);
  if (inflateInit(&z) != Z_OK) {
    in.ignore(length);
    return;
  }
  char input[16384];
  unsigned char output[16384];
  std::string pending;    // head and path of the entry being parsed
  uint64_t skipData = 0;  // data bytes of the current entry still to pass
  PayloadFacts facts;
  uint32_t left = length;
  int status = Z_OK;
  while (left > 0 && status == Z_OK) {
    uint32_t want = std::min<uint32_t>(left, sizeof input);
    in.read(input, want);
    uint32_t got = static_cast<uint32_t>(in.gcount());
    left -= got;
    if (got == 0) break;
    z.next_in = reinterpret_cast<Bytef*>(input);
    z.avail_in = got;
    while (z.avail_in > 0 && status == Z_OK) {
      z.next_out = output;
      z.avail_out = sizeof output;
      status = inflate(&z, Z_NO_FLUSH);
      if (status != Z_OK && status != Z_STREAM_END) break;
      size_t produced = sizeof output - z.avail_out;
      facts.inflated += produced;
      size_t at = 0;
      while (at < produced) {
        if (skipData > 0) {
          size_t n = static_cast<size_t>(std::min<uint64_t>(skipData, produced - at));
          skipData -= n;
          at += n;
          continue;
        }
        // The 30-byte head first, then as much path as the head declares.
        auto pathLength = [&] { return decodeFixed16(reinterpret_cast<const uint8_t*>(pending.data()) + 28); };
        size_t need = pending.size() < 30 ? 30 : 30 + pathLength();
        size_t n = std::min(need - pending.size(), produced - at);
        pending.append(reinterpret_cast<char*>(output) + at, n);
        at += n;
        if (pending.size() < 30 || pending.size() < 30u + pathLength()) continue;
        const auto* h = reinterpret_cast<const uint8_t*>(pending.data());
        uint32_t size = decodeFixed32(h + 24);
        out.payloadEntry(decodeFixed16(h), size, pending.substr(30), h[23] != 0);
        ++facts.entries;
        skipData = size;
        pending.clear();
      }
      if (status == Z_STREAM_END) break;
    }
  }
  if (left > 0) in.ignore(left);
  inflateEnd(&z);
  facts.stream = status == Z_STREAM_END ? StreamEnd::Complete
                 : status == Z_OK       ? StreamEnd::CutShort
                                        : StreamEnd::Broken;
  facts.lastEntryCut = skipData > 0 || !pending.empty();
  out.payloadEnd(facts);
}

// Walks the parts after the 8-byte file header; true when every part is whole.
bool walkParts(std::istream& in, uint64_t fileSize, InfoOutput& out) {
  uint64_t offset = 8;
  bool sha256 = false;  // the reader's digest is SHA-256 from the first type-25 part on
  for (;;) {
    uint8_t ph[6];
    in.read(reinterpret_cast<char*>(ph), 6);
    std::streamsize got = in.gcount();
    if (got == 0) return true;
    if (got < 6) {
      out.partHeaderCut(offset, static_cast<uint64_t>(got));
      return false;
    }
    uint16_t type = decodeFixed16(ph);
    uint32_t length = decodeFixed32(ph + 2);
    out.partStart(offset, type, length);
    uint64_t present = fileSize > offset + 6 ? fileSize - offset - 6 : 0;
    if (length > present) {
      out.partCut(present, length);
      out.partEnd();
      return false;
    }
    offset += 6 + static_cast<uint64_t>(length);
    if (type == PartDigestSwitch) sha256 = true;
    switch (type) {
      case PartHeader:
      case PartBundleHeader:
      case PartText2:
      case PartArchitecture:
      case PartNote:
      case PartText24:
      case PartDependencies:
      case PartProvides:
      case PartConflicts:
      case PartBundleMembers: {
        // Metadata parts are small; anything larger is shown from its start.
        std::string data(std::min<uint32_t>(length, 1 << 20), '\0');
        in.read(data.data(), static_cast<std::streamsize>(data.size()));
        if (length > data.size()) in.ignore(length - data.size());
        if (type == PartHeader || type == PartBundleHeader) {
          out.header(decodeHeader(data));
        } else if (type == PartDependencies || type == PartProvides || type == PartConflicts ||
                   type == PartBundleMembers) {
          out.relations(decodeRelations(data));
        } else {
          out.text(data);
        }
        break;
      }
      case PartFiles:
        walkPayload(in, length, out);
        break;
      case PartSignature:
        out.signature(length, sha256);
        in.ignore(length);
        break;
      default:
        in.ignore(length);
        break;
    }
    out.partEnd();
  }
}

}  // namespace

int runInfoCommand(int argc, char** argv) {
  const char* command = "qpk info";
  const char* path = nullptr;
  bool json = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kInfoHelp, stdout);
      return 0;
    }
    if (std::strcmp(argv[i], "--json") == 0 && !json) {
      json = true;
    } else if (path == nullptr) {
      path = argv[i];
    } else {
      path = nullptr;
      break;
    }
  }
  if (path == nullptr) {
    std::fprintf(stderr, "%s: expected one FILE (see qpk info --help)\n", command);
    return 2;
  }
  std::ifstream in(path, std::ios::binary);
  struct stat st;
  if (!in || stat(path, &st) != 0) {
    std::fprintf(stderr, "%s: cannot open %s: %s\n", command, path, std::strerror(errno));
    return 1;
  }
  if (!S_ISREG(st.st_mode)) {
    std::fprintf(stderr, "%s: %s is not a file\n", command, path);
    return 1;
  }
  return describePackageFile(in, static_cast<uint64_t>(st.st_size), path, json);
}

int describePackageFile(std::istream& in, uint64_t fileSize, const char* path, bool json) {
  const char* command = "qpk info";
  uint8_t header[8];
  in.read(reinterpret_cast<char*>(header), 8);
  if (in.gcount() != 8) {
    std::fprintf(stderr, "%s: %s is not a package file (shorter than 8 bytes)\n", command, path);
    return 1;
  }
  uint32_t magic = decodeFixed32(header);
  uint32_t declared = decodeFixed32(header + 4);
  if (magic != PackageMagic && magic != UnrecordedMagic) {
    std::fprintf(stderr, "%s: %s is not a package file (magic 0x%08X)\n", command, path, magic);
    return 1;
  }
  TextInfo text;
  JsonInfo jsonInfo;
  InfoOutput& out = json ? static_cast<InfoOutput&>(jsonInfo) : text;
  out.begin(path, magic, declared, fileSize);
  const bool complete = walkParts(in, fileSize, out);
  out.end(complete);
  return complete ? 0 : 1;
}

}  // namespace qpk
