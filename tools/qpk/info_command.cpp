// qpk info: every part of a package file, decoded where the installer
// interprets it. Walks the raw parts itself so that unknown, cut or
// misplaced parts are shown as they are.
#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>

#include "model/version.h"
#include "package/package_reader.h"
#include "platform/endian.h"
#include "qpk/commands.h"

namespace qpk {

namespace {

const char kInfoHelp[] =
    "usage: qpk info FILE\n"
    "\n"
    "Shows the file header, every part (offset, type, length), the decoded\n"
    "header, texts and relations, the payload's entries (mode, size, path) and\n"
    "the signature form, and whether the declared length matches the file size.\n";

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

void showHeader(const std::string& data) {
  if (data.size() < 32) {
    std::printf("    (too short for a header: %zu bytes)\n", data.size());
    return;
  }
  const auto* p = reinterpret_cast<const uint8_t*>(data.data());
  uint32_t buildTime = decodeFixed32(p + 20);
  time_t t = buildTime;
  char when[64] = "";
  struct tm tmv;
  if (gmtime_r(&t, &tmv) != nullptr) std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S UTC", &tmv);
  std::printf("    name: %s\n", quoted(nameField(p)).c_str());
  std::printf("    version: %s\n", versionShown(decodeFixed32(p + 16)).c_str());
  std::printf("    build time: %u (%s)\n", buildTime, when);
  if (data.size() >= 36) {
    uint32_t flags = decodeFixed32(p + 32);
    std::printf("    flags: 0x%X%s%s\n", flags, (flags & 1) ? " boot-image" : "",
                (flags & 2) ? " state-only" : "");
  } else {
    std::printf("    flags: none (32-byte header)\n");
  }
}

void showRelations(const std::string& data) {
  if (data.size() < 2) {
    std::printf("    (too short for a relation list)\n");
    return;
  }
  const auto* p = reinterpret_cast<const uint8_t*>(data.data());
  uint16_t count = decodeFixed16(p);
  std::printf("    %u entr%s\n", count, count == 1 ? "y" : "ies");
  for (uint32_t i = 0; i < count; ++i) {
    size_t at = 2 + static_cast<size_t>(i) * 32;
    if (at + 32 > data.size()) {
      std::printf("    (list cut short after %u entries)\n", i);
      return;
    }
    const uint8_t* e = p + at;
    Version min = decodeFixed32(e + 16), max = decodeFixed32(e + 24);
    int32_t priority = static_cast<int32_t>(decodeFixed32(e + 28));
    std::printf("    %s", quoted(nameField(e)).c_str());
    if (min != 0) std::printf(" min %s", versionText(min).c_str());
    if (max != 0) std::printf(" max %s", versionText(max).c_str());
    if (priority != 0) std::printf(" priority %d", priority);
    std::printf("\n");
  }
  size_t used = 2 + static_cast<size_t>(count) * 32;
  if (data.size() > used) std::printf("    (%zu bytes after the list)\n", data.size() - used);
}

// Lists the entries of the payload by inflating it from the file, holding
// only an entry head and path at a time.
void showPayload(std::istream& in, uint32_t length) {
  z_stream z;
  std::memset(&z, 0, sizeof z);
  if (inflateInit(&z) != Z_OK) return;
  char input[16384];
  unsigned char output[16384];
  std::string pending;    // head and path of the entry being parsed
  uint64_t skipData = 0;  // data bytes of the current entry still to pass
  uint64_t total = 0;
  uint32_t entries = 0;
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
      total += produced;
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
        uint16_t mode = decodeFixed16(h);
        uint32_t size = decodeFixed32(h + 24);
        std::printf("    %06o %10u %s%s\n", mode, size, quoted(pending.substr(30)).c_str(),
                    h[23] != 0 ? " (byte 23 set: skipped)" : "");
        ++entries;
        skipData = size;
        pending.clear();
      }
      if (status == Z_STREAM_END) break;
    }
  }
  if (left > 0) in.ignore(left);
  inflateEnd(&z);
  std::printf("    %u entr%s, %llu bytes inflated", entries, entries == 1 ? "y" : "ies",
              static_cast<unsigned long long>(total));
  if (status != Z_STREAM_END) std::printf(", compressed stream %s", status == Z_OK ? "cut short" : "broken");
  if (skipData > 0 || !pending.empty()) std::printf(", last entry cut short");
  std::printf("\n");
}

}  // namespace

int runInfoCommand(int argc, char** argv) {
  const char* command = "qpk info";
  if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(kInfoHelp, stdout);
    return 0;
  }
  if (argc != 2) {
    std::fprintf(stderr, "%s: expected one FILE (see qpk info --help)\n", command);
    return 2;
  }
  const char* path = argv[1];
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
  return describePackageFile(in, static_cast<uint64_t>(st.st_size), path);
}

int describePackageFile(std::istream& in, uint64_t fileSize, const char* path) {
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
  uint64_t offset = 8;
  bool complete = true;
  bool sha256 = false;  // the reader's digest is SHA-256 from the first type-25 part on
  for (;;) {
    uint8_t ph[6];
    in.read(reinterpret_cast<char*>(ph), 6);
    std::streamsize got = in.gcount();
    if (got == 0) break;
    if (got < 6) {
      std::printf("  offset %llu: part header cut short (%lld of 6 bytes)\n",
                  static_cast<unsigned long long>(offset), static_cast<long long>(got));
      complete = false;
      break;
    }
    uint16_t type = decodeFixed16(ph);
    uint32_t length = decodeFixed32(ph + 2);
    std::printf("  offset %llu: type %u (%s), length %u\n", static_cast<unsigned long long>(offset),
                type, partName(type), length);
    uint64_t present = fileSize > offset + 6 ? fileSize - offset - 6 : 0;
    if (length > present) {
      std::printf("    part cut short: %llu of %u bytes present\n",
                  static_cast<unsigned long long>(present), length);
      complete = false;
      break;
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
          showHeader(data);
        } else if (type == PartDependencies || type == PartProvides || type == PartConflicts ||
                   type == PartBundleMembers) {
          showRelations(data);
        } else {
          std::printf("    %s\n", quoted(data).c_str());
        }
        break;
      }
      case PartFiles:
        showPayload(in, length);
        break;
      case PartSignature:
        if (length >= 132) {
          std::printf("    long form: legacy and Ed25519 over %s%s\n", sha256 ? "SHA-256" : "SHA-1",
                      length > 132 ? " (extra bytes ignored)" : "");
        } else if (length >= 68) {
          std::printf("    short form: legacy only over SHA-1%s\n", length > 68 ? " (extra bytes ignored)" : "");
        } else {
          std::printf("    too short to be a signature\n");
        }
        in.ignore(length);
        break;
      default:
        in.ignore(length);
        break;
    }
  }
  return complete ? 0 : 1;
}

}  // namespace qpk
