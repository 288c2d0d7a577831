// Helper of show_bench.sh. Two jobs:
//   show_bench_tool build ROOT COUNT SIZE
//     writes COUNT installed packages into ROOT's database, each with a
//     stored image carrying SIZE bytes of incompressible blob data;
//   show_bench_tool measure PROGRAM ARGS...
//     runs the program with its output thrown away and reports its wall
//     time and what it read (from /proc/PID/io, taken before it is reaped).
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>

#include "qpk/package_builder.h"

namespace {

bool makeDirectory(const std::string& path) { return mkdir(path.c_str(), 0755) == 0 || errno == EEXIST; }

int build(const std::string& root, int count, size_t size) {
  for (const char* part : {"", "/flash", "/flash/var", "/flash/var/pdb", "/ram", "/rw", "/rw/pckg",
                           "/rw/pckg/.images"}) {
    if (!makeDirectory(root + part)) {
      std::perror(part);
      return 1;
    }
  }
  std::mt19937_64 random(42);
  std::string blob(size, '\0');
  qpk::SigningKeys noKeys;
  for (int i = 0; i < count; ++i) {
    for (size_t at = 0; at + 8 <= blob.size(); at += 8) {
      uint64_t word = random();
      std::memcpy(&blob[at], &word, 8);
    }
    qpk::PackageSpec spec;
    char name[17];
    std::snprintf(name, sizeof name, "bench-%05d", i);
    spec.name = name;
    spec.version = makeVersion(6, 46, Final, static_cast<uint8_t>(i % 200 + 1));
    spec.buildTime = 1796508901u + static_cast<uint32_t>(i);
    spec.note = "benchmark package";
    spec.dependencies = {{"system", makeVersion(6, 46, Final, 0), 0, 0}};
    spec.blob = blob;
    spec.files = {{"bin/" + spec.name, "small payload"}};
    // The loader never checks signatures; leaving them out keeps the build quick.
    spec.signature = qpk::SignatureForm::None;
    std::string file, error;
    if (!qpk::buildPackage(spec, noKeys, &file, &error)) {
      std::fprintf(stderr, "build %s: %s\n", name, error.c_str());
      return 1;
    }
    std::string directory = root + "/flash/var/pdb/" + spec.name;
    if (!makeDirectory(directory)) return 1;
    std::ofstream(directory + "/image", std::ios::binary) << file;
    std::ofstream(directory + "/enabled") << "user\n";
  }
  return 0;
}

double now() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

int measure(char** argv) {
  double start = now();
  pid_t pid = fork();
  if (pid < 0) return 1;
  if (pid == 0) {
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    execv(argv[0], argv);
    _exit(127);
  }
  siginfo_t info;
  // WNOWAIT leaves the child a zombie whose counters can still be read.
  if (waitid(P_PID, pid, &info, WEXITED | WNOWAIT) != 0) return 1;
  double seconds = now() - start;
  std::ifstream io("/proc/" + std::to_string(pid) + "/io");
  std::string line;
  std::printf("wall time: %.3f s\n", seconds);
  while (std::getline(io, line)) {
    if (line.rfind("rchar", 0) == 0 || line.rfind("syscr", 0) == 0 || line.rfind("read_bytes", 0) == 0) {
      std::printf("%s\n", line.c_str());
    }
  }
  int status = 0;
  waitpid(pid, &status, 0);
  std::printf("exit status: %d\n", WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "build") == 0) {
    return build(argv[2], std::atoi(argv[3]), std::strtoul(argv[4], nullptr, 10));
  }
  if (argc >= 3 && std::strcmp(argv[1], "measure") == 0) return measure(argv + 2);
  std::fprintf(stderr, "usage: show_bench_tool build ROOT COUNT SIZE | measure PROGRAM ARGS...\n");
  return 2;
}
