// Unpacking and installing on real files in a temporary folder.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "UpdateFixtures.h"
#include "support/TempDir.h"
#include "updates/ArchiveUnpacker.h"
#include "updates/SignatureCheck.h"
#include "updates/UpdateInstaller.h"

namespace lumarin {
namespace {

namespace fs = std::filesystem;
using test::ArchiveEntry;
using Kind = ArchiveEntry::Kind;

std::string program(const std::string& version) { return "#!/bin/sh\necho " + version + "\n"; }

// Builds here are numbered like their versions: "2.0" is build 2.0.
BuildVersion build(const std::string& version) { return {version, version}; }
const BuildVersion kRunning = build("1.0");

std::string marker(const std::string& version) {
  return UpdateInstaller::markerText(build(version));
}

std::vector<ArchiveEntry> installation(const std::string& version) {
  return {{".lumarin-installation", marker(version)},
          {"lumarin", program(version), Kind::file, 0755},
          {"share/", "", Kind::directory, 0755},
          {"share/notes.txt", "notes " + version},
          {"share/current", "notes.txt", Kind::symlink}};
}

class UpdateInstallerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(installDir());
    test::writeFile(installDir() / ".lumarin-installation", "");
    test::writeFile(installDir() / "lumarin", program("1.0"));
    fs::permissions(installDir() / "lumarin", fs::perms(0755));
    test::writeFile(installDir() / "old-only.txt", "gone after the update");
  }

  fs::path installDir() const { return dir_ / "Lumarin"; }

  // Everything beside the installation folder: leftovers of a failed or finished update.
  std::vector<std::string> siblings() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_.path())) {
      names.push_back(entry.path().filename().string());
    }
    return names;
  }

  test::TempDir dir_;
};

TEST_F(UpdateInstallerTest, InstallReplacesTheWholeFolderAndLeavesNothingBeside) {
  UpdateInstaller installer(installDir(), "lumarin");
  ASSERT_TRUE(installer.canInstall().ok());
  const auto result =
      installer.install(test::makeArchive(installation("2.0")), build("2.0"), kRunning);
  ASSERT_TRUE(result.ok()) << result.error().message;
  EXPECT_EQ(test::readFile(installDir() / "lumarin"), program("2.0"));
  EXPECT_EQ(test::readFile(installDir() / "share" / "current"), "notes 2.0");
  EXPECT_FALSE(fs::exists(installDir() / "old-only.txt"));
  EXPECT_TRUE((fs::status(installDir() / "lumarin").permissions() & fs::perms::owner_exec) !=
              fs::perms::none);
  EXPECT_EQ(siblings(), std::vector<std::string>{"Lumarin"});
}

TEST_F(UpdateInstallerTest, ZipArchivesInstallToo) {
  UpdateInstaller installer(installDir(), "lumarin");
  const auto result =
      installer.install(test::makeArchive(installation("3.0"), true), build("3.0"), kRunning);
  ASSERT_TRUE(result.ok()) << result.error().message;
  EXPECT_EQ(test::readFile(installDir() / "lumarin"), program("3.0"));
}

// The archive's signature covers its bytes, not the feed's label: the version that decides is
// the one the marker inside states.
TEST_F(UpdateInstallerTest, OnlyTheBuildTheArchiveStatesAndOnlyANewerOneIsInstalled) {
  UpdateInstaller installer(installDir(), "lumarin");
  auto withMarker = [](const std::string& text) {
    auto entries = installation("0.9");
    entries[0].content = text;
    return test::makeArchive(entries);
  };
  const auto old = test::makeArchive(installation("0.9"));
  const std::vector<std::tuple<std::string, std::string, BuildVersion, std::string>> cases = {
      {"relabelled old build", old, build("9.9"), "holds 0.9 (0.9) (relabelled)"},
      {"only the short version relabelled", old, BuildVersion{"0.9", "9.9"}, "(relabelled)"},
      {"honestly labelled but older", old, build("0.9"), "is not newer than the running 1.0"},
      {"the running build again", test::makeArchive(installation("1.0")), build("1.0"),
       "is not newer than the running 1.0"},
      {"no version inside", withMarker(""), build("9.9"), "does not state its own version"},
      {"short version only", withMarker("CFBundleShortVersionString=9.9\n"), build("9.9"),
       "does not state its own version"},
      {"oversized marker", withMarker("CFBundleVersion=9.9\n" + std::string(5000, '#')),
       build("9.9"), "does not state its own version"},
  };
  for (const auto& [name, archive, offered, why] : cases) {
    const auto result = installer.install(archive, offered, kRunning);
    ASSERT_FALSE(result.ok()) << name;
    EXPECT_EQ(result.error().code, static_cast<int>(InstallProblem::versionRefused)) << name;
    EXPECT_NE(result.error().message.find(why), std::string::npos)
        << name << ": " << result.error().message;
    EXPECT_EQ(test::readFile(installDir() / "lumarin"), program("1.0")) << name;
    EXPECT_EQ(siblings(), std::vector<std::string>{"Lumarin"}) << name;
  }
  // Windows line ends, other keys and a feed item without a short version are fine; versions
  // compare by value ("2.0" is "2.0.0").
  const auto crlf = test::makeArchive(
      {{".lumarin-installation", "# release\r\nCFBundleVersion=2.0.0\r\nOther=x\r\n"},
       {"lumarin", program("2.0"), Kind::file, 0755}});
  const auto result = installer.install(crlf, BuildVersion{"2.0", ""}, kRunning);
  ASSERT_TRUE(result.ok()) << result.error().message;
  EXPECT_EQ(test::readFile(installDir() / "lumarin"), program("2.0"));
}

