// Connection and Recordset on a plain SQLite file: opening, the values that
// come back, the cursor and field errors, and statements of one shape with
// different literals (which share a cached plan) giving their own results,
// and the pages read cached where the engine says.
#include "platform/ado/ado.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/ado/page_region.h"
#include "testing/raised_error.h"
#include "testing/test_support.h"

namespace velnor::ado {
namespace {

using automation::AutomationError;
using automation::Date;
using automation::Null;
using automation::Variant;
using testing::ErrorOf;

class AdoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::WriteFile(path_, "");
    testing::ExecSql(path_,
                     "CREATE TABLE t (\"Name\" TEXT COLLATE NOCASE, "
                     "\"Count\" INTEGER, \"Share\" REAL);"
                     "INSERT INTO t VALUES ('a', 1, 0.5), ('b', 2, NULL),"
                     " ('c', 3, 1.5);"
                     "CREATE TABLE u (Key TEXT NOT NULL, Value INTEGER);");
    cn_ = std::make_shared<Connection>();
    cn_->SetProvider(kJetProvider);
    cn_->Open(path_);
  }

  std::shared_ptr<Recordset> Query(std::string_view sql) {
    auto rs = std::make_shared<Recordset>();
    rs->SetActiveConnection(cn_);
    rs->SetLockType(adLockOptimistic);
    rs->Open(sql);
    return rs;
  }

  testing::TempDir tmp_{"ado_test"};
  const std::string dir_ = tmp_.path().string();
  const std::string path_ = dir_ + "/test.mdb";
  std::shared_ptr<Connection> cn_;
};

TEST_F(AdoTest, OpenRefusesWhatIsNotAJetDatabaseFile) {
  Connection cn;
  EXPECT_EQ(ErrorOf([&] { cn.Open(path_); }).number(), kErrProviderNotFound);

  cn.SetProvider("microsoft.jet.oledb.4.0");
  AutomationError e = ErrorOf([&] { cn.Open(dir_ + "/none.mdb"); });
  EXPECT_EQ(e.number(), kErrUnspecified);
  EXPECT_EQ(e.description(), "Could not find file '" + dir_ + "/none.mdb'.");
  EXPECT_FALSE(std::filesystem::exists(dir_ + "/none.mdb"));

  testing::WriteFile(dir_ + "/text.mdb",
                     "not a database, just some text here\n");
  e = ErrorOf([&] { cn.Open(dir_ + "/text.mdb"); });
  EXPECT_EQ(e.number(), kErrUnspecified);
  EXPECT_NE(e.description().find("Unrecognized database format '" + dir_ +
                                 "/text.mdb'"),
            std::string::npos);
  EXPECT_EQ(cn.State(), adStateClosed);

  cn.Open(path_);
  EXPECT_EQ(cn.State(), adStateOpen);
  EXPECT_EQ(ErrorOf([&] { cn.Open(path_); }).number(), kErrObjectOpen);
}

TEST_F(AdoTest, ReadsValuesByTypeAndNamesWithoutRegardToCase) {
  auto rs = Query(
      "select Name, Count, Share, Count * 3000000000 as Big "
      "from t where name = 'B'");
  ASSERT_FALSE(rs->Eof());
  EXPECT_EQ(rs->Fields("NAME").Value(), Variant("b"));
  EXPECT_EQ(rs->Fields("count").Value(), Variant(int32_t{2}));
  EXPECT_EQ(rs->Fields("Share").Value(), Variant(Null{}));
  EXPECT_EQ(rs->Fields("big").Value(), Variant(int64_t{6000000000}));
  EXPECT_EQ(ErrorOf([&] { rs->Fields("Missing"); }).number(), kErrItemNotFound);
  rs->MoveNext();
  EXPECT_TRUE(rs->Eof());
  EXPECT_EQ(ErrorOf([&] { rs->Fields("Name").Value(); }).number(),
            kErrNoCurrentRecord);
  EXPECT_EQ(ErrorOf([&] { rs->MoveNext(); }).number(), kErrNoCurrentRecord);
  rs->Close();
  EXPECT_EQ(ErrorOf([&] { rs->Eof(); }).number(), kErrObjectClosed);
}

