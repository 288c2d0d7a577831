// Part encoders and the whole-file builders. The signature of each package is
// made over exactly the running digest the reader keeps while the file goes by,
// so the builder replays the reader's digest rules over the parts it emits.
#include "qpk/package_builder.h"

#include <openssl/evp.h>
#include <zlib.h>

#include <cstring>

#include "platform/endian.h"

namespace qpk {

namespace {

void appendFixed16(std::string* out, uint16_t v) {
  uint8_t b[2];
  encodeFixed16(b, v);
  out->append(reinterpret_cast<const char*>(b), 2);
}

void appendFixed32(std::string* out, uint32_t v) {
  uint8_t b[4];
  encodeFixed32(b, v);
  out->append(reinterpret_cast<const char*>(b), 4);
}

// A 16-byte NUL-padded name field; a 16-character name has no NUL.
void appendName(std::string* out, const std::string& name) {
  std::string field = name.substr(0, 16);
  field.resize(16, '\0');
  out->append(field);
}

std::string partHeader(uint16_t type, uint32_t length) {
  std::string h;
  appendFixed16(&h, type);
  appendFixed32(&h, length);
  return h;
}

// Replays the reader's running digest: SHA-1 at the start, SHA-256 from the
// first type-25 header on (never restarted by a later one), closed and
// restarted at every type-1 header.
class DigestReplay {
 public:
  DigestReplay() : sha1_(EVP_MD_CTX_new()), sha256_(EVP_MD_CTX_new()) {
    EVP_DigestInit_ex(sha1_, EVP_sha1(), nullptr);
    EVP_DigestInit_ex(sha256_, EVP_sha256(), nullptr);
  }
  ~DigestReplay() {
    EVP_MD_CTX_free(sha1_);
    EVP_MD_CTX_free(sha256_);
  }
  DigestReplay(const DigestReplay&) = delete;
  DigestReplay& operator=(const DigestReplay&) = delete;

  void header(uint16_t type, const std::string& bytes) {
    if (type == PartDigestSwitch) {
      useSha256_ = true;
    } else if (type == PartHeader) {
      uint8_t scratch[32];
      close(scratch);
    }
    update(bytes);
  }
  void update(const std::string& bytes) {
    EVP_DigestUpdate(running(), bytes.data(), bytes.size());
  }
  // The running digest's value into a 32-byte buffer (a SHA-1 leaves the last
  // 12 bytes zero); the digest starts afresh.
  void close(uint8_t out[32]) {
    std::memset(out, 0, 32);
    unsigned int n = 0;
    EVP_DigestFinal_ex(running(), out, &n);
    EVP_DigestInit_ex(running(), useSha256_ ? EVP_sha256() : EVP_sha1(), nullptr);
  }

 private:
  EVP_MD_CTX* running() { return useSha256_ ? sha256_ : sha1_; }

  EVP_MD_CTX* sha1_;
  EVP_MD_CTX* sha256_;
  bool useSha256_ = false;
};

// Emits parts into a body while the digest replay follows them.
class Emitter {
 public:
  void part(uint16_t type, const std::string& data) {
    std::string h = partHeader(type, static_cast<uint32_t>(data.size()));
    digest_.header(type, h);
    digest_.update(data);
    body_ += h;
    body_ += data;
  }
  bool signature(SignatureForm form, const SigningKeys& keys, std::string* error) {
    if (form == SignatureForm::None) return true;
    uint32_t size = form == SignatureForm::Long ? 132 : 68;
    std::string h = partHeader(PartSignature, size);
    digest_.header(PartSignature, h);
    uint8_t digest[32];
    digest_.close(digest);
    uint8_t sig[132] = {};
    if (keys.hasLegacy) {
      if (!legacySign(digest, keys.legacySecret, sig)) {
        *error = "the legacy key cannot sign";
        return false;
      }
    } else if (form == SignatureForm::Short) {
      *error = "a short signature needs a legacy key";
      return false;
    }
    if (form == SignatureForm::Long) {
      if (!keys.hasEddsa) {
        *error = "a long signature needs an Ed25519 key";
        return false;
      }
      if (!eddsaSign(digest, keys.eddsaSeed, sig + 68)) {
        *error = "the Ed25519 key cannot sign";
        return false;
      }
    }
    // The signature data is read past the digest, so it is not replayed.
    body_ += h;
    body_.append(reinterpret_cast<const char*>(sig), size);
    return true;
  }
  const std::string& body() const { return body_; }

