// qpk keygen, qpk sign and qpk verify: key pairs, signing a package file
// again, and checking its signatures the way the installer does.
#include <fcntl.h>
#include <openssl/rand.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "crypto/legacy_signature.h"
#include "install/stream_check.h"
#include "installer_keys.h"
#include "model/package.h"
#include "model/version.h"
#include "package/package_reader.h"
#include "package/signature.h"
#include "platform/eddsa.h"
#include "platform/fd_stream_buffer.h"
#include "qpk/commands.h"
#include "qpk/json_writer.h"
#include "qpk/signing.h"

namespace qpk {

namespace {

const char kKeygenHelp[] =
    "usage: qpk keygen (--eddsa | --legacy) [--force] PREFIX\n"
    "\n"
    "Makes a key pair: PREFIX.private (mode 0600) and PREFIX.public, each one\n"
    "line of 64 hex characters. Existing files are kept unless --force is given.\n"
    "\n"
    "  --eddsa    an Ed25519 pair: the RFC 8032 private key and its public key\n"
    "  --legacy   a legacy pair: the signing scalar and the curve25519 public key\n";

const char kSignHelp[] =
    "usage: qpk sign [--short] [--key-eddsa FILE] [--key-legacy FILE] [-o OUT] FILE\n"
    "\n"
    "Signs every package of FILE again (in place unless -o is given).\n"
    "\n"
    "  (default)          long form, both halves: needs --key-eddsa and --key-legacy\n"
    "  --short            short, legacy-only form: needs --key-legacy\n"
    "  --key-eddsa FILE   Ed25519 private key\n"
    "  --key-legacy FILE  legacy private key\n"
    "  -o, --output OUT   file to write\n";

const char kVerifyHelp[] =
    "usage: qpk verify [--json] [--public-eddsa FILE] [--public-legacy FILE] FILE\n"
    "\n"
    "Checks the signature of every package in FILE as the installer would, with\n"
    "the public keys built into the installer unless others are given. Prints\n"
    "the digest kind, the signature form, which half verified and the signature\n"
    "mode; exits with 1 when the installer would refuse a package.\n"
    "\n"
    "  --json                 the same as one JSON document (fields in qpk(1))\n"
    "  --public-eddsa FILE    Ed25519 public key to check with\n"
    "  --public-legacy FILE   legacy public key to check with\n";

bool isHelp(const char* arg) { return std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0; }

int fail(const char* command, const std::string& message) {
  std::fprintf(stderr, "qpk %s: %s\n", command, message.c_str());
  return 1;
}

std::string hex(const uint8_t* bytes, size_t n) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < n; ++i) {
    out += digits[bytes[i] >> 4];
    out += digits[bytes[i] & 15];
  }
  return out;
}

// Writes one key line; private keys are created with mode 0600 from the
// start, so the secret is never readable by others, not even briefly.
bool writeKeyFile(const std::string& path, const uint8_t key[32], bool secret, bool force,
                  std::string* error) {
  int flags = O_WRONLY | O_CREAT | (force ? O_TRUNC : O_EXCL);
  int fd = open(path.c_str(), flags, secret ? 0600 : 0644);
  if (fd < 0) {
    *error = "cannot create " + path + ": " + std::strerror(errno);
    return false;
  }
  std::string line = hex(key, 32) + "\n";
  bool ok = (!secret || fchmod(fd, 0600) == 0) &&
            write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
  if (!ok) *error = "cannot write " + path + ": " + std::strerror(errno);
  if (close(fd) != 0 && ok) {
    *error = "cannot write " + path + ": " + std::strerror(errno);
    ok = false;
  }
  return ok;
}

// Writes next to the target and renames, so a failed write leaves the old file.
bool writeReplacing(const std::string& path, const std::string& data, std::string* error) {
  std::string temporary = path + ".qpk-new";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
    out.close();
    if (!out) {
      *error = "cannot write " + temporary + ": " + std::strerror(errno);
      unlink(temporary.c_str());
      return false;
    }
  }
  if (rename(temporary.c_str(), path.c_str()) != 0) {
    *error = "cannot rename " + temporary + " to " + path + ": " + std::strerror(errno);
    unlink(temporary.c_str());
    return false;
  }
  return true;
}

// The value of an option given as "--name VALUE" or "--name=VALUE".
bool optionValue(int argc, char** argv, int& i, const char* name, std::string* out) {
  std::string arg = argv[i];
  std::string prefix = std::string(name) + "=";
  if (arg.rfind(prefix, 0) == 0) {
    *out = arg.substr(prefix.size());
    return true;
  }
  if (arg != name) return false;
  if (i + 1 >= argc) return false;
  *out = argv[++i];
  return true;
}

}  // namespace

