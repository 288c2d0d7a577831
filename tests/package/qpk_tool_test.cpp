// The qpk tool: build, info and verify as text and JSON, what it refuses to make, and its key commands.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <unistd.h>

#include "support/fixtures.h"

using namespace fixtures;

namespace {

RunResult qpkRun(std::vector<std::string> args) {
  args.insert(args.begin(), QPK_BINARY);
  return runProgram(args, {}, "");
}

const std::string kKey = INSTALLER_SOURCE_DIR "/keys/dev-eddsa.private";

}  // namespace

// qpk build takes regular files only; qpk info shows every part, and where a file is cut or foreign.
TEST(QpkTool, BuildThenInfo) {
  ScratchRoot root;
  const std::string dir = root.host("/tmp");
  root.write("/tmp/tree/bin/hello", "hello\n");
  root.write("/tmp/tree/bin/tool", "x", 0750);
  ::symlink("tool", root.host("/tmp/tree/link").c_str());
  RunResult built = qpkRun({"build", "--name", "hello", "--version", "6.46rc2", "--build-time", "1700000000",
                            "--depends", "system:6.46:6.46.9", "--boot-image", "--sha256", "--files", dir + "/tree",
                            "--key-eddsa", kKey, "-o", dir + "/hello.qpk"});
  ASSERT_EQ(0, built.status) << built.err;
  EXPECT_EQ("qpk build: warning: skipped symbolic link " + dir + "/tree/link\n", built.err);
  const std::string parts =
      "parts:\n  offset 8: type 25 (digest switch), length 0\n  offset 14: type 1 (header), length 36\n"
      "    name: \"hello\"\n    version: 6.46rc2 (0x062E6302)\n"
      "    build time: 1700000000 (2023-11-14 22:13:20 UTC)\n    flags: 0x1 boot-image\n"
      "  offset 56: type 3 (dependencies), length 34\n    1 entry\n    \"system\" min 6.46 max 6.46.9\n"
      "  offset 96: type 4 (files), length 44\n    100644          6 \"/bin/hello\"\n"
      "    100750          1 \"/bin/tool\"\n    2 entries, 86 bytes inflated\n"
      "  offset 146: type 9 (signature), length 132\n";
  const std::string bytes = root.read("/tmp/hello.qpk");
  root.write("/tmp/cut.qpk", bytes.substr(0, bytes.size() - 10));
  qpk::PackageSpec shortSigned = spec("s", "1.0");
  shortSigned.sha256 = true;
  shortSigned.signature = qpk::SignatureForm::Short;
  root.write("/tmp/short.qpk", build(shortSigned));
  root.write("/tmp/empty.qpk", build(spec("e", "1.0", {qpk::FileEntry{"", "data", 0x81A4, 0}})));
  const struct {
    std::vector<std::string> args; int status;
    std::string out, err;  // out: the whole text, or one exact line of it
  } rows[] = {
      {{"info", dir + "/hello.qpk"}, 0,
       "file: " + dir + "/hello.qpk\nmagic: 0xBAD0F11E (package)\nlength: 276 + 8 = 284, matches the file size\n" +
           parts + "    long form: legacy and Ed25519 over SHA-256\n", ""},
      {{"info", dir + "/cut.qpk"}, 1,
       "file: " + dir + "/cut.qpk\nmagic: 0xBAD0F11E (package)\n"
       "length: 276 + 8 = 284, DOES NOT match the file size of 274 bytes\n" +
           parts + "    part cut short: 122 of 132 bytes present\n", ""},
      {{"verify", dir + "/hello.qpk"}, 0,
       "package hello-6.46rc2\n  digest:    sha256\n  signature: long\n  eddsa:     valid\n  legacy:    invalid\n"
       "  mode:      1 (EdDSA or legacy; 2 on a router with /ram/SECURE)\n  result:    accepted\n", ""},
      {{"info", dir + "/short.qpk"}, 0, "    short form: legacy only over SHA-256", ""},
      {{"info", dir + "/empty.qpk"}, 0, "    100644          4 \"\"", ""},
      {{"info", QPK_BINARY}, 1, "", std::string("qpk info: ") + QPK_BINARY + " is not a package file (magic 0x464C457F)\n"},
      {{"info", dir}, 1, "", "qpk info: " + dir + " is not a file\n"},
      {{"verify", dir}, 1, "", "qpk verify: " + dir + " is not a file\n"},
  };
  for (const auto& row : rows) {
    const RunResult run = qpkRun(row.args);
    EXPECT_EQ(row.status, run.status) << row.args[1];
    EXPECT_EQ(row.err, run.err) << row.args[1];
    if (row.out.empty() || row.out.back() == '\n') {
      EXPECT_EQ(row.out, run.out) << row.args[1];
    } else {
      EXPECT_TRUE(hasLine(run.out, row.out)) << row.out << "\n" << run.out;
    }
  }
}

