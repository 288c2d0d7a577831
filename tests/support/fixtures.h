// What most test programs share: signed packages made with our own builder,
// uploads into a scratch root, host file helpers, a staged set read back, and
// forked children with private tmpfs mounts.
#pragma once
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "qpk/package_builder.h"
#include "staging/staged_changes.h"
#include "support/scratch_root.h"

namespace fixtures {

inline constexpr const char* kDownload = "/rw/pckg/.download/";
inline constexpr const char* kFlashUpload = "/flash/rw/pckg/";
inline constexpr const char* kFlashPackages = "/flash/var/pckg/";

// The development keys, read once before any test forks a chrooted child
// (where the source tree is out of sight).
const qpk::SigningKeys& keys();

Version version(const char* text);  // "6.46rc2"
Relation relation(const std::string& name, const char* minVersion = nullptr);
qpk::FileEntry file(const std::string& path, const std::string& data, uint16_t mode = 0x81A4);
// A package built at time 1000.
qpk::PackageSpec spec(const std::string& name, const char* versionText, std::vector<qpk::FileEntry> files = {});
qpk::BundleSpec bundle(const std::string& name, const char* versionText, std::vector<qpk::PackageSpec> members,
                       std::optional<std::string> blob = std::string("bundle blob"));
std::string build(const qpk::PackageSpec& s, const qpk::SigningKeys& signingKeys = keys());
std::string buildBundle(const qpk::BundleSpec& s);

// Writes a built package into an upload directory of the scratch root.
std::string upload(ScratchRoot& root, const std::string& fileName, const std::string& content,
                   const std::string& directory = kDownload);
bool hasLine(const std::string& text, const std::string& line);
// Installs package files through one upgrade run, then removes the uploads
// and the changed-packages marker, so later runs start from a database and
// can be checked for both.
void installFirst(ScratchRoot& root, const std::vector<std::pair<std::string, std::string>>& files);

// The state of a scratch root below the given top folders: router path ->
// "f:<bytes>", "l:<link text>" or "d". The post-install log is left out:
// most runs write it, by design.
using State = std::map<std::string, std::string>;
State snapshot(const ScratchRoot& root, const std::vector<std::string>& tops = {"/flash", "/ram", "/rw", "/tmp"});
// Makes the root hold exactly state again below the given top folders.
void restore(const ScratchRoot& root, const State& state,
             const std::vector<std::string>& tops = {"/flash", "/ram", "/rw", "/tmp"});
// The paths whose entries differ, "+" (only after), "-" (only before) or
// "~" (changed) in front; at most limit of them.
std::vector<std::string> differences(const State& before, const State& after, size_t limit = 20);
// Every file and link under "/flash" with its bytes (a link as "-> " and
// its text), folders and the log left out: what most checks compare.
std::map<std::string, std::string> flashTree(const ScratchRoot& root);

// A package file's top-level parts, walked without the reader.
struct PartSpan {
  size_t offset;  // of the 6-byte part head
  uint16_t type;
  uint32_t length;
};
std::vector<PartSpan> partsOf(const std::string& file);
// The "version" file of an entry built at time 1000: "<packed> 1000\n".
std::string versionLine(const char* versionText);

// A database entry of small files, e.g. {{"version", "16777216 5\n"}}.
void writeEntry(ScratchRoot& root, const std::string& name, const std::map<std::string, std::string>& files);
// An installed package written straight to disk: version 1.0 built at 100,
// one file "/flash/bin/<name>" holding "binary of <name>", the deps file, and
// the state file ("disabled" or "enabled", holding "auto\n") when given.
void installEntry(ScratchRoot& root, const std::string& name, const std::string& deps = "",
                  const std::string& state = "");
// The database directory's names in the order readdir gives them: the
// order the loader must keep.
std::vector<std::string> listingOrder(const ScratchRoot& root);

// Host paths.
void writeFile(const std::string& path, const std::string& content, unsigned mode = 0644);
std::string readLink(const std::string& path);  // empty when it is no link
bool pathExists(const std::string& path);             // without following a last link
unsigned fileMode(const std::string& path);           // low 12 bits
std::vector<std::string> listFolder(const std::string& path);  // names, sorted

// Target -> the temporary's bytes for a move of a temporary, "<remove>" for
// a removal, "<other>" else. Must run where the temporaries are visible.
std::map<std::string, std::string> stagedView(const StagedChanges& staged);

}  // namespace fixtures