int runKeygenCommand(int argc, char** argv) {
  enum { None, Eddsa, Legacy } kind = None;
  bool force = false;
  std::string prefix;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (isHelp(argv[i])) {
      std::fputs(kKeygenHelp, stdout);
      return 0;
    } else if (arg == "--eddsa") {
      kind = Eddsa;
    } else if (arg == "--legacy") {
      kind = Legacy;
    } else if (arg == "--force") {
      force = true;
    } else if (arg.rfind("-", 0) == 0 || !prefix.empty()) {
      std::fputs(kKeygenHelp, stderr);
      return 2;
    } else {
      prefix = arg;
    }
  }
  if (kind == None || prefix.empty()) {
    std::fputs(kKeygenHelp, stderr);
    return 2;
  }

  uint8_t seed[32], secret[32], publicKey[32];
  bool made = false;
  // A legacy pair fails only for a seed whose point breaks the checker's
  // formulas, which random seeds practically never give; try a few.
  for (int attempt = 0; attempt < 4 && !made; ++attempt) {
    if (RAND_bytes(seed, sizeof seed) != 1) return fail("keygen", "no random bytes");
    if (kind == Eddsa) {
      std::memcpy(secret, seed, 32);
      made = eddsaPublicKey(seed, publicKey);
    } else {
      made = makeLegacyKeyPair(seed, secret, publicKey);
    }
  }
  OPENSSL_cleanse(seed, sizeof seed);
  if (!made) return fail("keygen", "could not make a key pair");

  std::string error;
  bool ok = writeKeyFile(prefix + ".private", secret, true, force, &error) &&
            writeKeyFile(prefix + ".public", publicKey, false, force, &error);
  OPENSSL_cleanse(secret, sizeof secret);
  if (!ok) return fail("keygen", error);
  std::printf("%s.public: %s\n", prefix.c_str(), hex(publicKey, 32).c_str());
  return 0;
}

int runSignCommand(int argc, char** argv) {
  bool shortForm = false;
  std::string keyEddsa, keyLegacy, output, input;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (isHelp(argv[i])) {
      std::fputs(kSignHelp, stdout);
      return 0;
    } else if (arg == "--short") {
      shortForm = true;
    } else if (optionValue(argc, argv, i, "--key-eddsa", &keyEddsa) ||
               optionValue(argc, argv, i, "--key-legacy", &keyLegacy) ||
               optionValue(argc, argv, i, "--output", &output) ||
               optionValue(argc, argv, i, "-o", &output)) {
      continue;
    } else if (arg.rfind("-", 0) == 0 || !input.empty()) {
      std::fputs(kSignHelp, stderr);
      return 2;
    } else {
      input = arg;
    }
  }
  if (input.empty()) {
    std::fputs(kSignHelp, stderr);
    return 2;
  }
  if (keyLegacy.empty()) return fail("sign", "signing needs --key-legacy FILE"), 2;
  if (!shortForm && keyEddsa.empty()) {
    return fail("sign", "the long form needs --key-eddsa FILE (or --short)"), 2;
  }

  std::string error;
  SigningKeys keys;
  if (!readKeyFile(keyLegacy, keys.legacySecret, &error)) return fail("sign", error);
  keys.hasLegacy = true;
  if (!shortForm) {
    if (!readKeyFile(keyEddsa, keys.eddsaSeed, &error)) return fail("sign", error);
    keys.hasEddsa = true;
  }
  std::string file;
  if (!readWholeFile(input, &file)) return fail("sign", "cannot read " + input);
  if (!resignPackageFile(&file, keys, shortForm ? SignatureForm::Short : SignatureForm::Long, &error)) {
    return fail("sign", input + ": " + error);
  }
  if (!writeReplacing(output.empty() ? input : output, file, &error)) return fail("sign", error);
  return 0;
}