TEST_F(UpdateInstallerTest, AMarkerNamesItsBuildAndReadsBack) {
  test::TempDir d;
  test::writeFile(d / "m", UpdateInstaller::markerText(BuildVersion{"42", "1.10"}));
  const auto read = UpdateInstaller::readMarker(d / "m");
  ASSERT_TRUE(read);
  EXPECT_EQ(read->build, "42");
  EXPECT_EQ(read->shortVersion, "1.10");
  EXPECT_FALSE(UpdateInstaller::readMarker(d / "missing"));
  fs::create_symlink(d / "m", d / "link");
  EXPECT_FALSE(UpdateInstaller::readMarker(d / "link")) << "a linked marker is not read";
}

TEST_F(UpdateInstallerTest, HostileOrBrokenArchivesChangeNothing) {
  auto with = [](ArchiveEntry extra) {
    auto entries = installation("2.0");
    entries.push_back(std::move(extra));
    return test::makeArchive(entries);
  };
  const auto good = test::makeArchive(installation("2.0"));
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"absolute path", with({"/tmp/lumarin-evil", "x"})},
      {"dot-dot", with({"share/../../evil", "x"})},
      {"link out", with({"share/out", "../../..", Kind::symlink})},
      {"absolute link", with({"share/etc", "/etc", Kind::symlink})},
      {"through a link", test::makeArchive({{".lumarin-installation", marker("2.0")},
                                            {"lumarin", program("2.0"), Kind::file, 0755},
                                            {"share/dir", ".", Kind::symlink},
                                            {"share/dir/x", "x"}})},
      {"hard link", with({"share/hard", "lumarin", Kind::hardlink})},
      {"no program", test::makeArchive({{".lumarin-installation", marker("2.0")}, {"other", "x"}})},
      {"no marker", test::makeArchive({{"lumarin", program("2.0"), Kind::file, 0755}})},
      {"program not executable",
       test::makeArchive({{".lumarin-installation", marker("2.0")},
                          {"lumarin", program("2.0"), Kind::file, 0644}})},
      {"truncated", good.substr(0, good.size() / 2)},
      {"not an archive", "definitely not an archive"},
      {"empty", ""},
  };
  UpdateInstaller installer(installDir(), "lumarin");
  for (const auto& [name, archive] : cases) {
    const auto result = installer.install(archive, build("2.0"), kRunning);
    EXPECT_FALSE(result.ok()) << name;
    EXPECT_EQ(test::readFile(installDir() / "lumarin"), program("1.0")) << name;
    EXPECT_TRUE(fs::exists(installDir() / "old-only.txt")) << name;
    EXPECT_EQ(siblings(), std::vector<std::string>{"Lumarin"}) << name;
  }
  EXPECT_FALSE(fs::exists("/tmp/lumarin-evil"));
  EXPECT_FALSE(fs::exists(dir_.path().parent_path() / "evil"));
}

TEST_F(UpdateInstallerTest, LinksThatStayInsideAreKept) {
  test::TempDir target;
  const auto archive = test::makeArchive({{"a/", "", Kind::directory},
                                          {"a/b/", "", Kind::directory},
                                          {"a/b/up", "../../top.txt", Kind::symlink},
                                          {"top.txt", "top"}});
  ASSERT_TRUE(unpackArchive(archive, target.path()).ok());
  EXPECT_EQ(test::readFile(target / "a/b/up"), "top");
  // An entry that would write through that link is refused.
  test::TempDir other;
  const auto through = test::makeArchive(
      {{"a/", "", Kind::directory}, {"a/link", ".", Kind::symlink}, {"a/link/x", "x"}});
  EXPECT_FALSE(unpackArchive(through, other.path()).ok());
}

