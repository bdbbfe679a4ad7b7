// The ledger through its public interface: a real ledger file made here,
// rows written and read back through a database session as a run and a
// report use them, and what the rows say about days and files.
#include <gtest/gtest.h>

#include <filesystem>

#include "ledger/counted_days.h"
#include "ledger/ledger_files.h"
#include "ledger/ledger_schema.h"
#include "ledger/ledger_store.h"
#include "platform/automation/error_state.h"
#include "platform/automation/ole_date.h"
#include "testing/test_support.h"

namespace velnor::ledger {
namespace {

namespace fs = std::filesystem;
using testing::QueryRows;
using testing::Rows;

Day June(int day) {
  return static_cast<Day>(automation::DateSerial(2024, 6, day));
}

// The start of the text of the log the runs below read.
const std::string kHead =
    "#Software: Microsoft Internet Information " + std::string(150, 'x');

RunRow StartedRun(int64_t id, Day first, Day last, const std::string& mode,
                  bool partial) {
  RunRow run;
  run.run_id = id;
  run.server = "SRV1";
  run.sites = "1";
  run.first_day = first;
  run.last_day = last;
  run.mode = mode;
  run.partial_day = partial;
  run.started = "2024-06-12T02:30:00Z";
  return run;
}

class LedgerTest : public ::testing::Test {
 protected:
  std::string Path() const {
    return LedgerPath(tmp_.path().string(), "SRV1", false);
  }

  // Writes `write` into the ledger in one session, as a run does.
  template <class Write>
  void InSession(Write write) {
    auto session = ado::Session::Begin();
    LedgerStore store(*session, session->Attach(Path()));
    write(store);
    session->Commit();
  }

  LedgerContents ReadBack() {
    auto session = ado::Session::BeginReading(1000);
    LedgerStore store(*session, session->Attach(Path()));
    LedgerContents contents = store.ReadAll();
    session->Commit();
    return contents;
  }

  // A run of site 1 over `first`..`last` whose file u_ex.log was read
  // from `from` to `to`; today's day counted in part when `partial`.
  void CountedRun(int64_t id, Day first, Day last, int64_t from, int64_t to,
                  bool partial) {
    InSession([&](LedgerStore& store) {
      store.AddRun(StartedRun(id, first, last, "count", partial));
      for (Day day = first; day <= last; ++day) {
        store.AddDay(
            {id, "1", day, 10, {7, 1, 2, 0}, !(partial && day == last)});
      }
      store.AddFile({id, "1", id % 2 ? "u_ex.log" : "U_EX.LOG.gz", to,
                     "2024-06-12T02:00:00Z", 100,
                     HeadChecksum(std::string_view(kHead).substr(0, 100)), from,
                     to, "2024-06-10 00:00:01", "2024-06-11 10:00:00", 9,
                     /*line_checksums=*/{}});
      store.EndRun(id, "2024-06-12T02:31:00Z", Outcome::kCompleted, 20);
    });
  }

