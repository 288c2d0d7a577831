// The acceptance check of a candidate read from a package file.
#include "resolve/check_candidate.h"

#include <cstring>

#include "console/messages.h"
#include "model/matching.h"
#include "platform/system_info.h"
#include "repo/repository.h"

bool flaggedState = false;

void initFlaggedState() { flaggedState = nv::tarnwickMode().bytes[1] != 0; }

namespace {

// The operating-system package and every "tarnwick*" package must not go
// below the version the system still boots with.
bool isSystemPackage(const std::string& name) {
  return name == "system" || (name.size() >= 8 && std::memcmp(name.data(), "tarnwick", 8) == 0);
}

// Every step runs; only the first untolerated outcome is explained, so the
// user sees one reason per refused package.
class Check {
 public:
  Check(uint32_t tolerated) : tolerated_(tolerated) {}

  // True when the message for this outcome is to be printed now.
  bool report(uint32_t bit) {
    if (reported_ || (tolerated_ & bit) != 0) return false;
    reported_ = true;
    return true;
  }
  bool tolerates(uint32_t bit) const { return (tolerated_ & bit) != 0; }
  bool reported() const { return reported_; }
  void markReported() { reported_ = true; }

  uint32_t result = 0;

 private:
  uint32_t tolerated_;
  bool reported_ = false;
};

void compareWithInstalled(Repository& repository, const PackageInfo& candidate, Check& check) {
  const Package* installed = repository.findInstalled(candidate.name);
  if (installed == nullptr || installed->name == "branding") return;
  const std::string label = packageLabel(candidate);
  if (flaggedState && installed->buildTime > candidate.buildTime) {
    // Refused whatever the caller tolerates: a flagged router only takes newer builds.
    printWarning("cannot install older %s: router in flagged state", label.c_str());
    check.result = kOutcomeRefused | kOutcomeConflicts;
    check.markReported();
  }
  const int c = compareNewer(candidate, *installed);
  if (c < 0) {
    if (check.report(kOutcomeOlder)) {
      printWarning("omitting package %s: newer package %s is already installed", label.c_str(),
                   packageLabel(*installed).c_str());
    }
    check.result |= kOutcomeOlder;
  } else if (c == 0) {
    if (check.report(kOutcomeEqual)) printWarning("omitting package %s: it is already installed", label.c_str());
    check.result |= kOutcomeEqual;
  } else {
    // Only a downgrade run (older tolerated, newer not) explains a skipped newer package.
    if (!check.tolerates(kOutcomeNewer) && check.tolerates(kOutcomeOlder) && !check.reported()) {
      check.markReported();
      printWarning("skipping downgrade: %s is newer than %s(installed)", label.c_str(),
                   packageLabel(*installed).c_str());
    }
    check.result |= kOutcomeNewer;
  }
}

void checkMinimumVersion(const PackageInfo& candidate, Check& check) {
  if (!isSystemPackage(candidate.name)) return;
  const Version minimum = getMinTarnwickVersion();
  if (candidate.version >= minimum) return;
  if (check.report(kOutcomeRefused)) {
    printError("omitting package %s: min Tarnwick version is %s", packageLabel(candidate).c_str(),
               version2string(minimum).c_str());
  }
  check.result |= kOutcomeRefused;
}

void checkArchitecture(Repository& repository, const PackageInfo& candidate, Check& check) {
  if (candidate.architecture.empty() || candidate.architecture == repository.architecture) return;
  if (check.report(kOutcomeRefused)) {
    printError("can not install %s: it is not made for %s, but for %s", packageLabel(candidate).c_str(),
               repository.architecture.c_str(), candidate.architecture.c_str());
  }
  check.result |= kOutcomeRefused;
}

// Any installed provider counts, whatever its state: what is disabled or
// about to go is settled later by the engine.
void checkDependencies(Repository& repository, const PackageInfo& candidate, Check& check) {
  for (const Relation& dependency : candidate.dependencies) {
    if (!repository.findProviders(dependency).empty()) continue;
    if (check.report(kOutcomeRefused)) {
      printError("can not install %s: %s is not installed, but is required", packageLabel(candidate).c_str(),
                 relationLabel(dependency).c_str());
    }
    check.result |= kOutcomeRefused;
    return;
  }
}

void checkConflicts(Repository& repository, const PackageInfo& candidate, Check& check) {
  const Package* conflicting = repository.findConflicting(candidate);
  if (conflicting == nullptr) return;
  if (check.report(kOutcomeConflicts)) {
    printError("can not install %s: it conflicts with %s", packageLabel(candidate).c_str(),
               packageLabel(*conflicting).c_str());
  }
  check.result |= kOutcomeConflicts;
}

}  // namespace

uint32_t checkCandidate(Repository& repository, uint32_t tolerated, const PackageInfo& candidate) {
  Check check(tolerated);
  compareWithInstalled(repository, candidate, check);
  checkMinimumVersion(candidate, check);
  checkArchitecture(repository, candidate, check);
  checkDependencies(repository, candidate, check);
  checkConflicts(repository, candidate, check);
  return check.result;
}