TEST_F(AdoTest, SameShapeWithOtherLiteralsGivesItsOwnRows) {
  // Two look-ups of one shape open at once, then the shape reused.
  auto first = Query("select Count from t where Name = 'a'");
  auto second = Query("select Count from t where Name = 'c'");
  EXPECT_EQ(first->Fields("Count").Value(), Variant(int32_t{1}));
  EXPECT_EQ(second->Fields("Count").Value(), Variant(int32_t{3}));
  first->Close();
  second->Close();
  for (int count : {1, 2, 3}) {
    auto rs =
        Query("select Name from t where Count = " + std::to_string(count));
    EXPECT_EQ(rs->Fields("Name").Value(),
              Variant(std::string(1, static_cast<char>('a' + count - 1))));
  }
  // Many more shapes than the cache keeps, between uses of a known one.
  for (int i = 0; i < 600; ++i) {
    // Appended, not "c" + ...: GCC 12 warns falsely (-Wrestrict) of the
    // operator+ of a literal and a temporary in optimised builds.
    std::string column = "c";
    column += std::to_string(i);
    auto rs = Query("select Count as " + column + " from t where Name = 'b'");
    ASSERT_EQ(rs->Fields(column).Value(), Variant(int32_t{2}));
    rs->Close();
    rs = Query("select Name from t where Count = " + std::to_string(i % 3 + 1));
    ASSERT_EQ(rs->Fields("Name").Value(),
              Variant(std::string(1, static_cast<char>('a' + i % 3))));
  }
  // A number after ORDER BY is a column position, not a value.
  auto ordered = Query("select Name, Count from t order by 2 desc");
  EXPECT_EQ(ordered->Fields("Name").Value(), Variant("c"));
}

TEST_F(AdoTest, CommandStoresBorrowedTextsByTheirViewAndShowsThemInItsText) {
  // Views into a longer text: only the viewed bytes are stored.
  const std::string texts = "it's|key and more";
  Command insert(cn_, "insert into u values (?, ?)");
  insert.SetBorrowedText(1, std::string_view(texts).substr(0, 4));
  insert.SetParameter(2, Variant(int32_t{7}));
  EXPECT_EQ(insert.Text(), "insert into u values ('it''s', 7)");
  insert.Execute();
  insert.SetBorrowedText(1, std::string_view(texts).substr(5, 3));
  insert.Execute();
  // A value set afterwards replaces the borrowed text, in the row and in
  // the text.
  insert.SetParameter(1, Variant("x"));
  EXPECT_EQ(insert.Text(), "insert into u values ('x', 7)");
  insert.Execute();
  std::vector<std::string> keys;
  for (auto rs = Query("select Key from u order by rowid"); !rs->Eof();
       rs->MoveNext()) {
    keys.push_back(automation::CStr(rs->Fields("Key").Value()));
  }
  EXPECT_EQ(keys, (std::vector<std::string>{"it's", "key", "x"}));
}

// The pages read go into the region the engine gives SQLite's page cache,
// not into memory SQLite takes from malloc page by page; the region is
// handed out only as far as pages are cached, and the pages of a closed
// connection serve the next one.
TEST_F(AdoTest, CachesThePagesItReadsInTheEnginesRegion) {
  EXPECT_FALSE(Query("select * from t")->Eof());
  const PageRegionUse reading = PageRegionInUse();
  EXPECT_GT(reading.pages, 0u);
  EXPECT_GE(reading.bytes_touched, reading.pages * 4096);
  EXPECT_LT(reading.bytes_touched, reading.bytes / 16);

  cn_->Close();
  EXPECT_LT(PageRegionInUse().pages, reading.pages);
  cn_->Open(path_);
  EXPECT_FALSE(Query("select * from t")->Eof());
  const PageRegionUse again = PageRegionInUse();
  EXPECT_EQ(again.pages, reading.pages);
  EXPECT_EQ(again.bytes_touched, reading.bytes_touched);
}

TEST_F(AdoTest, AddNewStoresTypedValuesIntoTheSourceTable) {
  auto rs = Query("select * from t");
  rs->AddNew();
  rs->Fields("name").SetValue("d");
  rs->Fields("Count").SetValue(true);
  rs->Fields("Share").SetValue(Date{39153.5});
  EXPECT_EQ(ErrorOf([&] { rs->Fields("Other"); }).number(), kErrItemNotFound);
  rs->Update();
  rs->AddNew();
  rs->Fields("Name").SetValue("e");
  rs->CancelUpdate();
  rs->Close();

  auto check = Query("select Count, Share from t where Name = 'D'");
  EXPECT_EQ(check->Fields("Count").Value(), Variant(int32_t{-1}));
  EXPECT_EQ(check->Fields("Share").Value(), Variant(39153.5));
  check->Close();
  EXPECT_TRUE(Query("select * from t where Name = 'e'")->Eof());

  auto lookup = Query("select Name from t where Count = 1");
  EXPECT_EQ(ErrorOf([&] { lookup->AddNew(); }).number(), kErrNotUpdatable);
}

