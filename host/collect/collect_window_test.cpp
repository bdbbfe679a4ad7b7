// The planning of a collect run against its ledger: each site's window
// (--from/--to, --since-last with the days it goes back to and passes over,
// a ledger started on databases that held counts) and the refusals, and
// the check inside a run's commit against runs it did not know of. The
// ledgers are real files where the check reads one.
#include "host/collect/collect_window.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "host/collect/collect_ledger.h"
#include "ledger/counted_days.h"
#include "ledger/ledger_files.h"
#include "ledger/ledger_schema.h"
#include "ledger/ledger_store.h"
#include "platform/ado/session.h"
#include "platform/automation/error_state.h"
#include "platform/automation/ole_date.h"
#include "testing/test_support.h"

namespace velnor::host {
namespace {

using ledger::Day;

Day June(int day) {
  return static_cast<Day>(automation::DateSerial(2024, 6, day));
}

// A ledger whose run `run` counted the days `first`..`last` of site 1,
// each whole but those in `open` (counted in part, or with nothing read).
struct Counted {
  int64_t run;
  Day first;
  Day last;
  std::vector<Day> open;
};

ledger::LedgerContents LedgerOf(const std::vector<Counted>& counted,
                                std::optional<Day> started_on = {}) {
  ledger::LedgerContents ledger;
  if (started_on) {
    ledger.runs.push_back(
        LedgerStartRow("SRV1", false, *started_on, "2024-06-01T00:00:00Z"));
  }
  for (const Counted& run : counted) {
    ledger::RunRow& row = ledger.runs.emplace_back();
    row.run_id = run.run;
    row.first_day = run.first;
    row.last_day = run.last;
    row.mode = "count";
    row.started = "2024-06-01T02:30:00Z";
    row.ended = row.started;
    for (Day day = run.first; day <= run.last; ++day) {
      const bool open =
          std::find(run.open.begin(), run.open.end(), day) != run.open.end();
      ledger.days.push_back({run.run, "1", day, open ? 0 : 5, {5}, !open});
    }
  }
  return ledger;
}

TEST(CollectWindowTest, WindowsAndRefusalsFollowTheLedger) {
  struct Case {
    std::string what;
    WindowRequest request;
    ledger::LedgerContents ledger;
    // The window planned, or nothing when refused.
    std::optional<std::pair<Day, Day>> window;
    std::vector<Day> done;
    std::string note;  // a part of one of the notes; "" for none expected
  };
  WindowRequest since_last;
  since_last.since_last = true;
  since_last.today = June(20);
  WindowRequest given;
  given.from = June(5);
  given.to = June(8);
  given.today = June(20);
  WindowRequest partial = since_last;
  partial.partial_day = true;
  WindowRequest late = since_last;
  late.today = static_cast<Day>(automation::DateSerial(2024, 7, 31));
  WindowRequest future = given;
  future.to = June(21);
  WindowRequest recount = given;
  recount.recount = true;
  // As ledgers kept before wrote a day whose log was missing: whole, with
  // nothing read.
  ledger::LedgerContents locked_empty = LedgerOf({{1, June(8), June(9), {}}});
  locked_empty.days[0].hits = 0;
  // The site's first runs, killed (or cancelled before the site): their
  // windows are recorded, no day of the site is.
  auto stopped_before = [](std::vector<std::pair<Day, std::string>> runs) {
    ledger::LedgerContents ledger;
    for (const auto& [first, sites] : runs) {
      ledger::RunRow& row = ledger.runs.emplace_back();
      row.run_id = std::ssize(ledger.runs);
      row.first_day = first;
      row.last_day = first + 2;
      row.sites = sites;
      row.mode = first == June(1) ? "raw" : "count";
    }
    return ledger;
  };

  const std::vector<Case> cases = {
      {"never counted: yesterday",
       since_last,
       LedgerOf({}),
       std::pair{June(19), June(19)},
       {},
       "no day of it is counted yet"},
      {"a first run stopped before the site: back to its first day",
       since_last,
       stopped_before({{June(16), "2,1"}, {June(14), "1"}, {June(1), "1"}}),
       std::pair{June(14), June(19)},
       {},
       "starts with 2024-06-14, the first day an earlier run"},
      {"a first run stopped before another site: yesterday",
       since_last,
       stopped_before({{June(16), "2,11"}}),
       std::pair{June(19), June(19)},
       {},
       "no day of it is counted yet"},
      {"a stopped first run older than the look-back: back 31 days",
       late,
       stopped_before({{June(2), "1"}}),
       std::pair{static_cast<Day>(automation::DateSerial(2024, 6, 30)),
                 late.today - 1},
       {},
       "starts with 2024-06-30"},
      {"after the last day counted",
       since_last,
       LedgerOf({{1, June(10), June(15), {}}}),
       std::pair{June(16), June(19)},
       {},
       ""},
      {"back to a day not counted whole, over the days counted",
       since_last,
       LedgerOf({{1, June(10), June(15), {June(12)}}}),
       std::pair{June(12), June(19)},
       {June(13), June(14), June(15)},
       "--since-last goes back to 2024-06-12"},
      {"only days not counted whole, none before",
       since_last,
       LedgerOf({{1, June(17), June(18), {June(17), June(18)}}}),
       std::pair{June(17), June(19)},
       {},
       "goes back to 2024-06-17"},
      {"an open day older than the look-back stays behind",
       late,
       LedgerOf({{1,
                  June(1),
                  static_cast<Day>(automation::DateSerial(2024, 7, 30)),
                  {June(5)}}}),
       std::pair{late.today, late.today - 1},
       {},
       "nothing to collect"},
      {"today with --partial-day",
       partial,
       LedgerOf({{1, June(10), June(19), {}}}),
       std::pair{June(20), June(20)},
       {},
       ""},
      {"a ledger started on the 10th",
       since_last,
       LedgerOf({}, June(10)),
       std::pair{June(10), June(19)},
       {},
       ""},
      {"the days given",
       given,
       LedgerOf({{1, June(1), June(4), {}}}),
       std::pair{June(5), June(8)},
       {},
       ""},
      {"a day given that is counted whole",
       given,
       LedgerOf({{1, June(8), June(9), {}}}),
       std::nullopt,
       {},
       ""},
      {"a day locked with nothing read",
       given,
       locked_empty,
       std::pair{June(5), June(8)},
       {},
       ""},
      {"a day given that is open",
       given,
       LedgerOf({{1, June(8), June(9), {June(8)}}}),
       std::pair{June(5), June(8)},
       {},
       ""},
      {"days given before the ledger's start",
       given,
       LedgerOf({}, June(7)),
       std::nullopt,
       {},
       ""},
      {"recounted on purpose",
       recount,
       LedgerOf({{1, June(8), June(9), {}}}),
       std::pair{June(5), June(8)},
       {},
       ""},
      {"a day to come", future, LedgerOf({}), std::nullopt, {}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> notes;
    const ledger::CountedDays counted(c.ledger);
    std::optional<std::vector<SiteWindow>> windows =
        PlanWindows(c.request, {"Site,D:\\Logs,1"}, c.ledger, counted, notes);
    ASSERT_EQ(windows.has_value(), c.window.has_value());
    if (!windows) continue;
    ASSERT_EQ(windows->size(), 1u);
    const SiteWindow& window = windows->front();
    EXPECT_EQ(window.first, c.window->first);
    EXPECT_EQ(window.last, c.window->second);
    EXPECT_EQ(window.done, c.done);
    bool noted = c.note.empty() && notes.empty();
    for (const std::string& note : notes) {
      noted = noted || (!c.note.empty() && testing::Contains(note, c.note));
    }
    EXPECT_TRUE(noted) << (notes.empty() ? "no note" : notes.front());
  }
}

TEST(CollectWindowTest, TheCommitCheckFindsDaysCommittedByARunNotKnown) {
  testing::TempDir tmp("collect_window_test");
  const std::string path =
      ledger::LedgerPath(tmp.path().string(), "SRV1", false);
  ASSERT_TRUE(ledger::CreateLedger(path));
  auto write = [&](const ledger::LedgerContents& rows) {
    auto session = ado::Session::Begin();
    ledger::LedgerStore store(*session, session->Attach(path));
    for (const ledger::RunRow& run : rows.runs) {
      store.AddRun(run);
      store.EndRun(run.run_id, run.ended, ledger::Outcome::kCompleted, 0);
    }
    for (const ledger::DayRow& day : rows.days) store.AddDay(day);
    session->Commit();
  };
  // Run 1 was there when run 3 was planned; run 2 committed meanwhile.
  const ledger::LedgerContents known = LedgerOf({{1, June(1), June(2), {}}});
  write(known);
  write(LedgerOf({{2, June(3), June(4), {June(4)}}}));

  struct Case {
    std::vector<ledger::DayRow> days;  // of run 3
    bool refused;
  };
  const std::vector<Case> cases = {
      {{{3, "1", June(3), 7, {7}, true}}, true},    // run 2 counted it
      {{{3, "1", June(4), 7, {7}, true}}, false},   // run 2 read none of it
      {{{3, "1", June(2), 7, {7}, true}}, false},   // run 1 was known
      {{{3, "2", June(3), 7, {7}, true}}, false},   // another site
      {{{3, "1", June(3), 0, {0}, false}}, false},  // run 3 counted none
  };
  for (const Case& c : cases) {
    auto session = ado::Session::Begin();
    ledger::LedgerStore store(*session, session->Attach(path));
    bool raised = false;
    try {
      CheckNothingCountedMeanwhile(store, known, c.days, false);
    } catch (const automation::AutomationError& error) {
      raised = true;
      EXPECT_TRUE(testing::Contains(error.description(),
                                    "2024-06-03 of site 1 by run 2"))
          << error.description();
    }
    EXPECT_EQ(raised, c.refused) << ledger::DayText(c.days[0].day);
    session->Rollback();
  }
}

}  // namespace
}  // namespace velnor::host
