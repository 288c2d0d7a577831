// The package builder: makes package files and bundles for package authors
// (through the qpk tool) and for the tests. Builds whole files in memory.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "model/package.h"
#include "package/package_reader.h"

namespace qpk {

// One payload entry. Regular files have mode 0x8000 | permissions; any other
// type bits (0x4000 directory, 0xA000 link) make an entry the installer skips.
struct FileEntry {
  std::string path;
  std::string data;
  uint16_t mode = 0x81A4;  // regular, 0644
  uint8_t byte23 = 0;      // non-zero makes the installer skip the entry
};

enum class SignatureForm {
  Long,    // 132 bytes: legacy half and Ed25519 half
  Short,   // 68 bytes: legacy half only
  None,    // no signature part
};

// Private keys: the Ed25519 seed (RFC 8032 private key) and the legacy
// signing scalar, 32 bytes each.
struct SigningKeys {
  uint8_t eddsaSeed[32] = {};
  uint8_t legacySecret[32] = {};
  bool hasEddsa = false;
  bool hasLegacy = false;
};

// Reads a key file: one line of 64 hex characters.
bool readKeyFile(const std::string& path, uint8_t out[32], std::string* error);
// The development keys in the source tree's keys/ folder.
SigningKeys developmentKeys(const std::string& sourceDirectory);

struct PackageSpec {
  std::string name;
  Version version = 0;
  uint32_t buildTime = 0;
  uint32_t flags = 0;
  bool writeFlags = true;           // false: a 32-byte header without the flags word
  std::optional<std::string> text24;
  std::optional<std::string> architecture;
  std::optional<std::string> text2;
  std::optional<std::string> note;
  std::vector<Relation> dependencies;
  std::vector<Relation> provides;
  std::vector<Relation> conflicts;
  std::optional<std::string> blob;
  std::vector<FileEntry> files;
  bool hasPayload = true;           // false: no type-4 part at all
  int compressionLevel = 6;
  bool sha256 = false;              // a type-25 part before the header switches to SHA-256
  SignatureForm signature = SignatureForm::Long;
  uint32_t magic = PackageMagic;    // or UnrecordedMagic
};

struct BundleSpec {
  std::string name;
  Version version = 0;
  uint32_t buildTime = 0;
  uint32_t flags = 0;
  std::optional<std::string> note;
  std::optional<std::vector<Relation>> memberList;  // the type-20 part
  std::vector<PackageSpec> members;                 // each signed on its own
  bool sha256 = false;
  // A blob part after the header group: the upload is then kept as the
  // bundle's stored image, which ties the members to it on later runs.
  std::optional<std::string> blob;
};

// A whole package file. The signature covers the running digest exactly as
// the reader keeps it. False (with error) when the keys cannot sign.
bool buildPackage(const PackageSpec& spec, const SigningKeys& keys, std::string* file, std::string* error);
bool buildBundle(const BundleSpec& spec, const SigningKeys& keys, std::string* file, std::string* error);

// A bundle from member package files as qpk build wrote them, each already
// signed: their parts are copied after the bundle header unchanged (a member's
// leading type-25 part is dropped, the bundle's own switch covers them). A
// member's signature stays valid because the reader restarts the digest at
// each member header; so every member must use the bundle's digest kind
// (spec.sha256). spec.members is ignored.
bool spliceBundle(const BundleSpec& spec, const std::vector<std::string>& memberFiles,
                  std::string* file, std::string* error);

// Regular files below directory as payload entries, with paths relative to
// it made absolute ("/bin/x"), in byte order, permission bits kept. Other
// kinds of entries are left out and named in skipped ("symbolic link PATH").
// False (with error) when it cannot be read.
bool collectFiles(const std::string& directory, std::vector<FileEntry>* files, std::vector<std::string>* skipped,
                  std::string* error);
// The whole content of a plain file; false when it cannot be read.
bool readWholeFile(const std::string& path, std::string* out);

// Low-level writer for hand-shaped files (tests of bad input).
class PartWriter {
 public:
  void part(uint16_t type, const std::string& data);
  void raw(const std::string& bytes);  // bytes as they are, no part header
  // The 8-byte file header with the declared length of what follows (or the
  // given length), then the parts.
  std::string finish(uint32_t magic = PackageMagic) const;
  std::string finishWithLength(uint32_t magic, uint32_t declaredLength) const;
  const std::string& body() const { return body_; }

 private:
  std::string body_;
};

// Encoders for part data, shared by the builder and the tests.
std::string encodeHeader(const std::string& name, Version version, uint32_t buildTime,
                         uint32_t flags, bool writeFlags);
std::string encodeRelations(const std::vector<Relation>& relations);
std::string encodePayload(const std::vector<FileEntry>& files, int compressionLevel);

// The 68-byte legacy half for a 20-byte digest. False when the secret cannot sign.
bool legacySign(const uint8_t digest[20], const uint8_t secret[32], uint8_t signature[68]);
// The 64-byte Ed25519 signature of a 32-byte message.
bool eddsaSign(const uint8_t message[32], const uint8_t seed[32], uint8_t signature[64]);

}  // namespace qpk

namespace qpk {
// Why the router would refuse a package of spec (a name, a relation name or
// a payload path it cannot take), in words; empty when it would not.
std::string routerProblem(const PackageSpec& spec);
}  // namespace qpk
