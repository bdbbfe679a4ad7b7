// The velnor command. Each subcommand lives in its own file; velnor_app
// puts them together.
#include "host/velnor_app.h"

int main(int argc, char** argv) {
  int exit_status = 0;
  std::unique_ptr<CLI::App> app = velnor::host::MakeVelnorApp(&exit_status);
  try {
    app->parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    int status = app->exit(error);
    // Usage mistakes share exit status 2; asking for help is a success.
    return status == 0 ? 0 : 2;
  }
  return exit_status;
}
