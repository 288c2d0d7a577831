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
  return Relation{name, minVersion, maxVersion, priority};
}

// One installed record, by name; "bundle" names the member's bundle.
struct Named {
  std::string name;
  struct Setup {
    PendingAction action = PendingAction::None;
    bool disabled = false, isBundle = false;
    std::string bundle{};
    std::vector<Relation> dependencies{}, provides{}, conflicts{};
    Version version = kV1;
    uint32_t buildTime = 100;
  } setup{};
};
using Installed = Named::Setup;
using A = PendingAction;
using Actions = std::vector<A>;
using Names = std::vector<std::string>;

class ResolveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fresh();
    setConsoleStream(&console_);
  }
  void TearDown() override { setConsoleStream(nullptr); }
  static void fresh() {
    repo().reset();
    repo().architecture = "mipsbe";
    flaggedState = false;
  }
  static Repository& repo() { return Repository::instance(); }
  static Package& add(const std::string& name, const Installed& setup = {}) {
    Package& package = *repo().packages.emplace_back(std::make_unique<Package>(name));
    package.version = setup.version;
    package.buildTime = setup.buildTime;
    package.action = setup.action;
    package.disabled = setup.disabled;
    package.isBundle = setup.isBundle;
    if (!setup.bundle.empty()) package.bundle = rel(setup.bundle);
    package.dependencies = setup.dependencies;
    package.provides = setup.provides;
    package.conflicts = setup.conflicts;
    return package;
  }
  static void addAll(const std::vector<Named>& set) {
    for (const Named& entry : set) add(entry.name, entry.setup);
  }
  static Actions actions() {
    Actions result;
    for (const auto& package : repo().packages) result.push_back(package->action);
    return result;
  }
  static const Names& log() { return repo().logLines; }
  std::ostringstream console_;
};
