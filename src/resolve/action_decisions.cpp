// Deciding what the pending actions become, before anything is staged.
#include <string>
#include <unordered_map>

#include "console/messages.h"
#include "repo/repository.h"
#include "resolve/action_phases.h"
#include "resolve/dependency_walk.h"

void propagateBundleActions(Repository& repository, const ProviderIndex& index) {
  for (auto& owned : repository.packages) {
    Package& member = *owned;
    if (member.bundle.name.empty()) continue;
    const Package* bundle = index.findInstalled(member.bundle.name);
    if (bundle == nullptr) continue;
    switch (bundle->action) {
      case PendingAction::Disable:
        if (member.action != PendingAction::Uninstall) member.action = PendingAction::Disable;
        break;
      case PendingAction::Uninstall:
        member.action = PendingAction::Uninstall;
        break;
      case PendingAction::Enable:
        if (member.disabled) member.action = PendingAction::Enable;
        break;
      case PendingAction::None:
        break;
    }
  }
}

void keepActiveDependencies(Repository& repository, int verbosity, const ProviderIndex& index) {
  const ProviderSource source(repository, &index);
  for (auto& owned : repository.packages) {
    if (isActive(*owned)) keepDependencies(repository, *owned, verbosity, source);
  }
}

namespace {

enum class MemberVerdict { Ignore, KeepsBundle, StillThere };

MemberVerdict judgeMember(const Package& member) {
  if (member.disabled) {
    switch (member.action) {
      case PendingAction::Uninstall: return MemberVerdict::Ignore;
      case PendingAction::Enable: return MemberVerdict::KeepsBundle;
      default: return MemberVerdict::StillThere;
    }
  }
  switch (member.action) {
    case PendingAction::Disable: return MemberVerdict::StillThere;
    case PendingAction::Uninstall: return MemberVerdict::Ignore;
    // An enabled member asked to be enabled again stays enabled like one
    // without action; ignoring it would uninstall its bundle's entry, and the
    // members would be orphans at the next load.
    default: return MemberVerdict::KeepsBundle;
  }
}

}  // namespace

void settleEmptyBundles(Repository& repository) {
  std::unordered_map<std::string, std::vector<Package*>> members;
  for (auto& owned : repository.packages) {
    if (!owned->bundle.name.empty() && !isPlaceholder(*owned)) members[owned->bundle.name].push_back(owned.get());
  }
  for (auto& owned : repository.packages) {
    Package& bundle = *owned;
    if (!bundle.isBundle || bundle.action == PendingAction::Uninstall) continue;
    bool allGone = true;
    bool kept = false;
    auto it = members.find(bundle.name);
    if (it != members.end()) {
      for (const Package* member : it->second) {
        const MemberVerdict verdict = judgeMember(*member);
        if (verdict == MemberVerdict::KeepsBundle) {
          kept = true;
          break;
        }
        if (verdict == MemberVerdict::StillThere) allGone = false;
      }
    }
    if (kept) continue;
    if (allGone || !bundle.disabled) {
      bundle.action = PendingAction::Uninstall;
    } else if (bundle.action == PendingAction::Enable) {
      bundle.action = PendingAction::None;
    }
  }
}

bool refuseEmptySystem(Repository& repository, int verbosity) {
  if (repository.packages.empty()) return false;
  for (const auto& owned : repository.packages) {
    if (isActive(*owned)) return false;
  }
  for (auto& owned : repository.packages) owned->action = PendingAction::None;
  if (verbosity != 0) printError("can not uninstall or disable all packages");
  return true;
}

bool decideActions(Repository& repository, int verbosity) {
  // The list itself does not change before the removals, so one index serves
  // every phase.
  const ProviderIndex index(repository);
  propagateBundleActions(repository, index);
  keepActiveDependencies(repository, verbosity, index);
  settleConflicts(repository, verbosity);
  dropUnmetDependencies(repository, index);
  settleEmptyBundles(repository);
  return !refuseEmptySystem(repository, verbosity);
}
