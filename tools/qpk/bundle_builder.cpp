// Bundles from already signed member package files.
#include <cstring>

#include "platform/endian.h"
#include "qpk/package_builder.h"

namespace qpk {

bool spliceBundle(const BundleSpec& spec, const std::vector<std::string>& memberFiles,
                  std::string* file, std::string* error) {
  if (spec.name.size() > 16) {
    *error = "bundle name \"" + spec.name + "\" is longer than 16 characters";
    return false;
  }
  PartWriter out;
  if (spec.sha256) out.part(PartDigestSwitch, std::string());
  out.part(PartBundleHeader, encodeHeader(spec.name, spec.version, spec.buildTime, spec.flags, true));
  if (spec.note) out.part(PartNote, *spec.note);
  if (spec.blob) out.part(PartBlob, *spec.blob);
  if (spec.memberList) out.part(PartBundleMembers, encodeRelations(*spec.memberList));
  for (size_t i = 0; i < memberFiles.size(); ++i) {
    const std::string& member = memberFiles[i];
    std::string which = "member " + std::to_string(i + 1);
    const auto* bytes = reinterpret_cast<const uint8_t*>(member.data());
    if (member.size() < 8 || decodeFixed32(bytes) != PackageMagic) {
      *error = which + " is not an ordinary package file";
      return false;
    }
    // Walk the member's parts: it must be one package, whole.
    size_t at = 8;
    size_t start = 8;
    bool sha256 = false;
    int headers = 0;
    while (at < member.size()) {
      if (member.size() - at < 6) {
        *error = which + " ends inside a part header";
        return false;
      }
      uint16_t type = decodeFixed16(bytes + at);
      uint32_t length = decodeFixed32(bytes + at + 2);
      if (member.size() - at - 6 < length) {
        *error = which + " is cut short";
        return false;
      }
      if (type == PartDigestSwitch && headers == 0) {
        sha256 = true;
        start = at + 6 + length;
      } else if (type == PartHeader) {
        ++headers;
      } else if (type == PartBundleHeader || type == PartDigestSwitch) {
        *error = which + " is a bundle or switches its digest midway";
        return false;
      }
      at += 6 + static_cast<size_t>(length);
    }
    if (headers != 1) {
      *error = which + " does not hold exactly one package";
      return false;
    }
    if (sha256 != spec.sha256) {
      *error = which + (sha256 ? " is signed over SHA-256 but the bundle uses SHA-1"
                               : " is signed over SHA-1 but the bundle uses SHA-256");
      return false;
    }
    out.raw(member.substr(start));
  }
  *file = out.finish(PackageMagic);
  return true;
}

}  // namespace qpk