  testing::TempDir tmp_{"ledger_test"};
};

TEST_F(LedgerTest, NamesDaysAndANewLedgerMadeOnceAndWhole) {
  EXPECT_EQ(LedgerFileName("web01.example.com", true),
            "velnor_ledger_web01.example.com_ftp.sqlite");
  std::optional<LedgerName> name =
      ParseLedgerFileName(LedgerFileName("SRV1", false));
  ASSERT_TRUE(name);
  EXPECT_EQ(name->server, "SRV1");
  EXPECT_FALSE(name->is_ftp);
  EXPECT_FALSE(ParseLedgerFileName("velnor_ledger__web.sqlite"));
  EXPECT_FALSE(ParseLedgerFileName("QDX_UAWebLogHitsByHour_SRV1.mdb"));

  EXPECT_EQ(DayText(June(3)), "2024-06-03");
  EXPECT_EQ(ParseDayText("2024-06-03"), June(3));
  for (const char* bad : {"2024-02-30", "2024-6-03", "2024-06-0x", ""}) {
    EXPECT_EQ(ParseDayText(bad), -1) << bad;
  }

  EXPECT_TRUE(CreateLedger(Path()));
  EXPECT_FALSE(CreateLedger(Path()));
  EXPECT_EQ(QueryRows(Path(),
                      "SELECT name FROM sqlite_schema WHERE type = 'table' "
                      "ORDER BY name"),
            (Rows{{"run_days"}, {"run_files"}, {"runs"}}));
  // Nothing is left behind in the folder but the ledger itself.
  int files = 0;
  for (const auto& entry : fs::directory_iterator(tmp_.path())) {
    EXPECT_EQ(entry.path().filename(), LedgerFileName("SRV1", false));
    ++files;
  }
  EXPECT_EQ(files, 1);
  EXPECT_THROW(CreateLedger(tmp_.path().string() + "/no/such/folder/x"),
               automation::AutomationError);
}

TEST_F(LedgerTest, RunsFilesAndDaysReadBackAsWritten) {
  ASSERT_TRUE(CreateLedger(Path()));
  InSession([&](LedgerStore& store) {
    EXPECT_EQ(store.NextRunId(), 1);
    RunRow run = StartedRun(1, June(3), June(5), "raw", false);
    run.sites = "1,2";
    store.AddRun(run);
    EXPECT_EQ(store.NextRunId(), 2);
  });
  CountedRun(2, June(10), June(11), 0, 500, true);
  const LedgerContents ledger = ReadBack();
  ASSERT_EQ(ledger.runs.size(), 2u);
  const RunRow& started = ledger.runs[0];
  EXPECT_EQ(started.sites, "1,2");
  EXPECT_EQ(started.first_day, June(3));
  EXPECT_EQ(started.mode, "raw");
  EXPECT_EQ(started.ended, "");
  EXPECT_EQ(started.outcome, Outcome::kInterrupted);
  EXPECT_EQ(ledger.runs[1].outcome, Outcome::kCompleted);
  EXPECT_EQ(ledger.runs[1].records, 20);
  EXPECT_TRUE(ledger.runs[1].partial_day);
  ASSERT_EQ(ledger.files.size(), 1u);
  EXPECT_EQ(ledger.files[0].head_checksum,
            HeadChecksum(std::string_view(kHead).substr(0, 100)));
  EXPECT_EQ(ledger.files[0].end_offset, 500);
  EXPECT_EQ(ledger.files[0].last_record, "2024-06-11 10:00:00");
  ASSERT_EQ(ledger.days.size(), 2u);
  EXPECT_EQ(ledger.days[1].day, June(11));
  EXPECT_FALSE(ledger.days[1].complete);
  EXPECT_EQ(ledger.days[1].hits_by_class[2], 2);
  // As plain text for other programs: days and times sort as they read.
  EXPECT_EQ(QueryRows(Path(), "SELECT log_day, complete FROM run_days"),
            (Rows{{"2024-06-10", "1"}, {"2024-06-11", "0"}}));
}

TEST_F(LedgerTest, APartDayGoesOnFromTheFurthestReadingOfItsRuns) {
  ASSERT_TRUE(CreateLedger(Path()));
  // 10 June whole; 11 June at 10:00 and at 23:00 (each run went on from
  // the last); then a run of the 12th that read the same file to its end.
  CountedRun(1, June(10), June(10), 0, 300, false);
  CountedRun(2, June(11), June(11), 0, 400, true);
  CountedRun(3, June(11), June(11), 400, 900, true);
  CountedRun(4, June(12), June(12), 0, 2000, true);
  const CountedDays days(ReadBack());

  EXPECT_EQ(days.LastCompleteDay("1"), June(10));
  EXPECT_FALSE(days.LastCompleteDay("2"));
  EXPECT_EQ(days.DaysOf("1").at(June(11)).runs, (std::vector<int64_t>{2, 3}));
  EXPECT_EQ(days.DaysOf("1").at(June(11)).hits, 20);
  EXPECT_TRUE(days.DaysOf("2").empty());

  // The log is known by its text, whatever its name (the runs read it as
  // u_ex.log and, compressed, as U_EX.LOG.gz), also grown since.
  const std::vector<const FileRow*> log = days.RowsOfLog("1", kHead + "more");
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[3]->run_id, 4);
  EXPECT_EQ(days.CountedParts("1", log, June(1), June(30)),
            (std::vector<std::pair<Day, int64_t>>{{June(11), 900},
                                                  {June(12), 2000}}));
  EXPECT_TRUE(days.CountedParts("1", log, June(10), June(10)).empty());
  // Another log, one shorter than the head read, another site's.
  for (const std::string& other :
       {"#Software: Microsoft Internet Information " + std::string(150, 'y'),
        kHead.substr(0, 99), std::string()}) {
    EXPECT_TRUE(days.RowsOfLog("1", other).empty()) << other;
  }
  EXPECT_TRUE(days.RowsOfLog("2", kHead).empty());
  ASSERT_NE(days.LatestFile("1", "U_ex.log"), nullptr);
  EXPECT_EQ(days.LatestFile("1", "U_ex.log")->run_id, 3);

  // Once the 11th is counted whole, it is complete and no longer a part.
  CountedRun(5, June(11), June(11), 900, 1000, false);
  const CountedDays later(ReadBack());
  EXPECT_EQ(later.LastCompleteDay("1"), June(11));
  std::vector<DaySpan> spans = later.CompleteSpans("1", June(1), June(30));
  ASSERT_EQ(spans.size(), 1u);
  EXPECT_EQ(spans[0].first, June(10));
  EXPECT_EQ(spans[0].last, June(11));
  EXPECT_EQ(spans[0].runs, (std::vector<int64_t>{1, 2, 3, 5}));
  EXPECT_EQ(SpansOf({June(1), June(2), June(4)}).size(), 2u);
}

}  // namespace
}  // namespace velnor::ledger
