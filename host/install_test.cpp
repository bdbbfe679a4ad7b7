// Installing velnor as an administrator does, and the first things done
// with it: `cmake --install` into a staging folder, the manual page read
// with man, bash completion in a real bash, the .deb that CPack makes, and
// the nightly cron line and systemd units that the README shows, run as
// cron and systemd would run them.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "host/testing/velnor_test_support.h"
#include "testing/test_support.h"

namespace velnor::host {
namespace {

using testing::ProgramRun;
using testing::ReadFile;
using testing::Rows;
using testing::Shell;
using testing::ShellQuoted;
using testing::TempDir;
using testing::TestToolsRequired;
using testing::Words;
using testing::WriteFile;

namespace fs = std::filesystem;

const fs::path kSource = VELNOR_SOURCE_DIR;
const fs::path kBuild = VELNOR_BINARY_DIR;

// The long option names that `text` mentions, such as "--db-dir".
std::set<std::string> OptionNames(const std::string& text) {
  static const std::regex kOption("--[a-z][a-z-]*");
  std::set<std::string> names;
  for (std::sregex_iterator it(text.begin(), text.end(), kOption), end;
       it != end; ++it) {
    names.insert(it->str());
  }
  return names;
}

class InstallTest : public ::testing::Test {
 protected:
  // Installs the build into `root_` as a package build would.
  void Install() {
    ProgramRun install =
        Shell("DESTDIR=" + ShellQuoted(root_.string()) + " cmake --install " +
              ShellQuoted(kBuild.string()) + " --prefix /usr");
    ASSERT_EQ(install.status, 0) << install.out;
  }

  // Completions bash offers for the words of `line`, the last being the
  // one being typed, with the installed script loaded, in `dir_`: one each,
  // so that a blank inside a name tells.
  std::vector<std::string> CompleteWords(const std::string& line) {
    std::string script =
        "source " +
        ShellQuoted(
            (root_ / "usr/share/bash-completion/completions/velnor").string()) +
        "; cd " + ShellQuoted(dir_.string()) + "; COMP_WORDS=(" + line +
        "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _velnor; "
        "printf '%s\\n' \"${COMPREPLY[@]}\"";
    ProgramRun bash = Shell("bash -c " + ShellQuoted(script));
    EXPECT_EQ(bash.status, 0) << bash.out;
    std::vector<std::string> words;
    std::istringstream lines(bash.out);
    for (std::string word; std::getline(lines, word);) {
      if (!word.empty()) words.push_back(word);
    }
    return words;
  }
  // The same joined by blanks, as bash lists them.
  std::string Complete(const std::string& line) {
    std::string joined;
    for (const std::string& word : CompleteWords(line)) {
      joined += (joined.empty() ? "" : " ") + word;
    }
    return joined;
  }

