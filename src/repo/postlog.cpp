// The post-install log: the messages of installing runs, collected on flash
// across runs. An installing run takes the old log over first, so that a run
// that dies half-way leaves a file of zero bytes rather than a stale log.
#include <unistd.h>

#include <fstream>
#include <string>

#include "repo/repository.h"

void Repository::takeOverPostlog() {
  {
    std::ifstream old(kPostlogPath, std::ios::binary);
    std::string line;
    // A last piece without its newline was cut off mid-write; it is dropped.
    while (old.is_open() && std::getline(old, line) && !old.eof()) logLines.push_back(line);
  }
  {
    // The zero bytes reserve the log's room while the run works.
    std::ofstream reserve(kPostlogPath, std::ios::binary | std::ios::trunc);
    const std::string zeros(4096, '\0');
    reserve.write(zeros.data(), static_cast<std::streamsize>(zeros.size()));
  }
  postlogTakenOver = true;
}

void Repository::writePostlog() {
  if (!postlogTakenOver && logLines.empty()) return;
  // After a takeover the old lines are already in logLines.
  const std::ios::openmode mode =
      std::ios::binary | (postlogTakenOver ? std::ios::trunc : std::ios::app) | std::ios::out;
  std::ofstream log(kPostlogPath, mode);
  sync();
  for (const std::string& line : logLines) log << line << '\n';
}
