// The velnor command. Each subcommand lives in its own file; velnor_app
// puts them together. Mistakes the option parser finds are told in the
// style of every other usage mistake.
#include <string>
#include <string_view>

#include "host/cli/velnor_app.h"
#include "host/common/command_support.h"
#include "host/render/text_format.h"

namespace {

using velnor::host::Usage;

// The parser's mistake in the common style; returns the exit status.
int ParseMistake(const CLI::App& app, const CLI::ParseError& error, int argc,
                 char** argv) {
  const std::string_view first = argc > 1 ? argv[1] : "";
  bool known = false;
  for (const CLI::App* sub : velnor::host::Subcommands(app)) {
    known = known || sub->get_name() == first;
  }
  const std::string commands = velnor::host::CommandList(app);
  if (first.empty() || first.starts_with('-')) {
    Usage("no command given",
          "say what to do: velnor COMMAND, where the commands are " + commands +
              "; velnor help COMMAND explains one");
  } else if (!known) {
    Usage(
        "\"" + velnor::host::Shown(first) + "\" is not a velnor command",
        "the commands are " + commands + "; velnor help COMMAND explains one");
  } else {
    Usage(velnor::host::CutText(error.what(), 200),
          "velnor help " + std::string(first) +
              " shows its options and examples");
  }
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
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