namespace {

// One package's check, told half by half.
struct VerifyReport {
  PackageInfo package;
  std::string digestKind;       // "sha1", "sha256"; empty before the signature part was reached
  std::string form = "none";    // "long", "short", "too short" or "none"
  uint32_t partLength = 0;      // of the signature part, when there is one
  bool cutShort = false;        // the file ends inside the signature
  std::string eddsa = "absent";
  std::string legacy = "absent";
  int mode = 2;
  bool accepted = false;
};

void checkSignature(PackageReader& reader, const uint8_t eddsaKey[32], const uint8_t legacyKey[32],
                    VerifyReport& report) {
  reader.closeDigest();
  report.digestKind = reader.digestIsSha256() ? "sha256" : "sha1";
  const uint32_t available = reader.remaining();
  report.partLength = available;
  if (available < 68) {
    report.form = "too short";
    return;
  }
  const uint32_t size = available >= 132 ? 132 : 68;
  report.form = size == 132 ? "long" : "short";
  uint8_t signature[132];
  if (!reader.readUndigested(signature, size)) {
    report.cutShort = true;
    return;
  }
  const uint8_t* digest = reader.digestBuffer();
  bool eddsaValid = false;
  if (size == 132) {
    eddsaValid = eddsa::verify({eddsaKey, eddsaKey + 32}, {digest, digest + 32},
                               {signature + 68, signature + 132});
    report.eddsa = eddsaValid ? "valid" : "invalid";
  }
  const bool legacyValid = verifyLegacySignature(digest, signature, legacyKey);
  report.legacy = legacyValid ? "valid" : "invalid";
  report.accepted = eddsaValid || (legacyValid && report.mode == 1);
}

// Receives what the check finds, in file order. end comes once, after the
// last package or with the error that stopped the check.
class VerifyOutput {
 public:
  virtual ~VerifyOutput() = default;
  virtual void bundle(const PackageInfo& info) = 0;
  virtual void package(const VerifyReport& report) = 0;
  virtual void end(bool sealed, bool accepted, const std::string& error) = 0;
};

class TextVerify : public VerifyOutput {
 public:
  void bundle(const PackageInfo& info) override { std::printf("bundle %s\n", packageLabel(info).c_str()); }
  void package(const VerifyReport& r) override {
    std::string form = r.form;
    if (r.form == "too short") {
      form += " (" + std::to_string(r.partLength) + " bytes)";
    } else if (r.form != "none") {
      const uint32_t formSize = r.form == "long" ? 132 : 68;
      if (r.partLength != formSize) form += " (part of " + std::to_string(r.partLength) + " bytes)";
      if (r.cutShort) form += ", cut short";
    }
    std::printf("package %s\n", packageLabel(r.package).c_str());
    std::printf("  digest:    %s\n", r.digestKind.empty() ? "-" : r.digestKind.c_str());
    std::printf("  signature: %s\n", form.c_str());
    std::printf("  eddsa:     %s\n", r.eddsa.c_str());
    std::printf("  legacy:    %s\n", r.legacy.c_str());
    std::printf("  mode:      %d (%s; 2 on a router with /ram/SECURE)\n", r.mode,
                r.mode == 1 ? "EdDSA or legacy" : "EdDSA only");
    std::printf("  result:    %s\n", r.accepted ? "accepted" : "refused");
  }
  void end(bool sealed, bool, const std::string&) override {
    if (!sealed) std::printf("bundle: parts after a member's signature that no signature covers: refused\n");
  }
};

// Collects the few reports of a file and writes the document at the end.
class JsonVerify : public VerifyOutput {
 public:
  explicit JsonVerify(const std::string& path) : path_(path) {}
  void bundle(const PackageInfo& info) override { bundle_ = info; }
  void package(const VerifyReport& report) override { packages_.push_back(report); }
  void end(bool sealed, bool accepted, const std::string& error) override {
    JsonWriter json(stdout);
    json.beginObject();
    json.key("file").string(path_);
    json.key("bundle");
    if (bundle_) {
      json.beginObject();
      identity(json, *bundle_);
      json.end();
    } else {
      json.null();
    }
    json.key("packages").beginArray();
    for (const VerifyReport& r : packages_) {
      json.beginObject();
      identity(json, r.package);
      if (r.digestKind.empty()) {
        json.key("digest").null();
      } else {
        json.key("digest").string(r.digestKind);
      }
      json.key("signature").string(r.form);
      if (r.form != "none") {
        json.key("signature_length").number(r.partLength);
        json.key("signature_cut_short").boolean(r.cutShort);
      }
      json.key("eddsa").string(r.eddsa);
      json.key("legacy").string(r.legacy);
      json.key("mode").number(static_cast<uint64_t>(r.mode));
      json.key("accepted").boolean(r.accepted);
      json.end();
    }
    json.end();
    // A check that stopped never got to the seal.
    if (error.empty()) {
      json.key("sealed").boolean(sealed);
    } else {
      json.key("sealed").null();
    }
    json.key("accepted").boolean(accepted);
    if (!error.empty()) json.key("error").string(error);
    json.end();
  }