// The JSON documents hold the facts the text shows, Latin-1 read back, with the text's status.
TEST(QpkTool, JsonTellsWhatTheTextTells) {
  ScratchRoot root;
  qpk::PackageSpec p = spec("hello", "6.46rc2", {file("/bin/hello", "hi\n", 0x81ED)});
  p.dependencies = {relation("system", "6.46")};
  p.note = "caf\xe9 \"x\"";
  root.write("/tmp/p.qpk", build(p));
  root.write("/tmp/cut.qpk", build(p).substr(0, 60));
  root.write("/tmp/a.qpk", build(spec("a", "7.1")));
  root.write("/tmp/b1.qpk", build(spec("b", "7.1")));
  root.write("/tmp/blob", "b");
  ASSERT_EQ(0, qpkRun({"build-bundle", "--name", "duo", "--version", "7.1", "--blob", root.host("/tmp/blob"), "-o",
                       root.host("/tmp/b.qpk"), root.host("/tmp/a.qpk"), root.host("/tmp/b1.qpk")}).status);
  auto both = [&](const char* command, const char* file, int status) {
    RunResult text = qpkRun({command, root.host(file)}), json = qpkRun({command, "--json", root.host(file)});
    EXPECT_EQ(std::make_pair(status, status), std::make_pair(text.status, json.status)) << file;
    return std::make_pair(text.out, nlohmann::json::parse(json.out, nullptr, false));
  };
  for (const auto& [file, complete] : {std::pair{"/tmp/p.qpk", true}, {"/tmp/cut.qpk", false}}) {
    const auto [text, info] = both("info", file, complete ? 0 : 1);
    ASSERT_FALSE(info.is_discarded()) << file;
    EXPECT_EQ(complete, info["complete"]);
    for (const auto& part : info["parts"]) {
      const std::string line = "  offset " + std::to_string(int(part["offset"])) + ": type " +
                               std::to_string(int(part["type"])) + " (" + std::string(part["name"]) + "), length " +
                               std::to_string(int(part["length"]));
      EXPECT_TRUE(hasLine(text, line)) << line << "\n" << text;
      EXPECT_EQ(part.contains("cut_short"), text.find(line + "\n    part cut short") != std::string::npos);
      // What the text decodes of each kind of part, the document holds.
      for (const auto& [field, expected] : std::vector<std::pair<std::string, nlohmann::json>>{
               {"/header/version_text", "6.46rc2"}, {"/text", "caf\u00e9 \"x\""},  // Latin-1, read back as Unicode
               {"/relations/0/min_text", "6.46"}, {"/entries/0/mode", 0100755}, {"/entries/0/size", 3},
               {"/entries/0/path", "/bin/hello"}, {"/form", "long"}}) {
        const nlohmann::json::json_pointer at(field);
        EXPECT_EQ(expected, part.contains(at) ? part[at] : expected) << field;
      }
    }
  }
  // A bundle spliced from signed members: each member's signature covers that member's own bytes.
  const auto [text, verify] = both("verify", "/tmp/b.qpk", 0);
  std::string expected = "bundle duo-7.1\n";
  for (const char* name : {"a", "b"}) {
    expected += std::string("package ") + name + "-7.1\n  digest:    sha1\n  signature: long\n  eddsa:     valid\n"
                "  legacy:    valid\n  mode:      2 (EdDSA only; 2 on a router with /ram/SECURE)\n  result:    accepted\n";
  }
  EXPECT_EQ(expected, text);
  ASSERT_FALSE(verify.is_discarded());
  EXPECT_EQ(std::make_tuple(std::string("duo"), true, true, true, true),
            std::make_tuple(verify["bundle"]["name"], verify["packages"][0]["accepted"], verify["packages"][1]["accepted"],
                            verify["sealed"], verify["accepted"]));
}

