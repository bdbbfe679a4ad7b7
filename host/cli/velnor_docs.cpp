// velnor-docs: prints the manual page or the bash completion of velnor,
// made from the same option definitions as the command. The build runs it;
// it is not installed.
//   velnor-docs man VERSION      roff for velnor(1)
//   velnor-docs bash-completion  the completion script
#include <iostream>
#include <string_view>

#include "host/cli/bash_completion.h"
#include "host/cli/man_page.h"
#include "host/cli/velnor_app.h"

int main(int argc, char** argv) {
  int unused_status = 0;
  auto app = velnor::host::MakeVelnorApp(&unused_status);
  std::string_view what = argc > 1 ? argv[1] : "";
  if (what == "man" && argc == 3) {
    std::cout << velnor::host::ManPage(*app, argv[2]);
  } else if (what == "bash-completion" && argc == 2) {
    std::cout << velnor::host::BashCompletion(*app);
  } else {
    std::cerr << "usage: velnor-docs man VERSION | velnor-docs "
                 "bash-completion\n";
    return 2;
  }
  return std::cout.flush() ? 0 : 1;
}
