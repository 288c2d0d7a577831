// In-memory installed sets for the resolver's tests: records go straight
// into the single Repository, and the console is captured.
#pragma once
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "console/messages.h"
#include "model/package.h"
#include "repo/repository.h"
#include "resolve/check_candidate.h"

inline constexpr Version kV1 = makeVersion(1, 0, Final, 0);
inline constexpr Version kV2 = makeVersion(2, 0, Final, 0);
inline constexpr Version kV3 = makeVersion(3, 0, Final, 0);

inline Relation rel(const std::string& name, Version minVersion = 0, Version maxVersion = 0, int32_t priority = 0) {
  Relation relation;
  relation.name = name;
  relation.minVersion = minVersion;
  relation.maxVersion = maxVersion;
  relation.priority = priority;
  return relation;
}

// What an installed record starts with, for add(): add("m", {.disabled = true, .bundle = "suite"}).
struct Installed {
  PendingAction action = PendingAction::None;
  bool disabled = false;
  bool isBundle = false;
  std::string bundle{};  // the member's bundle
  std::vector<Relation> dependencies{}, provides{}, conflicts{};
};

class ResolveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    repo().reset();
    repo().architecture = "mipsbe";
    flaggedState = false;
    setConsoleStream(&console_);
  }
  void TearDown() override {
    setConsoleStream(nullptr);
    repo().reset();
    flaggedState = false;
  }

  static Repository& repo() { return Repository::instance(); }

  // Appends an installed, enabled package of version 1.0 built at time 100.
  Package& add(const std::string& name, Version version = kV1, uint32_t buildTime = 100) {
    auto package = std::make_unique<Package>(name);
    package->version = version;
    package->buildTime = buildTime;
    Package& result = *package;
    repo().packages.push_back(std::move(package));
    return result;
  }

  Package& add(const std::string& name, const Installed& setup, Version version = kV1) {
    Package& package = add(name, version);
    package.action = setup.action;
    package.disabled = setup.disabled;
    package.isBundle = setup.isBundle;
    if (!setup.bundle.empty()) package.bundle = rel(setup.bundle);
    package.dependencies = setup.dependencies;
    package.provides = setup.provides;
    package.conflicts = setup.conflicts;
    return package;
  }

  std::vector<std::string> names() const {
    std::vector<std::string> result;
    for (const auto& package : repo().packages) result.push_back(package->name);
    return result;
  }
  std::vector<PendingAction> actions() const {
    std::vector<PendingAction> result;
    for (const auto& package : repo().packages) result.push_back(package->action);
    return result;
  }
  const std::vector<std::string>& log() const { return repo().logLines; }
  std::string console() const { return console_.str(); }

  std::ostringstream console_;
};

using A = PendingAction;

[[maybe_unused]] static void PrintTo(PendingAction action, std::ostream* out) {
  *out << (action == PendingAction::None ? "none" : actionName(action));
}