  TempDir tmp_{"install_test"};
  const fs::path& dir_ = tmp_.path();
  fs::path root_ = dir_ / "root";
};

TEST_F(InstallTest, InstallPutsCommandManualAndCompletionWhereDebianLooks) {
  Install();
  const fs::path velnor = root_ / "usr/bin/velnor";
  struct stat info {};
  ASSERT_EQ(::stat(velnor.c_str(), &info), 0);
  EXPECT_TRUE(info.st_mode & S_IXOTH);
  EXPECT_TRUE(fs::is_regular_file(root_ / "usr/share/man/man1/velnor.1"));
  EXPECT_TRUE(fs::is_regular_file(
      root_ / "usr/share/bash-completion/completions/velnor"));

  // The manual renders without a warning and documents every option that
  // each subcommand's --help lists, under the subcommand.
  ProgramRun man =
      Shell("MANWIDTH=100 man --warnings -E UTF-8 -l " +
            ShellQuoted((root_ / "usr/share/man/man1/velnor.1").string()) +
            " 2>" + ShellQuoted((dir_ / "man.err").string()));
  ASSERT_EQ(man.status, 0) << man.out;
  EXPECT_EQ(ReadFile(dir_ / "man.err"), "");
  std::string page = man.out;
  for (const char* command : {"init-db", "collect", "report"}) {
    SCOPED_TRACE(command);
    ProgramRun help =
        Shell(ShellQuoted(velnor.string()) + " " + command + " --help");
    ASSERT_EQ(help.status, 0) << help.out;
    size_t start = page.find(std::string("\n   velnor ") + command + "\n");
    ASSERT_NE(start, std::string::npos) << page;
    size_t end = page.find("\n   velnor ", start + 1);
    if (end == std::string::npos) end = page.find("\nENVIRONMENT", start);
    std::string section = page.substr(start, end - start);
    std::set<std::string> options = OptionNames(help.out);
    EXPECT_GE(options.size(), 3u);
    EXPECT_EQ(OptionNames(section), options) << section;
    // The examples of --help are there too.
    std::string first_example =
        help.out.substr(help.out.find("\n  velnor " + std::string(command)));
    first_example = first_example.substr(3, first_example.find('\n', 1) - 3);
    EXPECT_NE(section.find(first_example), std::string::npos) << first_example;
  }
  EXPECT_NE(page.find("--time-format grid|iso"), std::string::npos);
  EXPECT_NE(page.find("\nENVIRONMENT\n"), std::string::npos);
  EXPECT_NE(page.find("\nEXIT STATUS\n"), std::string::npos);
}

TEST_F(InstallTest, BashCompletionOffersCommandsOptionsAndValues) {
  Install();
  fs::create_directories(dir_ / "reports");
  WriteFile(dir_ / "sites.txt", "");
  EXPECT_EQ(Complete("velnor ''"),
            "init-db collect report runs sites migrate help --help");
  EXPECT_EQ(Complete("velnor re"), "report");
  EXPECT_EQ(Complete("velnor report --f"), "--ftp --format --from");
  EXPECT_EQ(Complete("velnor collect --time"), "--time-format");
  // Values by the option's kind, per subcommand.
  EXPECT_EQ(Complete("velnor report --format ''"), "text csv json html");
  EXPECT_EQ(Complete("velnor collect --raw --format ''"), "table csv tsv json");
  EXPECT_EQ(Complete("velnor collect --time-format i"), "iso");
  EXPECT_EQ(Complete("velnor collect --db-dir re"), "reports");
  EXPECT_EQ(Complete("velnor collect --sites si"), "sites.txt");
  EXPECT_EQ(Complete("velnor collect --server ''"), "");
  EXPECT_EQ(Complete("velnor init-db --db-dir reports --s"), "--server");
  // Names with blanks come whole, one completion each.
  WriteFile(dir_ / "my sites.txt", "");
  fs::create_directories(dir_ / "old reports");
  EXPECT_EQ(CompleteWords("velnor collect --sites my"),
            std::vector<std::string>{"my sites.txt"});
  EXPECT_EQ(CompleteWords("velnor report --db-dir old"),
            std::vector<std::string>{"old reports"});
  // velnor help completes the command it explains.
  EXPECT_EQ(Complete("velnor help co"), "collect");
  EXPECT_EQ(Complete("velnor help ''"),
            "init-db collect report runs sites migrate help");
  EXPECT_EQ(Complete("velnor help report ''"), "-h --help");
}

TEST_F(InstallTest, DebPackageHoldsTheFilesAndDependsOnRuntimeLibrariesOnly) {
  ProgramRun cpack =
      Shell("cpack -G DEB --config " +
            ShellQuoted((kBuild / "CPackConfig.cmake").string()) + " -B " +
            ShellQuoted((dir_ / "package").string()));
  ASSERT_EQ(cpack.status, 0) << cpack.out;
  fs::path deb;
  for (const auto& file : fs::directory_iterator(dir_ / "package")) {
    if (file.path().extension() == ".deb") deb = file.path();
  }
  ASSERT_FALSE(deb.empty()) << cpack.out;

  ProgramRun depends =
      Shell("dpkg-deb -f " + ShellQuoted(deb.string()) + " Depends");
  ASSERT_EQ(depends.status, 0) << depends.out;
  std::set<std::string> packages;
  std::istringstream list(depends.out);
  for (std::string item; std::getline(list, item, ',');) {
    std::istringstream words(item);
    std::string name;
    words >> name;
    packages.insert(name);
  }
  for (const char* runtime : {"libc6", "libsqlite3-0", "libsmbclient", "libpq5",
                              "zlib1g", "libstdc++6"}) {
    EXPECT_TRUE(packages.count(runtime)) << runtime << " in " << depends.out;
  }
  for (const std::string& name : packages) {
    EXPECT_FALSE(name.ends_with("-dev")) << depends.out;
    EXPECT_TRUE(name.starts_with("lib") || name == "zlib1g") << name;
  }

  ProgramRun contents = Shell("dpkg-deb -c " + ShellQuoted(deb.string()));
  for (const char* file :
       {" ./usr/bin/velnor\n", " ./usr/share/man/man1/velnor.1\n",
        " ./usr/share/bash-completion/completions/velnor\n"}) {
    EXPECT_NE(contents.out.find(file), std::string::npos) << contents.out;
  }
  // The packaged command runs.
  ProgramRun unpack =
      Shell("dpkg-deb -x " + ShellQuoted(deb.string()) + " " +
            ShellQuoted((dir_ / "unpacked").string()) + " && " +
            ShellQuoted((dir_ / "unpacked/usr/bin/velnor").string()) +
            " init-db --help");
  EXPECT_EQ(unpack.status, 0) << unpack.out;
  EXPECT_NE(unpack.out.find("velnor init-db --db-dir"), std::string::npos);
}

// The README's text between the line `start` and the next ``` fence.
std::string ReadmeBlock(const std::string& start) {
  std::string readme = ReadFile(kSource / "README.md");
  size_t at = readme.find(start);
  EXPECT_NE(at, std::string::npos) << start;
  if (at == std::string::npos) return "";
  return readme.substr(at, readme.find("```", at) - at);
}

// `text` with every `from` replaced by `to`.
std::string Replaced(std::string text, const std::string& from,
                     const std::string& to) {
  for (size_t at = 0; (at = text.find(from, at)) != std::string::npos;
       at += to.size()) {
    text.replace(at, from.size(), to);
  }
  return text;
}

class NightlyTest : public InstallTest {
 protected:
  // A share root with yesterday's log of SRV1's site 1 (three records, two
  // of them yesterday, in the logs' time: UTC), the sites file the README
  // names, and an empty database folder.
  void SetUp() override {
    std::time_t now = std::time(nullptr) - 24L * 60 * 60;
    std::tm day{};
    gmtime_r(&now, &day);
    char yesterday[16], file[32];
    std::strftime(yesterday, sizeof yesterday, "%Y-%m-%d", &day);
    std::strftime(file, sizeof file, "u_ex%y%m%d.log", &day);
    WriteFile(dir_ / "shares/SRV1/C$/logs/W3SVC1" / file,
              "#Fields: date time c-ip cs-method cs-uri-stem sc-status\n" +
                  std::string(yesterday) + " 01:00:00 10.0.0.1 GET / 200\n" +
                  std::string(yesterday) + " 02:00:00 10.0.0.2 GET /a 404\n" +
                  "1999-01-01 02:00:00 10.0.0.3 GET /b 200\n");
    // Yesterday's log, no longer written: its last change hours ago.
    fs::last_write_time(
        dir_ / "shares/SRV1/C$/logs/W3SVC1" / file,
        fs::file_time_type::clock::now() - std::chrono::hours(2));
    WriteFile(dir_ / "etc/srv1-sites.txt", "Main,C:\\logs,1\n");
    fs::create_directories(dir_ / "db");
    ASSERT_EQ(
        RunVelnor(Words("init-db --db-dir db --server SRV1"), dir_).status, 0);
  }

