// qpk build and qpk build-bundle: package files from options on the command line.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "model/install_rules.h"
#include "model/version.h"
#include "package/package_reader.h"
#include "qpk/commands.h"
#include "qpk/package_builder.h"

namespace qpk {

namespace {

const char kBuildHelp[] =
    "usage: qpk build --name NAME --version VERSION [options] -o OUT\n"
    "\n"
    "Makes a signed package file.\n"
    "\n"
    "  --name NAME            package name, at most 16 characters\n"
    "  --version VERSION      6.46.9, 6.46, 6.46rc2, 7.1beta4, 6.46alpha\n"
    "  --build-time SECONDS   build time (default: now)\n"
    "  --arch NAME            architecture (absent means i386 to the installer)\n"
    "  --note TEXT            note shown in the package listing\n"
    "  --text2 TEXT, --text24 TEXT  the two free text parts (types 2 and 24)\n"
    "  --depends NAME[:MIN[:MAX]]           dependency (repeatable)\n"
    "  --provides NAME[:MIN[:MAX[:PRIO]]]   provision (repeatable)\n"
    "  --conflicts NAME[:MIN[:MAX]]         conflict (repeatable)\n"
    "                         MIN and MAX are versions; empty or 0 means no bound\n"
    "  --boot-image           the package carries the boot image\n"
    "  --state-only           flag bit 1 (state-only database entry)\n"
    "  --blob FILE            add FILE as an opaque blob part\n"
    "  --files DIR            payload: the regular files below DIR, DIR as \"/\"\n"
    "  --no-payload           no payload part at all\n"
    "  --unrecorded           unpacked without a database entry\n"
    "  --sha256               sign over SHA-256 instead of SHA-1\n"
    "  --short-signature      legacy signature only (68 bytes)\n"
    "  --no-signature         no signature part\n"
    "  --key-eddsa FILE       Ed25519 private key (64 hex characters)\n"
    "  --key-legacy FILE      legacy private key (64 hex characters)\n"
    "  -o, --output OUT       file to write\n";

const char kBundleHelp[] =
    "usage: qpk build-bundle --name NAME --version VERSION [options] -o OUT MEMBER...\n"
    "\n"
    "Makes a bundle of already built and signed member package files.\n"
    "\n"
    "  --name NAME            bundle name, at most 16 characters\n"
    "  --version VERSION      bundle version\n"
    "  --build-time SECONDS   build time (default: now)\n"
    "  --note TEXT            note shown in the package listing\n"
    "  --member NAME[:MIN[:MAX]]  entry of the member list (repeatable); listed\n"
    "                         members are installed disabled unless chosen\n"
    "  --sha256               the members were built with --sha256\n"
    "  --blob FILE            add FILE as the bundle's blob part (its stored image)\n"
    "  -o, --output OUT       file to write\n";

// Walks argv; an option's value is the next argument or follows "=".
class Options {
 public:
  Options(int argc, char** argv) : argc_(argc), argv_(argv) {}
  bool next() {
    value_.reset();
    if (++index_ >= argc_) return false;
    name_ = argv_[index_];
    size_t eq = name_.find('=');
    if (name_.rfind("--", 0) == 0 && eq != std::string::npos) {
      value_ = name_.substr(eq + 1);
      name_ = name_.substr(0, eq);
    }
    return true;
  }
  const std::string& name() const { return name_; }
  bool value(std::string* out) {
    if (value_) {
      *out = *value_;
      return true;
    }
    if (index_ + 1 >= argc_) {
      std::fprintf(stderr, "%s: option %s needs a value\n", argv_[0], name_.c_str());
      return false;
    }
    *out = argv_[++index_];
    return true;
  }

 private:
  int argc_;
  char** argv_;
  int index_ = 0;
  std::string name_;
  std::optional<std::string> value_;
};

bool fail(const char* command, const std::string& message) {
  std::fprintf(stderr, "%s: %s\n", command, message.c_str());
  return false;
}

bool parseNumber(const std::string& text, uint64_t max, uint64_t* out) {
  if (text.empty() || text.size() > 20) return false;
  char* end = nullptr;
  errno = 0;
  unsigned long long v = std::strtoull(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || text[0] == '-' || v > max) return false;
  *out = v;
  return true;
}

bool parseBound(const std::string& text, Version* out) {
  if (text.empty() || text == "0") {
    *out = 0;
    return true;
  }
  return parseVersionText(text, out);
}

// NAME[:MIN[:MAX[:PRIO]]]
bool parseRelation(const char* command, const std::string& text, bool withPriority, Relation* r) {
  std::vector<std::string> fields;
  std::stringstream in(text);
  std::string field;
  while (std::getline(in, field, ':')) fields.push_back(field);
  if (!text.empty() && text.back() == ':') fields.push_back("");
  size_t maxFields = withPriority ? 4 : 3;
  if (fields.empty() || fields[0].empty() || fields.size() > maxFields) {
    return fail(command, "bad relation \"" + text + "\": expected NAME[:MIN[:MAX" +
                             std::string(withPriority ? "[:PRIO]]]" : "]]") + "\"");
  }
  if (fields[0].size() > 16) return fail(command, "relation name \"" + fields[0] + "\" is longer than 16 characters");
  r->name = fields[0];
  if (fields.size() > 1 && !parseBound(fields[1], &r->minVersion)) {
    return fail(command, "bad version \"" + fields[1] + "\" in \"" + text + "\"");
  }
  if (fields.size() > 2 && !parseBound(fields[2], &r->maxVersion)) {
    return fail(command, "bad version \"" + fields[2] + "\" in \"" + text + "\"");
  }
  if (fields.size() > 3 && !fields[3].empty()) {
    char* end = nullptr;
    errno = 0;
    long long p = std::strtoll(fields[3].c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || p < INT32_MIN || p > INT32_MAX) {
      return fail(command, "bad priority \"" + fields[3] + "\" in \"" + text + "\"");
    }
    r->priority = static_cast<int32_t>(p);
  }
  return true;
}

bool writeWhole(const char* command, const std::string& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (out) out.write(data.data(), static_cast<std::streamsize>(data.size()));
  if (out) out.close();
  if (!out) return fail(command, "cannot write " + path + ": " + std::strerror(errno));
  return true;
}

bool isHelp(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) return true;
  }
  return false;
}

