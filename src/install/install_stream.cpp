#include "install/install_stream.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "console/messages.h"
#include "package/package_reader.h"
#include "repo/entry_directory.h"
#include "repo/entry_writer.h"
#include "repo/package_entry.h"
#include "repo/repository.h"
#include "resolve/action_engine.h"
#include "resolve/check_candidate.h"

namespace {

// The nameless records that make every listed member without an explicit
// choice come out disabled. They exist only while the members go in: the
// engine must never see them afterwards, or it could try to write state for
// a package without a name.
class Blockers {
 public:
  explicit Blockers(Repository& repository) : repository_(repository) {}
  ~Blockers() { removeAll(); }
  Blockers(const Blockers&) = delete;
  Blockers& operator=(const Blockers&) = delete;

  void add(const std::string& memberName) {
    auto blocker = std::make_unique<Package>();
    Relation conflict;
    conflict.name = memberName;
    blocker->conflicts.push_back(conflict);
    records_.push_back(blocker.get());
    repository_.packages.push_back(std::move(blocker));
  }

  void removeAll() {
    if (records_.empty()) return;
    auto& packages = repository_.packages;
    packages.erase(std::remove_if(packages.begin(), packages.end(),
                                  [this](const std::unique_ptr<Package>& p) {
                                    return std::find(records_.begin(), records_.end(), p.get()) !=
                                           records_.end();
                                  }),
                   packages.end());
    records_.clear();
  }

