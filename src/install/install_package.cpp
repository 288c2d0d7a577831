#include "install/install_package.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "console/messages.h"
#include "model/install_rules.h"
#include "package/payload.h"
#include "package/signature.h"
#include "repo/entry_directory.h"
#include "repo/entry_writer.h"
#include "repo/package_entry.h"
#include "repo/repository.h"
#include "resolve/action_engine.h"
#include "resolve/check_candidate.h"
#include "staging/atomic_writer.h"

namespace {

bool hasUsableNames(const PackageInfo& package) {
  if (packageNameProblem(package.name) != nullptr) return false;
  for (const auto* list : {&package.dependencies, &package.provides, &package.conflicts}) {
    for (const Relation& relation : *list) {
      if (relationNameProblem(relation.name) != nullptr) return false;
    }
  }
  return true;
}

// A marker is an empty file staged like any other file, so it appears only
// when the run commits.
void stageMarker(StagedChanges& staged, const char* path) {
  AtomicFile out;
  openAtomic(out, staged, path, 1, 0);
  out.close();
}

// "/rw/CONVERT" tells the old system to convert its configuration; it is
// written directly because it must exist even when the package is refused.
void createConvertMarker() {
  int fd = ::open("/rw/CONVERT", O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd >= 0) ::close(fd);
}

bool ownsRecord(const Repository& repository, const Package* record) {
  for (const auto& p : repository.packages) {
    if (p.get() == record) return true;
  }
  return false;
}

void reportBrokenMember(const Relation& bundle) {
  printError("installation of %s failed: broken package", relationLabel(bundle).c_str());
}

// Names the first dependency that nothing provides any more, as the
// acceptance check would have had the replaced package not counted.
void reportLostDependency(const Repository& repository, const std::string& label,
                          const std::vector<Relation>& dependencies) {
  for (const Relation& dependency : dependencies) {
    if (!repository.findProviders(dependency).empty()) continue;
    printError("can not install %s: %s is not installed, but is required", label.c_str(),
               relationLabel(dependency).c_str());
    return;
  }
}

// Passing over a refused bundle member: the reader ends on the next member's
// header (or the end), ready for the next call.
void skipToNextHeader(PackageReader& reader) {
  while (reader.partType() != PartHeader) {
    if (reader.nextPart() < 0) return;
  }
}

}  // namespace

bool hasUsablePackageNames(const PackageInfo& package) { return hasUsableNames(package); }

void reportEntryInTheWay(const Package& package) {
  // Something other than a directory holds the entry's path.
  printError("installation of %s failed: could not create %s: %s", reportLabel(package).c_str(),
             entryDirectory(package).c_str(), std::strerror(ENOTDIR));
}