// Options both commands share. Returns 1 when the option was taken, 0 when
// it is not one of them, -1 on a bad value.
int commonOption(const char* command, Options& opts, std::string* name, Version* version,
                 bool* haveVersion, uint32_t* buildTime, std::optional<std::string>* note,
                 std::string* output, bool* sha256) {
  const std::string& o = opts.name();
  std::string v;
  if (o == "--name") {
    if (!opts.value(name)) return -1;
    if (name->empty() || name->size() > 16) {
      fail(command, "name \"" + *name + "\" must have 1 to 16 characters");
      return -1;
    }
  } else if (o == "--version") {
    if (!opts.value(&v)) return -1;
    if (!parseVersionText(v, version)) {
      fail(command, "bad version \"" + v + "\" (examples: 6.46.9, 6.46rc2, 7.1beta4)");
      return -1;
    }
    *haveVersion = true;
  } else if (o == "--build-time") {
    uint64_t t;
    if (!opts.value(&v)) return -1;
    if (!parseNumber(v, 0xFFFFFFFFu, &t)) {
      fail(command, "bad build time \"" + v + "\" (seconds since 1970)");
      return -1;
    }
    *buildTime = static_cast<uint32_t>(t);
  } else if (o == "--note") {
    if (!opts.value(&v)) return -1;
    *note = v;
  } else if (o == "-o" || o == "--output") {
    if (!opts.value(output)) return -1;
  } else if (o == "--sha256") {
    *sha256 = true;
  } else {
    return 0;
  }
  return 1;
}

// The name in a member file's first package header; empty when it has none.
std::string memberName(const std::string& file) {
  std::stringbuf source(file);
  PackageReader reader(&source, false, nullptr);
  reader.accept(PartHeader);
  PackageInfo info;
  return reader.nextPart() == PartHeader && reader.readHeader(info) ? info.name : "";
}

}  // namespace