 private:
  static void identity(JsonWriter& json, const PackageInfo& info) {
    json.key("name").string(info.name);
    json.key("version").number(info.version);
    json.key("version_text").string(versionText(info.version));
  }

  std::string path_;
  std::optional<PackageInfo> bundle_;
  std::vector<VerifyReport> packages_;
};

// Checks every package of the file the way the installer does, telling out
// what it finds; the exit status.
int verifyFile(const std::string& input, const uint8_t eddsaKey[32], const uint8_t legacyKey[32],
               VerifyOutput& out) {
  // Read through our own buffer: a read error (a folder) reads as the end.
  InputFile in(input, 65536);
  struct stat status;
  if (!in.isOpen() || fstat(in.fd(), &status) != 0) return fail("verify", "cannot open " + input);
  if (!S_ISREG(status.st_mode)) return fail("verify", input + " is not a file");
  PackageReader reader(in.buffer(), true, nullptr);
  if (reader.magic() != PackageMagic && reader.magic() != UnrecordedMagic) {
    return fail("verify", input + " is not a package file");
  }
  // The installer's own list, so that the digest sees the file as it does.
  for (int32_t type : {PartHeader, PartBundleHeader, PartBundleMembers, PartArchitecture,
                       PartDependencies, PartProvides, PartConflicts, PartBlob, PartFiles,
                       PartSignature}) {
    reader.accept(type);
  }

  int packages = 0, refused = 0;
  bool pending = false;  // a package header was read and its signature not yet
  VerifyReport report;
  auto finish = [&]() {
    if (!pending) return;
    out.package(report);
    ++packages;
    if (!report.accepted) ++refused;
    pending = false;
  };
  // The document still ends when the check cannot go on; the message is the error's own.
  auto stop = [&](const std::string& error) {
    out.end(true, false, error);
    return fail("verify", input + ": " + error);
  };
  int type = reader.nextPart();
  while (type >= 0) {
    if (type == PartHeader || type == PartBundleHeader) {
      finish();
      PackageInfo info;
      if (!reader.readHeader(info)) return stop("a package header is cut short");
      if (type == PartBundleHeader) {
        out.bundle(info);
      } else {
        report = VerifyReport();
        report.package = info;
        report.mode = versionSignatureMode(info);
        pending = true;
      }
      type = reader.partType();  // readHeader stops on the first part after the header group
      continue;
    }
    if (type == PartSignature && pending) {
      checkSignature(reader, eddsaKey, legacyKey, report);
      finish();
    }
    type = reader.nextPart();
  }
  finish();
  if (packages == 0) return stop("no package in the file");
  // Parts between a bundle's members are covered by no signature; the
  // router refuses a bundle that has any but a closing architecture part.
  in.buffer()->pubseekpos(0, std::ios_base::in);
  const bool sealed = checkStream(in.buffer(), nullptr).sealed;
  out.end(sealed, sealed && refused == 0, "");
  return sealed && refused == 0 ? 0 : 1;
}

}  // namespace

int runVerifyCommand(int argc, char** argv) {
  std::string eddsaFile, legacyFile, input;
  bool json = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (isHelp(argv[i])) {
      std::fputs(kVerifyHelp, stdout);
      return 0;
    } else if (arg == "--json") {
      json = true;
    } else if (optionValue(argc, argv, i, "--public-eddsa", &eddsaFile) ||
               optionValue(argc, argv, i, "--public-legacy", &legacyFile)) {
      continue;
    } else if (arg.rfind("-", 0) == 0 || !input.empty()) {
      std::fputs(kVerifyHelp, stderr);
      return 2;
    } else {
      input = arg;
    }
  }
  if (input.empty()) {
    std::fputs(kVerifyHelp, stderr);
    return 2;
  }
  uint8_t eddsaKey[32], legacyKey[32];
  std::memcpy(eddsaKey, kEddsaPublicKey, 32);
  std::memcpy(legacyKey, kLegacyPublicKey, 32);
  std::string error;
  if (!eddsaFile.empty() && !readKeyFile(eddsaFile, eddsaKey, &error)) return fail("verify", error);
  if (!legacyFile.empty() && !readKeyFile(legacyFile, legacyKey, &error)) return fail("verify", error);
  if (json) {
    JsonVerify out(input);
    return verifyFile(input, eddsaKey, legacyKey, out);
  }
  TextVerify out;
  return verifyFile(input, eddsaKey, legacyKey, out);
}

}  // namespace qpk
