// The single process-wide repository: the installed packages and the
// console state of the run.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "model/package.h"

inline constexpr const char* kImagesDirectory = "/rw/pckg/.images/";
inline constexpr const char* kPostlogPath = "/flash/postlog";

class Repository {
 public:
  Repository() = default;
  Repository(const Repository&) = delete;
  Repository& operator=(const Repository&) = delete;

  static Repository& instance();
  // Back to the state of a fresh instance (tests).
  void reset();

  // Loads the database: images, then entries, then schedule files.
  void open(const std::string& architectureName, bool quietMode);
  bool loadImages(const std::string& prefix, bool fromImagesDirectory);

  void printListing();

  void takeOverPostlog();
  void writePostlog();

  // Lookups over packages, in list order.
  int indexOfInstalled(const std::string& name) const;
  Package* findInstalled(const std::string& name) const;
  std::vector<Package*> findProviders(const Relation& relation) const;
  Package* findConflicting(const PackageInfo& package) const;

  // The ownership index: how many records in packages list each installed
  // path, so a package never takes a file that another still lists. Built
  // when a run first removes a package (a run that only adds needs none),
  // then kept by the installer when a record joins the list and by
  // removeEntry when one leaves.
  std::unordered_map<std::string, uint32_t>& owners();
  void addOwner(const Package& package);

  std::string architecture;
  std::vector<std::unique_ptr<Package>> packages;  // owned
  std::unordered_map<std::string, uint32_t> fileOwners;
  bool fileOwnersBuilt = false;
  std::string progressLine;
  std::vector<std::string> logLines;
  bool quiet = false;
  bool postlogTakenOver = false;
};
