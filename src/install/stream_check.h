// The signatures of a package stream, checked before anything of it is
// unpacked: no byte of a payload reaches a temporary unless every signature
// of the stream was found good first.
#pragma once
#include <array>
#include <cstdint>
#include <streambuf>
#include <vector>

struct StreamCheck {
  // The stream holds one package or a bundle of members, every signature
  // checks, and the stream reaches the length its file header declares.
  bool allSigned = false;
  // The digest each package's signature was found good for, in stream order.
  std::vector<std::array<uint8_t, 32>> digests;

  // The digest package (0 for a stand-alone one, k for member k) must have
  // when it is read again; null when the stream is not all signed.
  const uint8_t* digestOf(size_t package) const {
    return allSigned && package < digests.size() ? digests[package].data() : nullptr;
  }
  // A bundle holds nothing between a member's signature and the next member
  // header but an architecture part at its very end: any other part there
  // is covered by no signature.
  bool sealed = true;
};

// Reads the whole stream once with the running digest, inflating nothing,
// and checks every signature. source and copySink are not owned; copySink,
// when given, receives every byte read.
StreamCheck checkStream(std::streambuf* source, std::streambuf* copySink);
