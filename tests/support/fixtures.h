// Signed packages made with our own builder, scratch-root states and host file helpers.
#pragma once
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

// The development keys, read before any test forks a chrooted child that cannot see them.
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

bool hasLine(const std::string& text, const std::string& line);
// Installs package files through one upgrade run, then removes the uploads and the changed-packages marker.
void installFirst(ScratchRoot& root, const std::vector<std::pair<std::string, std::string>>& files);

// Below the top folders: router path -> "f:<bytes>", "l:<link text>" or "d"; without the post-install log.
using State = std::map<std::string, std::string>;
State snapshot(const ScratchRoot& root, const std::vector<std::string>& tops = {"/flash", "/ram", "/rw", "/tmp"});
void restore(const ScratchRoot& root, const State& state,
             const std::vector<std::string>& tops = {"/flash", "/ram", "/rw", "/tmp"});
// At most limit paths that differ: "+" (only after), "-" (only before) or "~" (changed) in front.
std::vector<std::string> differences(const State& before, const State& after, size_t limit = 20);
// Every file under "/flash" with its bytes and every link as "-> <text>".
std::map<std::string, std::string> flashTree(const ScratchRoot& root);

// A package file's top-level parts (offset of the 6-byte head), walked without the reader.
struct PartSpan { size_t offset; uint16_t type; uint32_t length; };
std::vector<PartSpan> partsOf(const std::string& file);

// A database entry of small files, e.g. {{"version", "16777216 5\n"}}.
void writeEntry(ScratchRoot& root, const std::string& name, const std::map<std::string, std::string>& files);
// Package 1.0 (built at 100) written straight to disk: "/flash/bin/<name>", deps and a state file ("auto\n").
void installEntry(ScratchRoot& root, const std::string& name, const std::string& deps = "",
                  const std::string& state = "");
// The database directory's names in readdir's order, which the loader must keep.
std::vector<std::string> listingOrder(const ScratchRoot& root);

void writeFile(const std::string& path, const std::string& content, unsigned mode = 0644);
std::string readLink(const std::string& path);  // empty when it is no link
bool pathExists(const std::string& path);             // without following a last link
unsigned fileMode(const std::string& path);           // low 12 bits
std::vector<std::string> listFolder(const std::string& path);  // names, sorted

// Target -> the temporary's bytes, "<remove>" or "<other>" (where the temporaries are visible).
std::map<std::string, std::string> stagedView(const StagedChanges& staged);

}  // namespace fixtures
