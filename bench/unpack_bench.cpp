// Payload unpacking throughput. "make DIR MB" writes a tree of files with a
// mix of text-like and random content and packs it into DIR/pkg.qpk;
// "unpack DIR" unpacks that package in a chroot at DIR/root, the way the
// installer does, and prints the time, the MB/s of file data and the
// process's peak memory (which must not grow with the payload).
#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "console/messages.h"
#include "package/payload.h"
#include "qpk/package_builder.h"

namespace {

double now() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

const char* const kWords[] = {"router", "packet", "flash",  "install", "bridge", "route",
                              "vlan",   "queue",  "filter", "address", "tunnel", "wireless"};

// About a third random bytes (compressed data, images), the rest text.
std::string content(size_t size, uint32_t seed) {
  std::string s;
  s.reserve(size);
  uint32_t x = seed * 2654435761u + 1;
  while (s.size() < size) {
    x = x * 1103515245 + 12345;
    if ((x >> 16) % 3 == 0) {
      for (int i = 0; i < 4096 && s.size() < size; ++i) {
        x = x * 1103515245 + 12345;
        s += static_cast<char>(x >> 24);
      }
    } else {
      const size_t blockEnd = s.size() + 4096;
      while (s.size() < blockEnd && s.size() < size) {
        x = x * 1103515245 + 12345;
        s += kWords[(x >> 16) % 12];
        s += (x >> 8) % 9 == 0 ? '\n' : ' ';
      }
    }
  }
  s.resize(size);
  return s;
}

int make(const std::string& dir, int megabytes) {
  const std::string tree = dir + "/tree";
  mkdir(tree.c_str(), 0755);
  mkdir((tree + "/lib").c_str(), 0755);
  mkdir((tree + "/bin").c_str(), 0755);
  // A few large files and many small ones, as a system package has.
  size_t total = static_cast<size_t>(megabytes) << 20;
  size_t written = 0;
  int index = 0;
  while (written < total) {
    size_t size = index % 10 == 0 ? (8u << 20) : (index % 3 == 0 ? 300000u : 20000u + index * 37u % 50000u);
    if (size > total - written) size = total - written;
    std::string path = tree + (index % 2 ? "/lib/file" : "/bin/file") + std::to_string(index);
    std::ofstream(path, std::ios::binary) << content(size, static_cast<uint32_t>(index));
    written += size;
    ++index;
  }
  qpk::PackageSpec spec;
  spec.name = "bench";
  spec.version = 0x07010000;
  std::string error;
  std::vector<std::string> skipped;
  if (!qpk::collectFiles(tree, &spec.files, &skipped, &error)) {
    std::fprintf(stderr, "unpack_bench: %s\n", error.c_str());
    return 1;
  }
  spec.signature = qpk::SignatureForm::None;
  std::string file;
  if (!qpk::buildPackage(spec, qpk::SigningKeys(), &file, &error)) {
    std::fprintf(stderr, "unpack_bench: %s\n", error.c_str());
    return 1;
  }
  std::ofstream(dir + "/pkg.qpk", std::ios::binary) << file;
  std::printf("made %d files, %zu bytes of file data, package %zu bytes\n", index, written, file.size());
  return 0;
}

int unpack(const std::string& dir) {
  std::ifstream in(dir + "/pkg.qpk", std::ios::binary);
  if (!in) return std::perror("pkg.qpk"), 1;
  const std::string root = dir + "/root";
  mkdir(root.c_str(), 0755);
  mkdir((root + "/flash").c_str(), 0755);
  mkdir((root + "/ram").c_str(), 0755);
  if (chroot(root.c_str()) != 0 || chdir("/") != 0) return std::perror("chroot"), 1;

  std::ofstream quiet("/dev/null");
  setConsoleStream(&quiet);
  const double start = now();
  PackageReader reader(in.rdbuf(), true, nullptr);
  for (int32_t type : {1, 4, 9}) reader.accept(type);
  Package package;
  if (reader.nextPart() != PartHeader || !reader.readHeader(package)) return 1;
  while (reader.partType() >= 0 && reader.partType() != PartFiles) reader.nextPart();
  StagedChanges staged;
  const bool ok = unpackFiles(package, staged, reader);
  const double seconds = now() - start;

  uint64_t bytes = 0;
  for (const auto& [target, change] : staged) {
    struct stat st;
    if (stat(change.data.c_str(), &st) == 0) bytes += static_cast<uint64_t>(st.st_size);
  }
  rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  std::printf("installer unpack: %s, %zu files, %.1f MB in %.2f s = %.1f MB/s, peak memory %ld KiB\n",
              ok ? "ok" : "FAILED", staged.size(), bytes / 1e6, seconds, bytes / 1e6 / seconds,
              usage.ru_maxrss);
  return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 4 && std::strcmp(argv[1], "make") == 0) return make(argv[2], std::atoi(argv[3]));
  if (argc >= 3 && std::strcmp(argv[1], "unpack") == 0) return unpack(argv[2]);
  std::fprintf(stderr, "usage: unpack_bench make DIR MB | unpack_bench unpack DIR\n");
  return 2;
}
