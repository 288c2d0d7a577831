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
