// The default run: install what was uploaded since the last run, one version
// per package in dependency order, and make sure nothing that was available
// before has gone missing. Everything is staged; the first failure discards it all.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <set>

#include "console/messages.h"
#include "install/install_stream.h"
#include "model/file_set.h"
#include "model/matching.h"
#include "platform/fd_stream_buffer.h"
#include "repo/entry_directory.h"
#include "repo/entry_writer.h"
#include "repo/repository.h"
#include "resolve/check_candidate.h"
#include "resolve/ordering.h"
#include "upgrade/upgrade_driver.h"

namespace {

constexpr const char* kDownloadDirectory = "/rw/pckg/.download/";
constexpr const char* kIgnoreMarker = "/rw/pckg/.download/IGNORE";
constexpr const char* kFlashUploadDirectory = "/flash/rw/pckg/";
constexpr const char* kFlashPackageDirectory = "/flash/var/pckg/";
constexpr const char* kDowngradeFile = "/ram/DOWNGRADE";
constexpr const char* kBootImagePath = "/flash/bootimage";
constexpr long kReadBufferSize = 65536;

bool fileExists(const char* path) {
  std::ifstream probe(path);
  return probe.is_open();
}

// The lowest version the run may install, and whether the run is a downgrade.
Version readDowngradeMinimum(uint32_t& tolerated) {
  std::ifstream file(kDowngradeFile);
  if (!file.is_open()) return kNoMinimum;
  uint32_t minimum = 0;
  if (!(file >> minimum)) minimum = 0;
  tolerated |= kOutcomeOlder;
  return minimum;
}

// Only the first upload directory that holds any package file supplies the run.
void findCandidates(std::vector<std::unique_ptr<PackageCandidate>>& found, bool& fromDownload) {
  fromDownload = false;
  if (!fileExists(kIgnoreMarker)) {
    scanPackageDirectory(kDownloadDirectory, found);
    fromDownload = true;
  }
  if (found.empty()) {
    fromDownload = false;
    scanPackageDirectory(kFlashUploadDirectory, found);
    if (found.empty()) scanPackageDirectory(kFlashPackageDirectory, found);
  }
}

// Every name an enabled package had or provided before the upgrade.
FileSet activeNames(const Repository& repository) {
  FileSet names;
  for (const auto& package : repository.packages) {
    if (package->disabled) continue;
    names.insert(package->name);
    for (const Relation& provision : package->provides) names.insert(provision.name);
  }
  return names;
}

// The user's explicit enable/disable choices, handed to the new versions.
ChoicesMap userChoices(const Repository& repository) {
  ChoicesMap choices;
  for (const auto& package : repository.packages) {
    if (package->byUser) choices.emplace(package->name, package->disabled);  // first one wins
  }
  return choices;
}

// The uploaded file itself becomes the stored image of the entry (or the
// boot image, linked from the entry), so the blob is never copied.
void keepUploadAsImage(const PackageCandidate& candidate, bool bootImage, StagedChanges& staged) {
  // Names come from a 16-byte header field, so the path always fits; a name
  // that could not own an entry directory never gets an image staged.
  if (!hasValidEntryName(candidate.name)) return;
  // A package of the unrecorded magic writes no entry: its upload in the
  // entry directory of its name would replace an installed package's image,
  // or be loaded next time as a package that was never recorded. A bundle's
  // own entry is written whatever the magic.
  if (!candidate.recorded && !candidate.isBundle) {
    if (bootImage) stageMove(staged, candidate.path, kBootImagePath);
    return;
  }
  const std::string image = entryDirectory(candidate) + "image";
  if (bootImage) {
    stageMove(staged, candidate.path, kBootImagePath);
    stageSymlink(staged, kBootImagePath, image);
  } else {
    stageMove(staged, candidate.path, image);
  }
}

// The first enabled installed package that has or provides name, else the
// last disabled one; null when none does.
Package* findHolder(const Repository& repository, const std::string& name) {
  Relation wanted;
  wanted.name = name;
  Package* found = nullptr;
  for (const auto& package : repository.packages) {
    if (!satisfies(*package, wanted) && !providesMatch(*package, wanted)) continue;
    found = package.get();
    if (!package->disabled) break;
  }
  return found;
}

std::vector<PackageInfo> failUpgrade(StagedChanges& staged) {
  discardChanges(staged);
  return {};
}

}  // namespace

std::vector<PackageInfo> runUpgrade(Repository& repository, StagedChanges& staged, uint32_t tolerated) {
  std::vector<PackageInfo> installed;
  const Version minimum = readDowngradeMinimum(tolerated);

  std::vector<std::unique_ptr<PackageCandidate>> found;
  bool fromDownload = false;
  findCandidates(found, fromDownload);

  std::vector<PackageInfo*> order;
  for (const auto& candidate : found) order.push_back(candidate.get());
  orderCandidates(repository, order, minimum, true);

  const ChoicesMap choices = userChoices(repository);
  const FileSet before = activeNames(repository);

  if (!order.empty()) repository.takeOverPostlog();

  for (PackageInfo* info : order) {
    const auto& candidate = *static_cast<PackageCandidate*>(info);
    // Read in 64 KiB blocks: an eighth of the read calls of the stream's 8 KiB.
    InputFile file(candidate.path, kReadBufferSize);
    if (!file.isOpen()) continue;
    bool bootImage = false;
    const size_t messagesBefore = repository.logLines.size();
    const int result =
        installFromStream(repository, staged, file.buffer(), tolerated, choices, nullptr, nullptr, &bootImage);
    if (result != 0) {
      // The whole upgrade stops, and never without a word: the stream
      // installer has said why, or the file is named here.
      if (repository.logLines.size() == messagesBefore) {
        printError("broken package %s", candidate.path.substr(candidate.path.rfind('/') + 1).c_str());
      }
      return failUpgrade(staged);
    }
    if (candidate.hasBlob) keepUploadAsImage(candidate, bootImage, staged);
    installed.push_back(static_cast<const PackageInfo&>(candidate));
  }

  std::vector<Package*> enable;
  for (const std::string& name : before) {
    Package* holder = findHolder(repository, name);
    if (holder == nullptr) {
      // A download may drop a name on purpose; files left on flash may not.
      if (fromDownload) continue;
      printError("missing package %s", name.c_str());
      return failUpgrade(staged);
    }
    // One package may fill several missing names; enable it once.
    if (holder->disabled && repository.findConflicting(*holder) == nullptr &&
        std::find(enable.begin(), enable.end(), holder) == enable.end()) {
      enable.push_back(holder);
    }
  }
  recordEnabled(repository, enable, staged, true);

  if (repository.packages.empty()) {
    printError("router installation failed!!!");
    return failUpgrade(staged);
  }
  return installed;
}