  // Runs `command` as /bin/sh would from cron or systemd, with the paths
  // the README uses moved into the test's folder, and checks that it
  // counted yesterday's two records.
  void ExpectCollectsYesterday(std::string command) {
    command = Replaced(command, "/var/lib/velnor", (dir_ / "db").string());
    command = Replaced(command, "/etc/velnor", (dir_ / "etc").string());
    ProgramRun run =
        Shell("cd / && PATH=" +
              ShellQuoted((kBuild / "host").string() + ":/usr/bin:/bin") +
              " VELNOR_SHARE_ROOT=" + ShellQuoted((dir_ / "shares").string()) +
              " /bin/sh -c " + ShellQuoted(command));
    EXPECT_EQ(run.status, 0) << command << "\n" << run.out;
    EXPECT_EQ(SiteTotalRows(dir_ / "db", "SRV1"), (Rows{{"1", "2"}}))
        << run.out;
  }
};

TEST_F(NightlyTest, CronLineOfTheReadmeCollectsYesterday) {
  std::string block = ReadmeBlock("# /etc/cron.d/velnor");
  EXPECT_NE(block.find("\nVELNOR_SHARE_ROOT=/mnt/shares\n"), std::string::npos);
  std::smatch line;
  ASSERT_TRUE(std::regex_search(
      block, line, std::regex(R"(\n(\S+ ){5}velnor (velnor collect [^\n]*))")))
      << block;
  // cron ends the command at an unescaped % and passes \% on as %.
  std::string command = line[2];
  ASSERT_EQ(Replaced(command, "\\%", "").find('%'), std::string::npos);
  ExpectCollectsYesterday(Replaced(command, "\\%", "%"));
  // The same night again (cron started it twice): nothing counted twice.
  ExpectCollectsYesterday(Replaced(command, "\\%", "%"));
}

TEST_F(NightlyTest, SystemdUnitsOfTheReadmeCollectYesterday) {
  std::string service =
      ReadmeBlock("# /etc/systemd/system/velnor-nightly.service");
  std::string timer = ReadmeBlock("# /etc/systemd/system/velnor-nightly.timer");
  EXPECT_NE(timer.find("\nOnCalendar="), std::string::npos);
  EXPECT_NE(service.find("\nEnvironment=VELNOR_SHARE_ROOT=/mnt/shares\n"),
            std::string::npos);
  if (access("/usr/bin/systemd-analyze", X_OK) != 0) {
    // Only the units' own check needs it; the rest runs without it.
    if (TestToolsRequired()) {
      ADD_FAILURE() << "systemd-analyze is not installed (Debian package "
                       "systemd)";
    }
  } else {
    fs::create_directories(dir_ / "units");
    WriteFile(dir_ / "units/velnor-nightly.service",
              service.substr(service.find('\n') + 1));
    WriteFile(dir_ / "units/velnor-nightly.timer",
              timer.substr(timer.find('\n') + 1));
    ProgramRun verify = Shell("cd " + ShellQuoted((dir_ / "units").string()) +
                              " && systemd-analyze verify --man=no "
                              "velnor-nightly.timer velnor-nightly.service");
    // A machine without systemd running may only warn that it cannot
    // look the user up; the units themselves must raise nothing.
    EXPECT_EQ(verify.out.find("velnor-nightly"), std::string::npos)
        << verify.out;
  }
  std::smatch line;
  ASSERT_TRUE(
      std::regex_search(service, line, std::regex(R"(\nExecStart=([^\n]*))")))
      << service;
  // systemd reads %% as % and $$ as $.
  std::string command = line[1];
  ASSERT_EQ(Replaced(command, "%%", "").find('%'), std::string::npos);
  ExpectCollectsYesterday(Replaced(Replaced(command, "%%", "%"), "$$", "$"));
}

}  // namespace
}  // namespace velnor::host
