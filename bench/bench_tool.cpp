// Helper of bench/run.sh. Two jobs:
//   bench_tool tree DIR FILES BYTES SEED [mixed|compressible|small]
//     writes FILES files of BYTES bytes in all below DIR, in subfolders of
//     100 files each ("d000/f00000"), the same bytes for the same seed. Sizes
//     are mixed (many small files, a few large ones, up to 4 MiB before
//     scaling); "mixed" content is a quarter random bytes, half text-like and
//     a quarter long repeats, so it compresses about 2.5x at level 6;
//     "compressible" is text and repeats only; "small" takes sizes from a few
//     bytes to 400 KB, a fifth of the files random.
//   bench_tool time PROGRAM ARGS...
//     runs the program (its standard output thrown away) and prints one line
//     "wall_s cpu_s maxrss_kib read_bytes exit": wall time, user + system CPU
//     time and peak resident size of the child and what it waited for, and the
//     bytes it read through read calls (rchar of /proc/PID/io).
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

// A small, fast, seeded generator (SplitMix64), so the content is the same on
// every machine and every standard library.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  double unit() { return (next() >> 11) * (1.0 / 9007199254740992.0); }
  uint32_t below(uint32_t n) { return static_cast<uint32_t>(next() % n); }

 private:
  uint64_t state_;
};

const char* const kWords[] = {
    "router", "package", "install", "flash",  "version", "interface", "bridge", "firewall",
    "address", "route",  "config",  "system", "enable",  "disable",   "kernel", "module",
    "wireless", "queue", "filter",  "dhcp",   "server",  "client",    "tunnel", "vlan",
    "the",     "of",     "and",     "to",     "in",      "is",        "for",    "with",
    "0",       "1",      "255",     "8080",   "=",       ";",         "{",      "}"};

void fillRandom(Random& random, char* out, size_t n) {
  size_t at = 0;
  for (; at + 8 <= n; at += 8) {
    uint64_t word = random.next();
    std::memcpy(out + at, &word, 8);
  }
  for (; at < n; ++at) out[at] = static_cast<char>(random.next());
}

void fillText(Random& random, char* out, size_t n) {
  size_t at = 0;
  const size_t words = sizeof kWords / sizeof kWords[0];
  while (at < n) {
    uint64_t bits = random.next();
    for (int k = 0; k < 8 && at < n; ++k, bits >>= 8) {
      const char* word = kWords[(bits & 0xFF) % words];
      for (const char* c = word; *c != '\0' && at < n; ++c) out[at++] = *c;
      if (at < n) out[at++] = (bits & 0x1F) == 0 ? '\n' : ' ';
    }
  }
}

// Runs of a short random record, as in tables and padded images.
void fillRepeats(Random& random, char* out, size_t n) {
  char record[64];
  size_t at = 0;
  while (at < n) {
    const size_t length = 8 + random.below(56);
    fillRandom(random, record, length);
    const size_t run = 64 + random.below(4096);
    for (size_t i = 0; i < run && at < n; ++i) out[at++] = record[i % length];
  }
}

bool makeDirectory(const std::string& path) { return mkdir(path.c_str(), 0755) == 0 || errno == EEXIST; }

enum class Content { Mixed, Compressible, Small };

int tree(const std::string& dir, uint32_t files, uint64_t bytes, uint64_t seed, Content content) {
  Random random(seed);
  // Log-uniform sizes, then scaled to the total: most files are small, a few
  // large ones carry much of the data.
  const double smallest = content == Content::Small ? 8.0 : 64.0;
  const double largest = content == Content::Small ? 400000.0 : 4194304.0;
  std::vector<double> weights(files);
  double sum = 0;
  for (double& w : weights) {
    w = std::exp(std::log(smallest) + random.unit() * (std::log(largest) - std::log(smallest)));
    sum += w;
  }
  std::vector<uint64_t> sizes(files);
  uint64_t given = 0;
  for (uint32_t i = 0; i < files; ++i) {
    sizes[i] = static_cast<uint64_t>(weights[i] / sum * static_cast<double>(bytes));
    given += sizes[i];
  }
  sizes[files - 1] += bytes - given;

  if (!makeDirectory(dir)) {
    std::perror(dir.c_str());
    return 1;
  }
  std::vector<char> buffer;
  for (uint32_t i = 0; i < files; ++i) {
    char sub[16], name[32];
    std::snprintf(sub, sizeof sub, "/d%03u", i / 100);
    std::snprintf(name, sizeof name, "/f%05u", i);
    const std::string folder = dir + sub;
    if (i % 100 == 0 && !makeDirectory(folder)) {
      std::perror(folder.c_str());
      return 1;
    }
    buffer.resize(sizes[i]);
    uint32_t kind = content == Content::Compressible ? 1 + random.below(3) : random.below(4);
    if (content == Content::Small) kind = random.below(5) == 0 ? 0 : 1 + random.below(3);
    if (kind == 0) {
      fillRandom(random, buffer.data(), buffer.size());
    } else if (kind == 3) {
      fillRepeats(random, buffer.data(), buffer.size());
    } else {
      fillText(random, buffer.data(), buffer.size());
    }
    const std::string path = folder + name;
    std::ofstream out(path, std::ios::binary);
    out.write(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    if (!out) {
      std::perror(path.c_str());
      return 1;
    }
  }
  return 0;
}

double now() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

int timeProgram(char** argv) {
  const double start = now();
  pid_t pid = fork();
  if (pid < 0) return 1;
  if (pid == 0) {
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    execvp(argv[0], argv);
    _exit(127);
  }
  siginfo_t info;
  // WNOWAIT leaves the child a zombie whose /proc counters can still be read.
  if (waitid(P_PID, pid, &info, WEXITED | WNOWAIT) != 0) return 1;
  const double wall = now() - start;
  unsigned long long readBytes = 0;
  std::ifstream io("/proc/" + std::to_string(pid) + "/io");
  std::string key;
  unsigned long long value;
  while (io >> key >> value) {
    if (key == "rchar:") readBytes = value;
  }
  int status = 0;
  struct rusage usage;
  if (wait4(pid, &status, 0, &usage) != pid) return 1;
  const double cpu = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
                     usage.ru_stime.tv_usec / 1e6;
  const int exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  std::printf("%.4f %.4f %ld %llu %d\n", wall, cpu, usage.ru_maxrss, readBytes, exitCode);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if ((argc == 6 || argc == 7) && std::strcmp(argv[1], "tree") == 0) {
    Content content = Content::Mixed;
    if (argc == 7 && std::strcmp(argv[6], "compressible") == 0) content = Content::Compressible;
    if (argc == 7 && std::strcmp(argv[6], "small") == 0) content = Content::Small;
    return tree(argv[2], static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 10)),
                std::strtoull(argv[4], nullptr, 10), std::strtoull(argv[5], nullptr, 10), content);
  }
  if (argc >= 3 && std::strcmp(argv[1], "time") == 0) return timeProgram(argv + 2);
  std::fprintf(stderr,
               "usage: bench_tool tree DIR FILES BYTES SEED [mixed|compressible|small]\n"
               "       bench_tool time PROGRAM ARGS...\n");
  return 2;
}
