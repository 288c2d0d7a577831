// The package container: an 8-byte file header, then typed, length-prefixed
// parts. PackageReader walks the accepted parts with a running digest and an
// optional copy of every byte it takes.
#pragma once
#include <cstdint>
#include <istream>
#include <streambuf>
#include <vector>

#include "model/package.h"
#include "platform/digest.h"

inline constexpr uint32_t PackageMagic = 0xBAD0F11E;
inline constexpr uint32_t UnrecordedMagic = 0xA1100FFB;

enum PartType : int32_t {
  PartHeader = 1,
  PartText2 = 2,
  PartDependencies = 3,
  PartFiles = 4,
  PartSignature = 9,
  PartArchitecture = 16,
  PartConflicts = 17,
  PartBundleHeader = 18,
  PartProvides = 19,
  PartBundleMembers = 20,
  PartBlob = 21,
  PartNote = 23,
  PartText24 = 24,
  PartDigestSwitch = 25,
};

// A stream buffer limited to the current part, digesting and copying what it
// hands out. Owns its digest objects; the source and sink are not owned.
class PartBuffer;

class PackageReader : public std::istream {
 public:
  // Reads the file header at once. source and copySink are not owned and must
  // outlive the reader; copySink may be null.
  PackageReader(std::streambuf* source, bool hashing, std::streambuf* copySink);
  ~PackageReader() override;

  void accept(int32_t type);
  // Every part, of any type, stops nextPart: for walks that must see what
  // lies between the parts they read.
  void acceptAll();
  int nextPart();

  int32_t partType() const;
  uint32_t magic() const;
  uint32_t fileSize() const;
  uint32_t partLength() const;
  uint32_t partStart() const;   // file offset of the current part's first data byte
  uint32_t remaining() const;   // bytes of the current part not yet consumed

  bool readHeader(PackageInfo& record);
  bool readRelations(std::vector<Relation>& list);

  // Digest access for the signature check.
  bool hashing() const;
  void closeDigest();                   // running digest's final value -> digest buffer
  const uint8_t* digestBuffer() const;  // 32 bytes; a SHA-1 fills 20, the rest are zero
  bool digestIsSha256() const;
  // Reads n bytes straight from the source without digesting them, copies
  // them to the sink and lowers remaining. False on a short read.
  bool readUndigested(uint8_t* out, uint32_t n);

  // The PartBuffer as a stream buffer, for stacking the payload's inflater.
  std::streambuf* partBuffer();

 private:
  PartBuffer* buffer_;  // owned
};

// The "installing <label> [####    ]" progress bar line.
void installProgress(const Package& package, PackageReader& reader);