Package* installPackage(Repository& repository, StagedChanges& staged, PackageReader& reader,
                        uint32_t tolerated, const ChoicesMap& choices, const Relation* bundle,
                        std::string* directoryOut, bool* bootImageOut, const uint8_t* checkedDigest) {
  auto record = std::make_unique<Package>();
  // A stand-alone stream whose header cannot be read is no package at all.
  // A member's header stands where the bundle promised one: a cut there
  // breaks the bundle, which must be said, or an upgrade run would drop
  // everything unexplained.
  if (!reader.readHeader(*record)) {
    if (bundle != nullptr) reportBrokenMember(*bundle);
    return nullptr;
  }
  if (bundle != nullptr && record->name == bundle->name) {
    reportBrokenMember(*bundle);
    return nullptr;
  }
  // A package without a database entry has no directory to keep its image
  // in: naming one would put its image under an installed package's name.
  if (record->hasBlob && directoryOut != nullptr && reader.magic() != UnrecordedMagic) {
    *directoryOut = entryDirectory(*record);
  }
  if (record->name == "system" && (record->version >> 24) <= 6) createConvertMarker();

  if (!hasUsableNames(*record)) {
    // The label of a member names its bundle.
    if (bundle != nullptr) record->bundle = *bundle;
    reportBrokenPackage(*record);
    return nullptr;
  }

  // A state-only entry keeps its metadata in the stored image, and only a
  // file with a blob is kept as one (a member's is its bundle's).
  if (bundle == nullptr && (record->flags & kFlagStateOnly) && !record->hasBlob && reader.magic() != UnrecordedMagic) {
    printError("installation of %s failed: a state-only package without a blob cannot be kept",
               packageLabel(*record).c_str());
    return nullptr;
  }

  uint32_t flags = checkCandidate(repository, bundle != nullptr ? 0xFFFFFFFFu : (tolerated | kOutcomeConflicts),
                                  *record);
  auto choice = choices.find(record->name);
  if (choice != choices.end()) {
    record->disabled = choice->second;
    record->byUser = true;
  }
  if (flags & kOutcomeConflicts) {
    record->disabled = true;
    flags &= ~kOutcomeConflicts;
  }

  uint32_t blocking = flags & (~tolerated | kOutcomeEqual);
  if (blocking != 0) {
    if (bundle != nullptr) {
      skipToNextHeader(reader);
      return repository.findInstalled(record->name);
    }
    if (blocking & kOutcomeRefused) return nullptr;
    if (flags & tolerated & kOutcomeEqual) {
      setProgressLine(std::string(78, ' '));
      setProgressLine("");
      printInfo("installed %s%s", record->disabled ? "(disabled) " : "", packageLabel(*record).c_str());
      Package* installed = repository.findInstalled(record->name);
      if (bootImageOut != nullptr && installed != nullptr) {
        *bootImageOut = (installed->flags & kFlagBootImage) != 0;
      }
      return installed;
    }
    if (flags & kOutcomeEqual) return repository.findInstalled(record->name);
    return nullptr;
  }

  if (bundle != nullptr) record->bundle = *bundle;
  bool recorded = reader.magic() != UnrecordedMagic;
  if (recorded) {
    int index = repository.indexOfInstalled(record->name);
    if (index >= 0) {
      removeEntry(repository, *repository.packages[index], staged);
      repository.packages.erase(repository.packages.begin() + index);
    }
  }

  installProgress(*record, reader);
  if (recorded && !prepareEntryDirectory(*record, staged)) {
    reportEntryInTheWay(*record);
    return nullptr;
  }

  if (reader.partType() == PartBlob) {
    uint32_t left = reader.partLength();
    while (left > 0) {
      installProgress(*record, reader);
      uint32_t step = left < 4096 ? left : 4096;
      reader.seekg(step, std::ios_base::cur);
      if (!reader) break;
      left -= step;
    }
    reader.nextPart();
  }

  bool bootImageSet = std::getenv("bootimage") != nullptr;
  if (reader.partType() == PartFiles) {
    // With "bootimage" set the system takes the boot image from the stored
    // package file itself, so the payload is passed over.
    // Nor is a payload whose signature was not found good beforehand: it is
    // read (and digested) but nothing of it is written.
    bool skip = (bootImageSet && (record->flags & kFlagBootImage)) || checkedDigest == nullptr;
    if (!skip && !unpackFiles(*record, staged, reader)) return nullptr;
    reader.nextPart();
  }

  // The bytes that were unpacked must have the digest found good before: a
  // file changed between the two reads is refused all the same.
  if (reader.partType() != PartSignature || !reader.hashing() || checkedDigest == nullptr ||
      !verifySignature(*record, reader, checkedDigest)) {
    reportBrokenPackage(*record);
    return nullptr;
  }
  reader.nextPart();

  if (record->bundle.name.empty()) {
    // After the signature only an architecture part and an empty
    // dependency part may follow; anything else was never signed.
    if (reader.partType() == PartArchitecture) reader.nextPart();
    if (reader.partType() == PartDependencies) {
      if (reader.partLength() != 0) {
        reportBrokenPackage(*record);
        return nullptr;
      }
      reader.nextPart();
    }
    if (reader.partType() != -1) {
      reportBrokenPackage(*record);
      return nullptr;
    }
  }

  if (recorded && !writeEntry(*record, staged)) return nullptr;
  if ((record->flags & kFlagBootImage) || record->name == "branding") stageMarker(staged, "/flash/UPGRADED");
  if (record->name == "branding") stageMarker(staged, "/flash/BRANDING_INSTALLED");
  if (record->bundle.name.empty()) setProgressLine("");

  if (bootImageOut != nullptr) *bootImageOut = (record->flags & kFlagBootImage) && bootImageSet;
  Package* installed = record.get();
  // Kept for the message below: the engine may destroy the record.
  const std::string label = packageLabel(*record);
  const std::vector<Relation> dependencies = record->dependencies;
  repository.addOwner(*record);
  repository.packages.push_back(std::move(record));
  applyActions(repository, 0, staged);
  // The engine may have uninstalled the new record at once (its dependency
  // was provided only by the package it replaced); it is gone then, and the
  // caller must not count it as installed. Without a word the run would end
  // as if nothing had been uploaded.
  if (!ownsRecord(repository, installed)) {
    reportLostDependency(repository, label, dependencies);
    return nullptr;
  }
  return installed;
}
