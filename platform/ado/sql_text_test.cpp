// The literal lifting that keys the statement cache: a literal taken for
// part of a name, or a name taken for a literal, would run a different
// query than the one written.
#include "platform/ado/sql_text.h"

#include <gtest/gtest.h>

namespace velnor::ado {
namespace {

TEST(SqlTextTest, LiftsLiteralsButNotNamesCommentsOrPositions) {
  SqlShape shape;
  LiftLiterals(
      "select [No of Hits] from tblGeneral where [Identifier]='1' And "
      "URL = 'O''Brien''s' And Hours = 9 And x2 = -1.5e3 -- it's\n"
      "And \"col 7\" = 12345678901234567890 And b = x'0A' order by 2, 1",
      shape);
  EXPECT_EQ(shape.pattern.text,
            "select [No of Hits] from tblGeneral where [Identifier]=? And "
            "URL = ? And Hours = ? And x2 = -? -- it's\n"
            "And \"col 7\" = ? And b = x'0A' order by 2, 1");
  ASSERT_EQ(shape.literals.size(), 5u);
  EXPECT_EQ(shape.literals[0].kind, SqlLiteral::Kind::kText);
  EXPECT_EQ(shape.literals[0].text, "1");
  EXPECT_EQ(shape.literals[1].text, "O'Brien's");
  EXPECT_EQ(shape.literals[2].kind, SqlLiteral::Kind::kInteger);
  EXPECT_EQ(shape.literals[2].integer, 9);
  EXPECT_EQ(shape.literals[3].kind, SqlLiteral::Kind::kReal);
  EXPECT_DOUBLE_EQ(shape.literals[3].real, 1500.0);
  // Too large for 64 bits: a real, as SQLite reads it.
  EXPECT_EQ(shape.literals[4].kind, SqlLiteral::Kind::kReal);

  // Reusing the shape starts afresh; an unterminated literal stays, also
  // one whose last apostrophe is half of a doubled one.
  LiftLiterals("select 'abc", shape);
  EXPECT_EQ(shape.pattern.text, "select 'abc");
  EXPECT_TRUE(shape.literals.empty());
  LiftLiterals("select 'ab''", shape);
  EXPECT_EQ(shape.pattern.text, "select 'ab''");
  EXPECT_TRUE(shape.literals.empty());
}

// Whenever the quick way succeeds it must give what the full scan gives.
TEST(SqlTextTest, LiftingLikeAKnownStatementAgreesWithTheFullScan) {
  struct Case {
    const char* known;
    const char* sql;
    bool quick;  // expected to take the quick way
  };
  const Case cases[] = {
      {"select [No of Hits] from tblGeneral where [Identifier]='1' And "
       "URL = '/a' And Hours = 9",
       "select [No of Hits] from tblGeneral where [Identifier]='12' And "
       "URL = 'O''Brien''s' And Hours = 1.5e3",
       true},
      {"x = 1 -- it's\n and y = 'a' order by 2",
       "x = 7 -- it's\n and y = '' "
       "order by 2",
       true},
      {"x = 1 order by 2", "x = 5 order by 3", false},
      // A point-led number after a name: "a5" is a name, not a literal.
      {"select a.5", "select a5", false},
      {"v = 9", "v = 9abc", false},
      {"v = 'a'", "v = 'a", false},
      {"v = 'a' and w = 'b'", "v = 'a'' and w = ''b'", false},
      {"v = 'a' and w = 'b'", "v = 'a' and w = 'b' ; drop", false},
      {"v = 'a'", "v = 7", false},
  };
  for (const Case& test : cases) {
    SqlShape known;
    LiftLiterals(test.known, known);
    SqlShape quick;
    bool matched = LiftLiteralsLike(known.pattern, test.sql, quick);
    EXPECT_EQ(matched, test.quick) << test.sql;
    if (!matched) continue;
    SqlShape full;
    LiftLiterals(test.sql, full);
    EXPECT_EQ(full.pattern.text, known.pattern.text) << test.sql;
    ASSERT_EQ(quick.literals.size(), full.literals.size()) << test.sql;
    for (size_t i = 0; i < full.literals.size(); ++i) {
      EXPECT_EQ(quick.literals[i].kind, full.literals[i].kind) << test.sql;
      EXPECT_EQ(quick.literals[i].text, full.literals[i].text) << test.sql;
      EXPECT_EQ(quick.literals[i].integer, full.literals[i].integer);
      EXPECT_EQ(quick.literals[i].real, full.literals[i].real);
    }
  }
}

TEST(SqlTextTest, StatementEndsAndWholeTableSources) {
  EXPECT_TRUE(IsEmptyTail(""));
  EXPECT_TRUE(IsEmptyTail(" ; -- done\n /* really */ ;"));
  EXPECT_FALSE(IsEmptyTail("; delete from tblGeneral"));

  EXPECT_EQ(BareTableOf("select * from tblGeneral"), "tblGeneral");
  EXPECT_EQ(BareTableOf("  SELECT  *  FROM [tbl Log Files] ; "),
            "tbl Log Files");
  EXPECT_EQ(BareTableOf("select * from tblLogFiles where [Server name] = 'a'"),
            std::nullopt);
  EXPECT_EQ(BareTableOf("select URL from tblGeneral"), std::nullopt);

  EXPECT_EQ(StatementTable("Update tblgeneral set [No of Hits]= 5"),
            "tblgeneral");
  EXPECT_EQ(StatementTable("select count(*) as RecCount from [tblLogFiles]"),
            "tblLogFiles");
}

}  // namespace
}  // namespace velnor::ado
