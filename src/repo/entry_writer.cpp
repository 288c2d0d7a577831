// Writing a package's database entry back: every file through the atomic
// writer, every removal staged, nothing on flash until the commit.
#include "repo/entry_writer.h"


#include "console/messages.h"
#include "repo/entry_directory.h"
#include "repo/repository.h"
#include "staging/atomic_writer.h"

namespace {

constexpr uint32_t kVersionHint = 32;
constexpr uint32_t kRelationHint = 1024;
constexpr uint32_t kBundleHint = 16;
constexpr uint32_t kFilesHint = 4096;
constexpr uint32_t kStateHint = 8;

// The entry files are read back word by word: a word must not be empty
// and must not hold whitespace, or the next load would misread the entry.
bool isWord(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r') return false;
  }
  return true;
}

// Everything the metadata files must hold can be read back as written:
// relation and bundle names as words, installed paths as single lines.
bool isRepresentable(const Package& package) {
  for (const auto* list : {&package.dependencies, &package.provides, &package.conflicts}) {
    for (const Relation& relation : *list) {
      if (!isWord(relation.name)) return false;
    }
  }
  if (!package.bundle.name.empty() && !isWord(package.bundle.name)) return false;
  for (const std::string& path : package.files) {
    if (path.find('\n') != std::string::npos) return false;
  }
  return true;
}

// Buffered writes only fail when they reach the disk, so the stream is
// flushed before its state is believed.
bool finish(AtomicFile& out) {
  out.flush();
  if (!out.good()) return false;
  out.close();
  return !out.fail();
}

void writeEnabledFile(const std::string& directory, StagedChanges& staged) {
  AtomicFile out;
  openAtomic(out, staged, directory + "enabled", kStateHint, 0);
  out << "user\n";
  out.close();
}

bool writeMetadata(const Package& package, const std::string& directory, StagedChanges& staged) {
  AtomicFile version;
  openAtomic(version, staged, directory + "version", kVersionHint, 0);
  version << package.version << ' ' << package.buildTime << '\n';
  if (!finish(version)) {
    reportWriteFailure(package, "meta/version");
    return false;
  }

  if (!writeRelationFile(staged, directory + "deps", package.dependencies, false)) {
    reportWriteFailure(package, "meta/deps");
    return false;
  }
  if (!package.provides.empty() && !writeRelationFile(staged, directory + "provides", package.provides, true)) {
    reportWriteFailure(package, "meta/provides");
    return false;
  }
  if (!package.conflicts.empty() &&
      !writeRelationFile(staged, directory + "conflicts", package.conflicts, false)) {
    reportWriteFailure(package, "meta/conflicts");
    return false;
  }

  if (!package.bundle.name.empty()) {
    AtomicFile bundle;
    openAtomic(bundle, staged, directory + "bundle", kBundleHint, 0);
    bundle << package.bundle.name << '\n';
    if (!finish(bundle)) {
      reportWriteFailure(package, "meta/bundle");
      return false;
    }
  } else {
    stageRemoval(staged, directory + "bundle");
  }

  if (!package.isBundle) {
    AtomicFile files;
    openAtomic(files, staged, directory + "files", kFilesHint, 0);
    for (const std::string& path : package.files) {
      if (path.empty()) continue;
      files << (path[0] == '/' ? path.substr(1) : path) << '\n';
    }
    if (!finish(files)) {
      reportWriteFailure(package, "meta/files");
      return false;
    }
  }
  return true;
}

}  // namespace

bool writeEntry(const Package& package, StagedChanges& staged) {
  const bool metadata = !package.hasBlob && !(package.flags & kFlagStateOnly);
  if (!hasValidEntryName(package.name) || (metadata && !isRepresentable(package))) {
    reportBrokenPackage(package);
    return false;
  }
  const std::string directory = entryDirectory(package);
  // A state-only entry relies on the stored image for everything else.
  if (metadata && !writeMetadata(package, directory, staged)) return false;

  if (package.disabled) {
    writeDisabledFile(package, staged);
  } else {
    stageRemoval(staged, directory + "disabled");
  }
  if (!package.disabled && package.byUser) {
    writeEnabledFile(directory, staged);
  } else {
    stageRemoval(staged, directory + "enabled");
  }
  return true;
}

bool writeRelationFile(StagedChanges& staged, const std::string& path, const std::vector<Relation>& list,
                       bool withPriority) {
  AtomicFile out;
  openAtomic(out, staged, path, kRelationHint, 0);
  for (const Relation& relation : list) {
    out << relation.name << ' ' << relation.minVersion << ' ' << relation.maxVersion;
    if (withPriority) out << ' ' << relation.priority;
    out << '\n';
  }
  return finish(out);
}

void recordEnabled(Repository&, const std::vector<Package*>& list, StagedChanges& staged, bool verbose) {
  for (Package* package : list) {
    if (verbose) setProgressLine("enabling " + packageLabel(*package) + "...");
    if (hasValidEntryName(package->name)) {
      const std::string directory = entryDirectory(*package);
      stageRemoval(staged, directory + "disabled");
      if (package->byUser) {
        writeEnabledFile(directory, staged);
      } else {
        stageRemoval(staged, directory + "enabled");
      }
    }
    package->disabled = false;
    package->action = PendingAction::None;
    if (verbose) printInfo("enabled %s", packageLabel(*package).c_str());
  }
}

void writeDisabledFile(const Package& package, StagedChanges& staged) {
  if (!hasValidEntryName(package.name)) return;
  AtomicFile out;
  openAtomic(out, staged, entryDirectory(package) + "disabled", kStateHint, 0);
  out << (package.byUser ? "user" : "auto") << '\n';
  out.close();
}