 private:
  Repository& repository_;
  std::vector<const Package*> records_;  // owned by repository_.packages
};

// A bundle stream that breaks off or goes on with something else is named
// as broken: in an upgrade run the whole upgrade is dropped for it, and
// without a word the run would end as if nothing had been uploaded.
int brokenBundle(const Relation& bundle, int result) {
  printError("installation of %s failed: broken package", relationLabel(bundle).c_str());
  return result;
}

// Installs the members that follow the bundle header (and its member list);
// returns the stream's result code. formerMembers loses every name installed.
int installMembers(Repository& repository, StagedChanges& staged, PackageReader& reader, uint32_t tolerated,
                   const ChoicesMap& choices, const StreamCheck& check, const Relation& bundle,
                   Blockers& blockers, std::vector<std::string>& formerMembers, bool* bootImageOut) {
  if (reader.partType() == PartBundleMembers) {
    std::vector<Relation> listed;
    // A member list cut short leaves the stream unusable for the members.
    if (!reader.readRelations(listed)) return brokenBundle(bundle, 2);
    for (const Relation& member : listed) {
      if (choices.find(member.name) == choices.end()) blockers.add(member.name);
    }
    reader.nextPart();
  }

  int members = 0;
  while (reader.partType() == PartHeader) {
    bool memberBootImage = false;
    Package* member = installPackage(repository, staged, reader, tolerated, choices, &bundle, nullptr,
                                     &memberBootImage, check.digestOf(members));
    if (member == nullptr) return 2;
    formerMembers.erase(std::remove(formerMembers.begin(), formerMembers.end(), member->name),
                        formerMembers.end());
    if (memberBootImage && bootImageOut != nullptr) *bootImageOut = true;
    ++members;
  }
  if (reader.partType() == PartArchitecture) reader.nextPart();
  if (reader.partType() != -1) return brokenBundle(bundle, 2);
  if (members == 0) return brokenBundle(bundle, 3);
  // A stream cut exactly between two members ends like a whole bundle; the
  // length its file header declares tells (a piped bundle has no file size
  // to compare). Every member read was whole, but the bundle is not.
  if (reader.partStart() < reader.fileSize()) {
    printError("installation of %s failed: broken package", relationLabel(bundle).c_str());
    return 2;
  }
  return 0;
}

int installBundle(Repository& repository, StagedChanges& staged, PackageReader& reader,
                  uint32_t tolerated, const ChoicesMap& choices, const StreamCheck& check,
                  std::string* directoryOut, bool* bootImageOut) {
  if (bootImageOut != nullptr) *bootImageOut = false;
  auto bundle = std::make_unique<Package>();
  if (!reader.readHeader(*bundle)) return 1;
  if (!check.sealed) {
    reportBrokenPackage(*bundle);
    return 2;
  }
  if (!bundle->dependencies.empty() || !bundle->provides.empty() || !bundle->conflicts.empty()) {
    reportBrokenPackage(*bundle);
    return 1;
  }
  if (!hasUsablePackageNames(*bundle)) {
    reportBrokenPackage(*bundle);
    return 1;
  }
  if (reader.partType() == PartBlob) reader.nextPart();
  // A bundle's members are loaded from its stored image, and only a file
  // with a blob is kept as one: without, the next run would drop them all.
  if (!bundle->hasBlob) {
    printError("installation of %s failed: a bundle without a blob cannot be kept", packageLabel(*bundle).c_str());
    return 1;
  }
  if (directoryOut != nullptr) *directoryOut = entryDirectory(*bundle);

  uint32_t flags = checkCandidate(repository, tolerated, *bundle);
  if (flags & ~tolerated) return 2;

  int index = repository.indexOfInstalled(bundle->name);
  if (index >= 0) {
    removeEntry(repository, *repository.packages[index], staged);
    repository.packages.erase(repository.packages.begin() + index);
  }
  if (!prepareEntryDirectory(*bundle, staged)) {
    reportEntryInTheWay(*bundle);
    return 1;
  }
  if (!writeEntry(*bundle, staged)) return 1;

  Relation relation;
  relation.name = bundle->name;
  relation.minVersion = bundle->version;
  relation.maxVersion = bundle->version;

  std::vector<std::string> formerMembers;
  for (const auto& p : repository.packages) {
    if (p->bundle.name == relation.name) formerMembers.push_back(p->name);
  }

  Blockers blockers(repository);
  int result = installMembers(repository, staged, reader, tolerated, choices, check, relation, blockers,
                              formerMembers, bootImageOut);
  blockers.removeAll();
  // The bundle joins the installed list only once its members are in. The
  // engine runs after each member and uninstalls an enabled bundle whose
  // members are all disabled; seeing the bundle while only its first,
  // disabled members were in, it would drop a bundle that keeps enabled ones.
  repository.packages.push_back(std::move(bundle));
  if (result != 0) return result;

  for (const std::string& name : formerMembers) {
    Package* former = repository.findInstalled(name);
    if (former != nullptr) former->action = PendingAction::Uninstall;
  }
  applyActions(repository, 0, staged);
  setProgressLine("");
  return 0;
}

}  // namespace

int installFromStream(Repository& repository, StagedChanges& staged, std::streambuf* source,
                      uint32_t tolerated, const ChoicesMap& choices, const StreamCheck* checked,
                      std::string* directoryOut, bool* bootImageOut) {
  StreamCheck check;
  if (checked == nullptr) {
    check = checkStream(source, nullptr);
    // A stream that cannot be read again gets no signature found good.
    if (source->pubseekpos(0, std::ios_base::in) != std::streampos(0)) check = StreamCheck();
    checked = &check;
  }
  PackageReader reader(source, true, nullptr);
  for (int32_t type : {PartHeader, PartBundleHeader, PartBundleMembers, PartArchitecture, PartDependencies,
                       PartProvides, PartConflicts, PartBlob, PartFiles, PartSignature}) {
    reader.accept(type);
  }
  reader.nextPart();
  if (reader.partType() != PartBundleHeader) {
    Package* installed = installPackage(repository, staged, reader, tolerated, choices, nullptr, directoryOut,
                                        bootImageOut, checked->digestOf(0));
    return installed != nullptr ? 0 : 1;
  }
  return installBundle(repository, staged, reader, tolerated, choices, *checked, directoryOut, bootImageOut);
}
