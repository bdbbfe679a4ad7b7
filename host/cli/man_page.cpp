// Writing velnor(1). The sections beyond the subcommands (environment, exit
// statuses) are facts of the whole command that no single option carries.
#include "host/cli/man_page.h"

#include <fmt/format.h>

#include "host/cli/velnor_app.h"
#include "host/render/text_format.h"

namespace velnor::host {
namespace {

constexpr std::string_view kEnvironment = R"(.TP
.B VELNOR_SHARE_ROOT
The share root of \fBcollect\fR when \fB\-\-share\-root\fR is not given.
.TP
.B VELNOR_SMB_AUTH
The SMB authentication file of \fBcollect\fR when \fB\-\-smb\-auth\fR is
not given.
.TP
.B VELNOR_DB_URL
The central PostgreSQL store of \fBinit\-db\fR, \fBcollect\fR,
\fBreport\fR and \fBmigrate\fR when neither \fB\-\-db\-dir\fR nor
\fB\-\-db\-url\fR is given.
.TP
.BR PGPASSFILE
The password file of the central store (default \fI~/.pgpass\fR): its
password is never given on the command line.
.TP
.B SOURCE_DATE_EPOCH
Seconds since 1970 that \fBreport\fR states as the time the report was
made, instead of the present time, so that a report can be made again
byte for byte.
.TP
.BR LC_ALL ", " LC_CTYPE ", " LANG
When the locale is not UTF\-8, text reports and raw tables draw bars, rules
and cut marks in ASCII.
.TP
.B NO_COLOR
velnor writes no colour in any case.
)";

constexpr std::string_view kExitStatus = R"(.TP
.B 0
Done; the error log got no line.
.TP
.B 1
Done, but the error log got lines, or a database or output file could not
be read or written.
.TP
.B 2
A usage mistake, days the collection ledger holds as counted already
(without \fB\-\-recount\fR), or another collection of the same databases
running: one message says what and how to fix it, and nothing was touched.
.TP
.B 130
The user cancelled a collection and confirmed it.
)";

// "--db-dir TEXT", "--ftp", "--site TEXT ..." in bold and italics.
std::string OptionSynopsis(const CLI::Option& option) {
  std::string names;
  for (const std::string& name : option.get_snames()) {
    AppendListItem(names, ", ", fmt::format("\\fB\\-{}\\fR", RoffText(name)));
  }
  for (const std::string& name : option.get_lnames()) {
    AppendListItem(names, ", ",
                   fmt::format("\\fB\\-\\-{}\\fR", RoffText(name)));
  }
  if (IsFlag(option)) return names;
  names += fmt::format(" \\fI{}\\fR", RoffText(option.get_type_name()));
  if (option.get_items_expected_max() > 1) names += " ...";
  return names;
}

std::string OptionsOf(const CLI::App& command) {
  std::string text;
  for (const CLI::Option* option : TypedOptions(command)) {
    text += ".TP\n" + OptionSynopsis(*option) + "\n" +
            RoffText(option->get_description());
    if (option->get_required()) text += " (required)";
    text += "\n";
  }
  return text;
}

// The footer as it is laid out in --help, indented and not refilled.
std::string Preformatted(const std::string& footer) {
  std::string text = ".PP\n.nf\n";
  size_t start = footer.find_first_not_of('\n');
  if (start == std::string::npos) return "";
  text += RoffText(footer.substr(start));
  if (text.back() != '\n') text += '\n';
  return text + ".fi\n";
}

std::string CommandSection(const CLI::App& command) {
  const std::string& name = command.get_name();
  return fmt::format(".SS \"velnor {}\"\n{}\n{}{}", RoffText(name),
                     RoffText(command.get_description()), OptionsOf(command),
                     Preformatted(command.get_footer()));
}

std::string Synopsis(const CLI::App& app) {
  std::string text;
  for (const CLI::App* command : Subcommands(app)) {
    text += ".br\n.B velnor " + RoffText(command->get_name());
    for (const CLI::Option* option : TypedOptions(*command)) {
      if (option->get_required()) text += "\n" + OptionSynopsis(*option);
    }
    text += "\n[\\fIOPTIONS\\fR]\n";
  }
  return text;
}

}  // namespace

std::string RoffText(std::string_view text) {
  std::string out;
  bool line_start = true;
  for (char c : text) {
    if (line_start && (c == '.' || c == '\'')) out += "\\&";
    if (c == '\\') {
      out += "\\e";
    } else if (c == '-') {
      out += "\\-";
    } else {
      out += c;
    }
    line_start = c == '\n';
  }
  return out;
}

std::string ManPage(const CLI::App& app, std::string_view version) {
  std::string page = fmt::format(
      ".TH VELNOR 1 \"\" \"velnor {}\" \"User Commands\"\n"
      ".SH NAME\nvelnor \\- collect IIS log statistics into report "
      "databases\n.SH SYNOPSIS\n{}.SH DESCRIPTION\n{}\n"
      "Every command has \\fB\\-\\-help\\fR with examples.\n.SH COMMANDS\n",
      RoffText(version), Synopsis(app), RoffText(app.get_description()));
  for (const CLI::App* command : Subcommands(app)) {
    page += CommandSection(*command);
  }
  return page + ".SH ENVIRONMENT\n" + std::string(kEnvironment) +
         ".SH EXIT STATUS\n" + std::string(kExitStatus);
}

}  // namespace velnor::host
