// The velnor command. Each subcommand lives in its own file; velnor_app
// puts them together. Mistakes the option parser finds are told in the
// style of every other usage mistake.
#include <malloc.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <string>
#include <string_view>

#include "host/cli/velnor_app.h"
#include "host/common/command_support.h"

namespace {

using velnor::host::Usage;

// The first word of argv[2..] that looks like an option ("--frm",
// "--frm=2024-06-01", "-x") and is none of `command`'s, without its value;
// "" when every one is known.
std::string UnknownOption(const CLI::App& command, int argc, char** argv) {
  for (int i = 2; i < argc; ++i) {
    const std::string_view word = argv[i];
    if (word == "--") break;
    const bool looks_like_option =
        word.size() > 1 && word[0] == '-' &&
        (std::isalpha(static_cast<unsigned char>(word[1])) ||
         (word[1] == '-' && word.size() > 2));
    if (!looks_like_option) continue;
    std::string name(word.substr(0, word.find('=')));
    if (!name.starts_with("--")) name = name.substr(0, 2);
    if (command.get_option_no_throw(name) == nullptr) return name;
  }
  return "";
}

// The parser's mistake in the common style; returns the exit status.
int ParseMistake(const CLI::App& app, const CLI::ParseError& error, int argc,
                 char** argv) {
  using velnor::host::ClosestName;
  using velnor::host::DidYouMean;
  using velnor::host::Shown;
  const std::string first = argc > 1 ? argv[1] : "";
  const CLI::App* command = nullptr;
  for (const CLI::App* sub : velnor::host::Subcommands(app)) {
    if (sub->get_name() == first) command = sub;
  }
  const std::string commands = velnor::host::CommandList(app);
  const std::string help_of = "velnor help " + first;
  if (first.empty() || first.starts_with('-')) {
    Usage("no command given",
          "say what to do: velnor COMMAND, where the commands are " + commands +
              "; velnor help COMMAND explains one");
  } else if (command == nullptr) {
    Usage("\"" + Shown(first) + "\" is not a velnor command",
          DidYouMean(ClosestName(first, velnor::host::CommandNames(app))) +
              "the commands are " + commands +
              "; velnor help COMMAND explains one");
  } else if (const std::string unknown = UnknownOption(*command, argc, argv);
             !unknown.empty()) {
    Usage(
        Shown(unknown) + " is not an option of velnor " + first,
        DidYouMean(ClosestName(unknown, velnor::host::OptionNames(*command))) +
            help_of + " shows its options and examples");
  } else {
    Usage(error.what(), help_of + " shows its options and examples");
  }
  return 2;
}

// A collect run allocates tens of MB (its tallies, statistics and SQLite's
// sort), each 4 kB page faulted in on first touch at about 10 us on the
// virtual machines velnor runs on. glibc backs its heaps with transparent
// huge pages, which leave a fifth of those faults, when its hugetlb tunable
// asks for it, but reads tunables only as a process starts: collect starts
// itself again, once, with the tunable added to GLIBC_TUNABLES (the same
// process, so its pid and open files stay). A value the user gave it is
// kept; where the new start fails, the run goes on in this process with
// the environment it had.
void StartCollectOnHugePages(int argc, char** argv) {
  if (argc < 2 || std::string_view(argv[1]) != "collect") return;
  constexpr std::string_view kName = "glibc.malloc.hugetlb=";
  const char* given = std::getenv("GLIBC_TUNABLES");
  const std::string before = given ? given : "";
  if (before.find(kName) != std::string::npos) return;
  const std::string with_huge_pages =
      (before.empty() ? "" : before + ":") + std::string(kName) + "1";
  if (setenv("GLIBC_TUNABLES", with_huge_pages.c_str(), 1) != 0) return;
  execv("/proc/self/exe", argv);
  if (given) {
    setenv("GLIBC_TUNABLES", before.c_str(), 1);
  } else {
    unsetenv("GLIBC_TUNABLES");
  }
}

}  // namespace

int main(int argc, char** argv) {
  StartCollectOnHugePages(argc, argv);
  // A run frees and allocates again batches of rows and the engine's sort
  // memory: kept at the heap's top up to this much rather than handed back
  // to the kernel, they are not faulted in again page by page (a fault
  // costs about 10 us on the virtual machines velnor runs on). Pages never
  // touched cost nothing, so a small run keeps its small footprint.
  // Minor faults without it / with it, 1 M records: 4,590 / 3,620 (one
  // file), 12,500 / 10,450 (four sites); 5 M records over 5 days: 6,580 /
  // 5,190, peak 40 / 44 MB. Setting the pad also fixes the threshold over
  // which malloc maps a block of its own (128 KB), which would map and
  // fault in again every such block freed and made anew; but the run's big
  // buffers are regions it maps itself, malloc maps no block in these runs,
  // and an explicit M_MMAP_THRESHOLD of 32 MiB measured the same faults,
  // CPU and peak.
  mallopt(M_TOP_PAD, 64 << 20);
  int exit_status = 0;
  std::unique_ptr<CLI::App> app = velnor::host::MakeVelnorApp(&exit_status);
  try {
    app->parse(argc, argv);
  } catch (const CLI::CallForHelp& request) {
    return app->exit(request);
  } catch (const CLI::CallForAllHelp& request) {
    return app->exit(request);
  } catch (const CLI::CallForVersion& request) {
    return app->exit(request);
  } catch (const CLI::ParseError& error) {
    return ParseMistake(*app, error, argc, argv);
  }
  return exit_status;
}