// Each link alone stays inside, but together they climb out of the tree; the order of the
// entries must not matter.
TEST_F(UpdateInstallerTest, LinkChainsThatLeaveTheTreeAreRefused) {
  const std::vector<std::pair<std::string, std::vector<ArchiveEntry>>> cases = {
      {"chain",
       {{"d/", "", Kind::directory}, {"d/l", "..", Kind::symlink}, {"x", "d/l/..", Kind::symlink}}},
      {"chain, user first",
       {{"x", "d/l/..", Kind::symlink}, {"d/", "", Kind::directory}, {"d/l", "..", Kind::symlink}}},
      {"chain into a file beside",
       {{"d/", "", Kind::directory},
        {"d/l", "..", Kind::symlink},
        {"x", "d/l/../outside.txt", Kind::symlink}}},
      {"two links deep",
       {{"a/", "", Kind::directory},
        {"a/b/", "", Kind::directory},
        {"a/b/up", "../..", Kind::symlink},
        {"a/m", "b/up", Kind::symlink},
        {"y", "a/m/..", Kind::symlink}}},
  };
  for (const auto& [name, entries] : cases) {
    test::TempDir outer;
    const auto target = outer / "tree";
    fs::create_directories(target);
    test::writeFile(outer / "outside.txt", "secret");
    const auto result = unpackArchive(test::makeArchive(entries), target);
    ASSERT_FALSE(result.ok()) << name;
    EXPECT_NE(result.error().message.find("link"), std::string::npos)
        << name << ": " << result.error().message;
  }
  // Through the installer nothing of such an archive stays behind.
  auto entries = installation("2.0");
  entries.push_back({"d/", "", Kind::directory});
  entries.push_back({"d/l", "..", Kind::symlink});
  entries.push_back({"x", "d/l/..", Kind::symlink});
  UpdateInstaller installer(installDir(), "lumarin");
  const auto result = installer.install(test::makeArchive(entries), build("2.0"), kRunning);
  ASSERT_FALSE(result.ok());
  EXPECT_NE(result.error().message.find("\"x\" links through another link"), std::string::npos)
      << result.error().message;
  EXPECT_EQ(test::readFile(installDir() / "lumarin"), program("1.0"));
  EXPECT_EQ(siblings(), std::vector<std::string>{"Lumarin"});
}

TEST_F(UpdateInstallerTest, LinksToLinksInsideAreKept) {
  test::TempDir target;
  const auto archive = test::makeArchive({{"d/", "", Kind::directory},
                                          {"d/l", "..", Kind::symlink},
                                          {"top", "d/l", Kind::symlink},
                                          {"current", "notes", Kind::symlink},
                                          {"notes", "v2"},
                                          {"d/n", "../current", Kind::symlink}});
  const auto result = unpackArchive(archive, target.path());
  ASSERT_TRUE(result.ok()) << result.error().message;
  EXPECT_EQ(test::readFile(target / "d/n"), "v2");
  EXPECT_EQ(fs::canonical(target / "top"), fs::canonical(target.path()));
}

TEST_F(UpdateInstallerTest, UnpackingStopsAtTheSizeLimit) {
  test::TempDir target;
  const auto archive = test::makeArchive({{"big", std::string(10'000, 'x')}});
  EXPECT_FALSE(unpackArchive(archive, target.path(), UnpackLimits{9'999, 10}).ok());
  test::TempDir again;
  EXPECT_TRUE(unpackArchive(archive, again.path(), UnpackLimits{10'000, 10}).ok());
  test::TempDir many;
  EXPECT_FALSE(
      unpackArchive(test::makeArchive({{"a", "1"}, {"b", "2"}}), many.path(), UnpackLimits{100, 1})
          .ok());
}

TEST_F(UpdateInstallerTest, FoldersWithoutTheMarkerAreNeverReplaced) {
  test::TempDir system;
  test::writeFile(system / "lumarin", program("1.0"));
  UpdateInstaller installer(system.path(), "lumarin");
  EXPECT_FALSE(installer.canInstall().ok());
  EXPECT_FALSE(
      installer.install(test::makeArchive(installation("2.0")), build("2.0"), kRunning).ok());
  EXPECT_EQ(test::readFile(system / "lumarin"), program("1.0"));
  UpdateInstaller missing(dir_ / "nowhere", "lumarin");
  EXPECT_FALSE(missing.canInstall().ok());
}

TEST(SignatureCheckTest, OnlyTheRightKeyAndUntouchedBytesVerify) {
  test::SigningKey key;
  test::SigningKey other;
  const std::string data = "archive bytes";
  const auto signature = key.sign(data);
  EXPECT_TRUE(verifyEd25519(key.publicKeyBase64(), signature, data).ok());
  EXPECT_TRUE(verifyEd25519(" " + key.publicKeyBase64() + "\n", signature, data).ok());

  auto code = [](const Status& s) { return static_cast<SignatureProblem>(s.error().code); };
  EXPECT_EQ(code(verifyEd25519(key.publicKeyBase64(), signature, data + "!")),
            SignatureProblem::mismatch);
  EXPECT_EQ(code(verifyEd25519(other.publicKeyBase64(), signature, data)),
            SignatureProblem::mismatch);
  EXPECT_EQ(code(verifyEd25519(key.publicKeyBase64(), "", data)), SignatureProblem::notSigned);
  EXPECT_EQ(code(verifyEd25519(key.publicKeyBase64(), "c2ln", data)), SignatureProblem::malformed);
  EXPECT_EQ(code(verifyEd25519("", signature, data)), SignatureProblem::missingPublicKey);
  EXPECT_EQ(code(verifyEd25519("AAAA", signature, data)), SignatureProblem::badPublicKey);
}

}  // namespace
}  // namespace lumarin