int runBuildCommand(int argc, char** argv) {
  const char* command = "qpk build";
  if (isHelp(argc, argv)) {
    std::fputs(kBuildHelp, stdout);
    return 0;
  }
  PackageSpec spec;
  spec.buildTime = static_cast<uint32_t>(std::time(nullptr));
  std::string output, keyEddsa, keyLegacy, filesDir, blobFile;
  bool haveVersion = false;
  Options opts(argc, argv);
  while (opts.next()) {
    const std::string& o = opts.name();
    int common = commonOption(command, opts, &spec.name, &spec.version, &haveVersion,
                              &spec.buildTime, &spec.note, &output, &spec.sha256);
    if (common < 0) return 2;
    if (common > 0) continue;
    std::string v;
    if (o == "--arch" || o == "--text2" || o == "--text24") {
      if (!opts.value(&v)) return 2;
      (o == "--arch" ? spec.architecture : o == "--text2" ? spec.text2 : spec.text24) = v;
    } else if (o == "--depends" || o == "--provides" || o == "--conflicts") {
      if (!opts.value(&v)) return 2;
      Relation r;
      if (!parseRelation(command, v, o == "--provides", &r)) return 2;
      (o == "--depends" ? spec.dependencies : o == "--provides" ? spec.provides : spec.conflicts).push_back(r);
    } else if (o == "--boot-image") {
      spec.flags |= kFlagBootImage;
    } else if (o == "--state-only") {
      spec.flags |= kFlagStateOnly;
    } else if (o == "--blob") {
      if (!opts.value(&blobFile)) return 2;
    } else if (o == "--files") {
      if (!opts.value(&filesDir)) return 2;
    } else if (o == "--no-payload") {
      spec.hasPayload = false;
    } else if (o == "--unrecorded") {
      spec.magic = UnrecordedMagic;
    } else if (o == "--short-signature") {
      spec.signature = SignatureForm::Short;
    } else if (o == "--no-signature") {
      spec.signature = SignatureForm::None;
    } else if (o == "--key-eddsa") {
      if (!opts.value(&keyEddsa)) return 2;
    } else if (o == "--key-legacy") {
      if (!opts.value(&keyLegacy)) return 2;
    } else {
      fail(command, "unknown option \"" + o + "\" (see qpk build --help)");
      return 2;
    }
  }
  if (spec.name.empty()) return fail(command, "--name is required"), 2;
  if (!haveVersion) return fail(command, "--version is required"), 2;
  if (output.empty()) return fail(command, "-o OUT is required"), 2;

  std::string error;
  SigningKeys keys;
  if (!keyEddsa.empty()) {
    if (!readKeyFile(keyEddsa, keys.eddsaSeed, &error)) return fail(command, error), 1;
    keys.hasEddsa = true;
  }
  if (!keyLegacy.empty()) {
    if (!readKeyFile(keyLegacy, keys.legacySecret, &error)) return fail(command, error), 1;
    keys.hasLegacy = true;
  }
  if (spec.signature == SignatureForm::Long && !keys.hasEddsa) {
    return fail(command, "signing needs --key-eddsa FILE (or --no-signature)"), 2;
  }
  if (spec.signature == SignatureForm::Short && !keys.hasLegacy) {
    return fail(command, "a short signature needs --key-legacy FILE"), 2;
  }
  if (!blobFile.empty()) {
    std::string blob;
    if (!readWholeFile(blobFile, &blob)) return fail(command, "cannot read blob file " + blobFile), 1;
    spec.blob = blob;
  }
  std::vector<std::string> skipped;
  if (!filesDir.empty() && !collectFiles(filesDir, &spec.files, &skipped, &error)) return fail(command, error), 1;
  for (const std::string& what : skipped) std::fprintf(stderr, "%s: warning: skipped %s\n", command, what.c_str());
  const std::string problem = routerProblem(spec);
  if (!problem.empty()) return fail(command, problem + " (the router would refuse it)"), 1;

  std::string file;
  if (!buildPackage(spec, keys, &file, &error)) return fail(command, error), 1;
  if (!writeWhole(command, output, file)) return 1;
  return 0;
}

int runBuildBundleCommand(int argc, char** argv) {
  const char* command = "qpk build-bundle";
  if (isHelp(argc, argv)) {
    std::fputs(kBundleHelp, stdout);
    return 0;
  }
  BundleSpec spec;
  spec.buildTime = static_cast<uint32_t>(std::time(nullptr));
  std::string output;
  bool haveVersion = false;
  std::vector<std::string> memberPaths;
  Options opts(argc, argv);
  while (opts.next()) {
    const std::string& o = opts.name();
    int common = commonOption(command, opts, &spec.name, &spec.version, &haveVersion,
                              &spec.buildTime, &spec.note, &output, &spec.sha256);
    if (common < 0) return 2;
    if (common > 0) continue;
    if (o == "--member") {
      std::string v;
      if (!opts.value(&v)) return 2;
      Relation r;
      if (!parseRelation(command, v, false, &r)) return 2;
      if (!spec.memberList) spec.memberList.emplace();
      spec.memberList->push_back(r);
    } else if (o == "--blob") {
      std::string blobFile, blob;
      if (!opts.value(&blobFile)) return 2;
      if (!readWholeFile(blobFile, &blob)) return fail(command, "cannot read blob file " + blobFile), 1;
      spec.blob = blob;
    } else if (o.size() > 1 && o[0] == '-') {
      fail(command, "unknown option \"" + o + "\" (see qpk build-bundle --help)");
      return 2;
    } else {
      memberPaths.push_back(o);
    }
  }
  if (spec.name.empty()) return fail(command, "--name is required"), 2;
  if (!haveVersion) return fail(command, "--version is required"), 2;
  if (output.empty()) return fail(command, "-o OUT is required"), 2;
  // What the router would refuse of a bundle, before it is made.
  if (memberPaths.empty()) return fail(command, "a bundle needs at least one member file"), 2;
  if (!spec.blob) {
    return fail(command, "a bundle needs --blob FILE: the router keeps a bundle only by its stored image"), 2;
  }
  if (const char* problem = packageNameProblem(spec.name)) {
    return fail(command, "bundle name \"" + spec.name + "\" " + problem + " (the router would refuse it)"), 1;
  }
  std::vector<std::string> members;
  for (const std::string& path : memberPaths) {
    std::string data;
    if (!readWholeFile(path, &data)) return fail(command, "cannot read member " + path), 1;
    const std::string name = memberName(data);
    if (name == spec.name) {
      return fail(command, "member " + path + " is named like its bundle (the router would refuse it)"), 1;
    }
    members.push_back(std::move(data));
  }
  std::string file, error;
  if (!spliceBundle(spec, members, &file, &error)) return fail(command, error), 1;
  if (!writeWhole(command, output, file)) return 1;
  return 0;
}

}  // namespace qpk