TEST_F(AdoTest, RefusedQueriesSayWhyAndRunNothingAfterTheFirstStatement) {
  const std::pair<std::string, std::string> kCases[] = {
      {"select * from tblMissing",
       "cannot find the input table or query 'tblMissing'"},
      {"select Count from t where [Nothing] = 1",
       "No value given for one or more required parameters"},
      {"select Count frm t", "syntax error"},
      {"select * from t; delete from t",
       "Characters found after end of SQL statement."},
  };
  for (const auto& [sql, why] : kCases) {
    AutomationError e = ErrorOf([&, &sql = sql] { Query(sql); });
    EXPECT_NE(e.number(), 0) << sql;
    EXPECT_NE(e.description().find(why), std::string::npos) << e.description();
  }
  EXPECT_EQ(Query("select Name from t where Count = 3")->Fields("Name").Value(),
            Variant("c"));
}

// SQLite files have no bulk load: the connection says so, and a copy is
// refused without a row written, which a caller then inserts instead.
TEST_F(AdoTest, AFileWithoutABulkLoadSaysSoAndRefusesACopy) {
  EXPECT_FALSE(cn_->BulkLoads());
  const std::vector<Engine::CopyRow> rows = {{"k", "1"}};
  bool asked = false;
  EXPECT_FALSE(cn_->CopyRows("u", {"Key", "Value"}, [&] {
    asked = true;
    return &rows;
  }));
  EXPECT_FALSE(asked);
  cn_->Close();
  EXPECT_EQ(testing::QueryRows(path_, "select count(*) from u"),
            (testing::Rows{{"0"}}));
  EXPECT_EQ(ErrorOf([&] { cn_->BulkLoads(); }).number(), kErrObjectClosed);
}

TEST_F(AdoTest, ExecuteRunsOneStatementAndClosingEndsTheRecordsets) {
  cn_->Execute("Update T set [Count]= 7 where [Name]='A'");
  EXPECT_EQ(ErrorOf([&] {
              cn_->Execute("Update t set Count = 1; drop table t");
            }).number(),
            kErrSyntax);
  EXPECT_EQ(ErrorOf([&] { cn_->Execute("   "); }).number(), kErrSyntax);
  auto rs = Query("select Count from t where Name = 'a'");
  EXPECT_EQ(rs->Fields("Count").Value(), Variant(int32_t{7}));
  cn_->Close();
  EXPECT_EQ(rs->State(), adStateClosed);
  EXPECT_EQ(ErrorOf([&] { cn_->Close(); }).number(), kErrObjectClosed);
  EXPECT_EQ(ErrorOf([&] { Query("select * from t"); }).number(),
            kErrConnectionInvalid);
  EXPECT_EQ(testing::QueryRows(path_, "select Count from t where Name = 'a'"),
            (testing::Rows{{"7"}}));
}

TEST_F(AdoTest, OpenRecordsetKeepsItsValuesAfterTheSqlTextIsGone) {
  cn_->Execute("Update t set Name = 'it''s' where Count = 2");
  std::shared_ptr<Recordset> rs;
  {
    std::string sql =
        "select Count from t where Name = 'IT''S' or Name = 'c' order by 1";
    rs = Query(sql);
    sql.assign(sql.size(), 'x');
  }
  // Each row is found by testing the literals again.
  EXPECT_EQ(rs->Fields("Count").Value(), Variant(int32_t{2}));
  rs->MoveNext();
  EXPECT_EQ(rs->Fields("Count").Value(), Variant(int32_t{3}));
  rs->MoveNext();
  EXPECT_TRUE(rs->Eof());
}

TEST_F(AdoTest, NewRowsStoreJustTheirOwnColumnsAfterARefusedRow) {
  auto rs = Query("select * from u");
  rs->AddNew();
  rs->Fields("Key").SetValue("a key longer than a short string's own room");
  rs->Fields("Value").SetValue(int32_t{1});
  rs->Update();
  rs->AddNew();
  rs->Fields("Value").SetValue(int32_t{2});
  EXPECT_EQ(rs->Fields("Key").Value(), Variant(Null{}));
  EXPECT_EQ(ErrorOf([&] { rs->Update(); }).number(), kErrRowRefused);
  rs->CancelUpdate();
  rs->AddNew();
  rs->Fields("Key").SetText("b");
  rs->Update();
  rs->AddNew();
  rs->Fields("Key").SetValue("c");
  rs->Fields("Value").SetText("3");  // the column's affinity makes it 3
  rs->Update();
  rs->Close();

  auto check = Query("select Key, Value from u order by rowid");
  std::vector<std::pair<Variant, Variant>> rows;
  for (; !check->Eof(); check->MoveNext()) {
    rows.emplace_back(check->Fields("Key").Value(),
                      check->Fields("Value").Value());
  }
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].first,
            Variant("a key longer than a short string's own room"));
  EXPECT_EQ(rows[0].second, Variant(int32_t{1}));
  EXPECT_EQ(rows[1].first, Variant("b"));
  EXPECT_EQ(rows[1].second, Variant(Null{}));
  EXPECT_EQ(rows[2].first, Variant("c"));
  EXPECT_EQ(rows[2].second, Variant(int32_t{3}));
}

}  // namespace
}  // namespace velnor::ado
