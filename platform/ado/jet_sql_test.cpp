// The Jet SQL scanner: tables found and pointed at a schema, whole-table
// sources, and values written into a statement, none of it fooled by
// literals and names that look like SQL.
#include "platform/ado/jet_sql.h"

#include <gtest/gtest.h>

#include <string>

namespace velnor::ado {
namespace {

TEST(JetSqlTest, QualifiesEveryTableOutsideLiteralsAndNames) {
  const std::string p = "\"db1\".";
  EXPECT_EQ(QualifyTables("select * from tblGeneral", p),
            "select * from \"db1\".tblGeneral");
  EXPECT_EQ(QualifyTables("Update tblgeneral set [No of Hits]= 2 where "
                          "URL='from x' And [from y]=1",
                          p),
            "Update \"db1\".tblgeneral set [No of Hits]= 2 where "
            "URL='from x' And [from y]=1");
  EXPECT_EQ(
      QualifyTables("INSERT INTO [tbl Log] (a) VALUES ('it''s from z')", p),
      "INSERT INTO \"db1\".[tbl Log] (a) VALUES ('it''s from z')");
  EXPECT_EQ(QualifyTables("select a FROM\n  \"t\" JOIN u on 1 -- from v", p),
            "select a FROM\n  \"db1\".\"t\" JOIN \"db1\".u on 1 -- from v");
  // Already qualified, or a subquery rather than a table.
  EXPECT_EQ(QualifyTables("select * from main.t", p), "select * from main.t");
  EXPECT_EQ(QualifyTables("select * from (select 1)", p),
            "select * from (select 1)");
}

TEST(JetSqlTest, FindsWholeTableSourcesAndStatementTables) {
  EXPECT_EQ(BareTable("select * from tblGeneral"), "tblGeneral");
  EXPECT_EQ(BareTable("  SELECT  *  FROM  [tbl Log] ; "), "tbl Log");
  EXPECT_EQ(BareTable("select * from \"a\"\"b\""), "a\"\"b");
  EXPECT_EQ(BareTable("select * from t where 1"), std::nullopt);
  EXPECT_EQ(BareTable("select a from t"), std::nullopt);

  EXPECT_EQ(StatementTable("insert into [tblGeneral] (x) values (1)"),
            "tblGeneral");
  EXPECT_EQ(StatementTable("Update tblgeneral set x = 'from y'"), "tblgeneral");
  EXPECT_EQ(StatementTable("select 'into t'"), "");

  EXPECT_TRUE(IsEmptyTail(" ; -- done\n;/* end */"));
  EXPECT_FALSE(IsEmptyTail("; delete from t"));
}

TEST(JetSqlTest, WritesValuesOnlyWhereMarkersStand) {
  // Appended, not "<" + ...: GCC 12 warns falsely (-Wrestrict) of the
  // operator+ of a literal and a temporary in optimised builds.
  auto literal = [](int index) {
    return std::string("<").append(std::to_string(index)).append(">");
  };
  EXPECT_EQ(FillParameters("a=? And b = '?' And [c?]=? And d=?", literal),
            "a=<1> And b = '?' And [c?]=<2> And d=<3>");
  EXPECT_EQ(FillParameters("no markers", literal), "no markers");
}

TEST(JetSqlTest, PostgresSqlLowersNamesAndNumbersMarkersOutsideLiterals) {
  EXPECT_EQ(PostgresSql("Update \"s\".tblgeneral set [No of Hits]= ? where "
                        "[Identifier]=? And URL='[A]?' And \"Day Of\"\"x\" = ?",
                        "\"s\""),
            "Update \"s\".tblgeneral set \"no of hits\"= $1 where "
            "\"identifier\"=$2 And URL='[A]?' And \"day of\"\"x\" = $3");
  // The session's temporary schema and SQLite's typeof, found only where
  // they are one.
  EXPECT_EQ(PostgresSql("select typeof(x), temp from temp.t where "
                        "'typeof(' = [temp]",
                        "\"s\""),
            "select \"s\".typeof(x), temp from pg_temp.t where "
            "'typeof(' = \"temp\"");
}

}  // namespace
}  // namespace velnor::ado
