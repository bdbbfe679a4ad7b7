// The velnor command. Each subcommand lives in its own file; velnor_app
// puts them together. Mistakes the option parser finds are told in the
// style of every other usage mistake.
#include <malloc.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

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

// What argv[2..] gave the option `name` of a command, once for each time
// it was given: "--wait 5" and "--wait=5" alike; "" for a value missing.
std::vector<std::string> GivenValues(const std::string& name, int argc,
                                     char** argv) {
  std::vector<std::string> values;
  for (int i = 2; i < argc; ++i) {
    const std::string_view word = argv[i];
    if (word == "--") break;
    if (word == name) {
      const bool has_value = i + 1 < argc && argv[i + 1][0] != '-';
      values.emplace_back(has_value ? argv[i + 1] : "");
    } else if (word.starts_with(name + "=")) {
      values.emplace_back(word.substr(name.size() + 1));
    }
  }
  return values;
}

// An option of the command argv[1] names given without its value because
// the word after it is another of its options ("--db-url --server SRV1",
// as a script writes it when the variable meant for the URL is empty or
// unset). The parser would take that option's name for the value and the
// next word for a stray one; this tells the mistake and returns true.
bool OptionTakenAsValue(const CLI::App& app, int argc, char** argv) {
  if (argc < 2) return false;
  const CLI::App* command = nullptr;
  for (const CLI::App* sub : velnor::host::Subcommands(app)) {
    if (sub->get_name() == argv[1]) command = sub;
  }
  if (command == nullptr) return false;
  for (int i = 2; i + 1 < argc; ++i) {
    const std::string word = argv[i];
    if (word == "--") break;
    const CLI::Option* option = command->get_option_no_throw(word);
    if (option == nullptr || option->get_expected_min() == 0) continue;
    const std::string next = argv[i + 1];
    const std::string next_name = next.substr(0, next.find('='));
    if (next_name.starts_with("--") &&
        command->get_option_no_throw(next_name) != nullptr) {
      std::string type = option->get_type_name();
      type = type.substr(0, type.find(':'));
      Usage(word + " is given without its value: the word after it, " +
                next_name + ", is an option",
            "give it as " + word + " " + type +
                " (in a script, a variable that is empty or unset leaves "
                "none); velnor help " +
                argv[1] + " shows its options and examples");
      return true;
    }
    ++i;  // the value
  }
  return false;
}

// The name of `option` as given on the command line ("--tally"). The
// parser's own messages name a hidden option (a diagnostic, of the group
// "") by nothing at all.
std::string OptionName(const CLI::Option& option) {
  if (std::string name = option.get_name(); !name.empty()) return name;
  const std::vector<std::string>& names = option.get_lnames();
  return names.empty() ? "" : "--" + names.front();
}

// The option of `command` the parser's message is about: the message
// starts with its name and ": ", or, for a value that does not convert,
// reads "Could not convert: NAME = VALUE"; a hidden option's name is
// empty there, so it is the hidden option argv[2..] gives. Null when it
// names none.
const CLI::Option* OptionOfMessage(const CLI::App& command,
                                   const std::string& message, int argc,
                                   char** argv) {
  for (const CLI::Option* option : command.get_options()) {
    const std::string name = option->get_name();
    if (name.empty() && GivenValues(OptionName(*option), argc, argv).empty()) {
      continue;
    }
    if (message.starts_with(name + ": ") ||
        message.starts_with("Could not convert: " + name + " = ")) {
      return option;
    }
  }
  return nullptr;
}

// The parser's mistake about the value of one option, in words a user
// can act on: given twice, given without its value, or a value the option
// does not take. False when `error` is about something else.
bool ValueMistake(const CLI::App& command, const CLI::ParseError& error,
                  int argc, char** argv, const std::string& help_of) {
  using velnor::host::Shown;
  const std::string message = error.what();
  const CLI::Option* option = OptionOfMessage(command, message, argc, argv);
  if (option == nullptr) return false;
  const std::string name = OptionName(*option);
  const std::vector<std::string> values = GivenValues(name, argc, argv);
  // The type name without the descriptions of its checks.
  std::string type = option->get_type_name();
  type = type.substr(0, type.find(':'));
  const std::string shows = help_of + " shows its options and examples";
  if (dynamic_cast<const CLI::ArgumentMismatch*>(&error) != nullptr) {
    if (values.size() > 1) {
      std::string listed;
      for (const std::string& value : values) {
        listed += (listed.empty() ? "" : ", ") + Shown(value);
      }
      Usage(name + " is given " + std::to_string(values.size()) + " times (" +
                listed + "); it takes one value",
            "give it once; " + shows);
    } else {
      Usage(name + " is given without its value",
            "give it as " + name + " " + type + "; " + shows);
    }
    return true;
  }
  const std::string value = values.empty() ? "" : values.back();
  if (option->get_expected_max() == 0) {
    Usage(name + " takes no value, but was given " + Shown(value),
          "give it as " + name + " alone; " + shows);
    return true;
  }
  if (dynamic_cast<const CLI::ConversionError*>(&error) != nullptr) {
    double number = 0;
    const bool fraction = CLI::detail::lexical_cast(value, number);
    Usage(name + " " + Shown(value) + " is not a " +
              (fraction ? "whole " : "") + "number",
          "give it as " + name + " " + type + "; " + shows);
    return true;
  }
  // A check of our own says what is wrong with the value after the name.
  Usage(name + " " + message.substr(message.find(": ") + 2), shows);
  return true;
}

// Two options of `command` the parser found given together though one
// excludes the other ("--raw excludes --recount"), told with what each
// does, so that the user can choose; false when `error` is about
// something else.
bool ExcludedTogether(const CLI::App& command, const CLI::ParseError& error) {
  if (dynamic_cast<const CLI::ExcludesError*>(&error) == nullptr) return false;
  const std::string message = error.what();
  const size_t middle = message.find(" excludes ");
  if (middle == std::string::npos) return false;
  const CLI::Option* first =
      command.get_option_no_throw(message.substr(0, middle));
  const CLI::Option* second =
      command.get_option_no_throw(message.substr(middle + 10));
  if (first == nullptr || second == nullptr) return false;
  const auto what = [](const CLI::Option* option) {
    return option->get_name() + ": " + option->get_description();
  };
  Usage(first->get_name() + " and " + second->get_name() +
            " are given together, but a command takes one or the other",
        "give one of them (" + what(first) + "; " + what(second) + ")");
  return true;
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
  if (first.starts_with('-')) {
    // Only --help and --version come before the command; every other
    // option is one of a command's, given after it.
    const std::string name = first.substr(0, first.find('='));
    Usage(Shown(name) + " is not an option of velnor itself",
          DidYouMean(ClosestName(name, velnor::host::OptionNames(app))) +
              "a command's options come after it: velnor COMMAND --option; "
              "the commands are " +
              commands + "; velnor help COMMAND explains one");
  } else if (first.empty()) {
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
  } else if (const auto* extras = dynamic_cast<const CLI::ExtrasError*>(&error);
             extras != nullptr) {
    // "The following argument was not expected: stray".
    const std::string message = extras->what();
    const std::string words = message.substr(message.find(": ") + 2);
    Usage("\"" + Shown(words) + "\" is neither an option of velnor " + first +
              " nor the value of one",
          "quote a value that holds blanks, or drop the word; " + help_of +
              " shows its options and examples");
  } else if (!ExcludedTogether(*command, error) &&
             !ValueMistake(*command, error, argc, argv, help_of)) {
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
  if (OptionTakenAsValue(*app, argc, argv)) return 2;
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