 private:
  DigestReplay digest_;
  std::string body_;
};

bool checkName(const std::string& name, const char* what, std::string* error) {
  if (name.size() > 16) {
    *error = std::string(what) + " name \"" + name + "\" is longer than 16 characters";
    return false;
  }
  return true;
}

bool checkRelations(const std::vector<Relation>& list, std::string* error) {
  if (list.size() > 0xFFFF) {
    *error = "more than 65535 relations in one list";
    return false;
  }
  for (const Relation& r : list) {
    if (!checkName(r.name, "relation", error)) return false;
  }
  return true;
}

// One package's parts, from its header to its signature.
bool emitPackage(const PackageSpec& spec, const SigningKeys& keys, Emitter* out,
                 std::string* error) {
  if (!checkName(spec.name, "package", error) || !checkRelations(spec.dependencies, error) ||
      !checkRelations(spec.provides, error) || !checkRelations(spec.conflicts, error)) {
    return false;
  }
  out->part(PartHeader,
            encodeHeader(spec.name, spec.version, spec.buildTime, spec.flags, spec.writeFlags));
  if (spec.text24) out->part(PartText24, *spec.text24);
  if (spec.architecture) out->part(PartArchitecture, *spec.architecture);
  if (spec.text2) out->part(PartText2, *spec.text2);
  if (spec.note) out->part(PartNote, *spec.note);
  if (!spec.dependencies.empty()) out->part(PartDependencies, encodeRelations(spec.dependencies));
  if (!spec.provides.empty()) out->part(PartProvides, encodeRelations(spec.provides));
  if (!spec.conflicts.empty()) out->part(PartConflicts, encodeRelations(spec.conflicts));
  if (spec.blob) out->part(PartBlob, *spec.blob);
  if (spec.hasPayload) {
    for (const FileEntry& f : spec.files) {
      if (f.path.size() > 0xFFFF) {
        *error = "payload path longer than 65535 bytes";
        return false;
      }
    }
    out->part(PartFiles, encodePayload(spec.files, spec.compressionLevel));
  }
  return out->signature(spec.signature, keys, error);
}

std::string withFileHeader(uint32_t magic, const std::string& body) {
  std::string file;
  appendFixed32(&file, magic);
  appendFixed32(&file, static_cast<uint32_t>(body.size()));
  file += body;
  return file;
}

}  // namespace

void PartWriter::part(uint16_t type, const std::string& data) {
  body_ += partHeader(type, static_cast<uint32_t>(data.size()));
  body_ += data;
}

void PartWriter::raw(const std::string& bytes) { body_ += bytes; }

std::string PartWriter::finish(uint32_t magic) const { return withFileHeader(magic, body_); }

std::string PartWriter::finishWithLength(uint32_t magic, uint32_t declaredLength) const {
  std::string file;
  appendFixed32(&file, magic);
  appendFixed32(&file, declaredLength);
  file += body_;
  return file;
}

std::string encodeHeader(const std::string& name, Version version, uint32_t buildTime,
                         uint32_t flags, bool writeFlags) {
  std::string h;
  appendName(&h, name);
  appendFixed32(&h, version);
  appendFixed32(&h, buildTime);
  h.append(8, '\0');
  if (writeFlags) appendFixed32(&h, flags);
  return h;
}

std::string encodeRelations(const std::vector<Relation>& relations) {
  std::string r;
  appendFixed16(&r, static_cast<uint16_t>(relations.size()));
  for (const Relation& rel : relations) {
    appendName(&r, rel.name);
    appendFixed32(&r, rel.minVersion);
    appendFixed32(&r, 0);
    appendFixed32(&r, rel.maxVersion);
    appendFixed32(&r, static_cast<uint32_t>(rel.priority));
  }
  return r;
}

std::string encodePayload(const std::vector<FileEntry>& files, int compressionLevel) {
  std::string plain;
  for (const FileEntry& f : files) {
    appendFixed16(&plain, f.mode);
    plain.append(21, '\0');
    plain.push_back(static_cast<char>(f.byte23));
    appendFixed32(&plain, static_cast<uint32_t>(f.data.size()));
    appendFixed16(&plain, static_cast<uint16_t>(f.path.size()));
    plain += f.path;
    plain += f.data;
  }
  uLongf bound = compressBound(static_cast<uLong>(plain.size()));
  std::string out(bound, '\0');
  if (compress2(reinterpret_cast<Bytef*>(out.data()), &bound,
                reinterpret_cast<const Bytef*>(plain.data()), static_cast<uLong>(plain.size()),
                compressionLevel) != Z_OK) {
    return std::string();
  }
  out.resize(bound);
  return out;
}

bool eddsaSign(const uint8_t message[32], const uint8_t seed[32], uint8_t signature[64]) {
  EVP_PKEY* key = EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, seed, 32);
  if (key == nullptr) return false;
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  size_t length = 64;
  bool ok = ctx != nullptr && EVP_DigestSignInit(ctx, nullptr, nullptr, nullptr, key) == 1 &&
            EVP_DigestSign(ctx, signature, &length, message, 32) == 1 && length == 64;
  EVP_MD_CTX_free(ctx);
  EVP_PKEY_free(key);
  return ok;
}

bool buildPackage(const PackageSpec& spec, const SigningKeys& keys, std::string* file,
                  std::string* error) {
  Emitter out;
  if (spec.sha256) out.part(PartDigestSwitch, std::string());
  if (!emitPackage(spec, keys, &out, error)) return false;
  *file = withFileHeader(spec.magic, out.body());
  return true;
}

bool buildBundle(const BundleSpec& spec, const SigningKeys& keys, std::string* file,
                 std::string* error) {
  if (!checkName(spec.name, "bundle", error)) return false;
  if (spec.memberList && !checkRelations(*spec.memberList, error)) return false;
  Emitter out;
  if (spec.sha256) out.part(PartDigestSwitch, std::string());
  out.part(PartBundleHeader, encodeHeader(spec.name, spec.version, spec.buildTime, spec.flags, true));
  if (spec.note) out.part(PartNote, *spec.note);
  if (spec.blob) out.part(PartBlob, *spec.blob);
  if (spec.memberList) out.part(PartBundleMembers, encodeRelations(*spec.memberList));
  for (const PackageSpec& member : spec.members) {
    // A member asking for SHA-256 in a SHA-1 bundle switches the rest of the stream.
    if (member.sha256 && !spec.sha256) out.part(PartDigestSwitch, std::string());
    if (!emitPackage(member, keys, &out, error)) return false;
  }
  *file = withFileHeader(PackageMagic, out.body());
  return true;
}

}  // namespace qpk