// What the router would refuse, qpk refuses to make, and says why.
TEST(QpkTool, RefusesToMakeWhatTheRouterRefuses) {
  ScratchRoot root;
  const std::string dir = root.host("/tmp");
  root.write("/tmp/plain/bin/x", "x");
  root.write("/tmp/space/www/My Page.html", "x");
  root.write("/tmp/pdb/var/pdb/phantom/version", "1 1\n");
  root.write("/tmp/blob", "b");
  auto package = [&](const std::string& name, const std::string& files, std::vector<std::string> more = {}) {
    more.insert(more.begin(), {"build", "--name", name, "--version", "1.0", "--files", dir + "/" + files,
                               "--key-eddsa", kKey, "-o", dir + "/" + name + ".qpk"});
    return more;
  };
  ASSERT_EQ(0, qpkRun(package("one", "plain")).status);
  ASSERT_EQ(0, qpkRun(package("dup", "plain")).status);
  const std::string bundle = " (the router would refuse it)\n";
  const struct {
    std::vector<std::string> args; int status;
    std::string err;
  } rows[] = {
      {package(".hidden", "plain"), 1, "package name \".hidden\" begins with \".\"" + bundle},
      {package("image", "plain"), 1, "package name \"image\" is \"image\", the name of the piped package's copy" + bundle},
      {package("ok", "plain", {"--depends", "two words"}), 1, "relation name \"two words\" holds whitespace or a control byte" + bundle},
      {package("ok", "space"), 1, "payload path \"/www/My Page.html\" holds a space, a newline or a NUL" + bundle},
      {package("ok", "pdb"), 1, "payload path \"/var/pdb/phantom/version\" lands in the package database" + bundle},
      {package("ok", "plain", {"--state-only"}), 1,
       "a state-only package needs --blob FILE: its entry is kept only by its stored image" + bundle},
      {{"build-bundle", "--name", "b", "--version", "1.0", "--blob", dir + "/blob", "-o", dir + "/b.qpk"}, 2,
       "a bundle needs at least one member file\n"},
      {{"build-bundle", "--name", "b", "--version", "1.0", "-o", dir + "/b.qpk", dir + "/one.qpk"}, 2,
       "a bundle needs --blob FILE: the router keeps a bundle only by its stored image\n"},
      {{"build-bundle", "--name", "dup", "--version", "1.0", "--blob", dir + "/blob", "-o", dir + "/b.qpk",
        dir + "/one.qpk", dir + "/dup.qpk"},
       1, "member " + dir + "/dup.qpk is named like its bundle" + bundle},
      {{"build-bundle", "--name", "b", "--version", "1.0", "--sha256", "--blob", dir + "/blob", "-o", dir + "/b.qpk",
        dir + "/one.qpk"},
       1, "member 1 is signed over SHA-1 but the bundle uses SHA-256\n"},
  };
  for (const auto& row : rows) {
    const RunResult run = qpkRun(row.args);
    EXPECT_EQ(row.status, run.status) << row.err;
    EXPECT_EQ("qpk " + row.args[0] + ": " + row.err, run.err);
  }
  EXPECT_FALSE(pathExists(dir + "/b.qpk"));
}

// New keys are private and never overwritten; signed with them, a package needs them to verify.
TEST(QpkKeys, KeygenSignVerify) {
  ScratchRoot root;
  const std::string dir = root.host("/tmp"), pkg = dir + "/pkg.qpk";
  ASSERT_EQ(0, qpkRun({"keygen", "--legacy", dir + "/legacy"}).status);
  ASSERT_EQ(0, qpkRun({"keygen", "--eddsa", dir + "/eddsa"}).status);
  EXPECT_EQ(0600u, fileMode(dir + "/legacy.private"));
  EXPECT_NE(0, qpkRun({"keygen", "--legacy", dir + "/legacy"}).status);
  writeFile(pkg, build(spec("pkg", "6.47", {file("/bin/x", "payload bytes")})));
  const std::string mode1 = "  mode:      1 (EdDSA or legacy; 2 on a router with /ram/SECURE)\n",
                    valid = "  signature: long\n  eddsa:     valid\n  legacy:    valid\n" + mode1 + "  result:    accepted\n";
  const std::string legacy = dir + "/legacy.public", eddsa = dir + "/eddsa.public";
  const struct {
    std::vector<std::string> sign, verify;  // sign: before the check, when given
    int signStatus, status; std::string out;
  } steps[] = {
      {{}, {"verify"}, 0, 0, valid},
      {{"sign", "--key-legacy", dir + "/legacy.private"}, {}, 2, 0, ""},  // a long signature needs both keys
      {{"sign", "--key-legacy", dir + "/legacy.private", "--key-eddsa", dir + "/eddsa.private"}, {"verify"}, 0, 1,
       "  signature: long\n  eddsa:     invalid\n  legacy:    invalid\n" + mode1 + "  result:    refused\n"},
      {{}, {"verify", "--public-legacy", legacy, "--public-eddsa", eddsa}, 0, 0, valid},
      {{"sign", "--short", "--key-legacy", dir + "/legacy.private"}, {"verify", "--public-legacy", legacy}, 0, 0,
       "  signature: short\n  eddsa:     absent\n  legacy:    valid\n" + mode1 + "  result:    accepted\n"},
  };
  for (auto step : steps) {
    if (!step.sign.empty()) {
      step.sign.push_back(pkg);
      ASSERT_EQ(step.signStatus, qpkRun(step.sign).status) << step.sign[1];
    }
    if (step.signStatus != 0) continue;
    step.verify.push_back(pkg);
    const RunResult run = qpkRun(step.verify);
    EXPECT_EQ(step.status, run.status) << step.out;
    EXPECT_EQ("package pkg-6.47\n  digest:    sha1\n" + step.out, run.out);
  }
}
