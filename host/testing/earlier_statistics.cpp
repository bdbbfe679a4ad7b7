// The statistics tables of the earlier design, made and filled with SQL
// that SQLite and PostgreSQL both run.
#include "host/testing/earlier_statistics.h"

#include "dbsupport/db_support.h"

namespace velnor::host {
namespace {

std::string Quoted(std::string_view text) {
  std::string quoted;
  AppendQuotedSQLString(quoted, text);
  return quoted;
}

}  // namespace

EarlierStatisticsSql::EarlierStatisticsSql()
    : sql_(
          "DROP TABLE day_visitors; CREATE TABLE day_visitors (run_id BIGINT "
          "NOT NULL, site TEXT NOT NULL, log_day TEXT NOT NULL, client TEXT "
          "NOT NULL); DROP TABLE day_time_taken; CREATE TABLE day_time_taken "
          "(run_id BIGINT NOT NULL, site TEXT NOT NULL, log_day TEXT NOT "
          "NULL, ms BIGINT NOT NULL, hits BIGINT NOT NULL); DROP TABLE "
          "day_urls; CREATE TABLE day_urls (run_id BIGINT NOT NULL, site TEXT "
          "NOT NULL, log_day TEXT NOT NULL, url TEXT NOT NULL, hits_404 "
          "BIGINT NOT NULL, hits_5xx BIGINT NOT NULL, time_taken_ms BIGINT "
          "NOT NULL);") {}

void EarlierStatisticsSql::AddVisitor(const std::string& which,
                                      const std::string& client) {
  Add("day_visitors", which, Quoted(client));
}

void EarlierStatisticsSql::AddTimeTaken(const std::string& which, long ms,
                                        long hits) {
  Add("day_time_taken", which,
      std::to_string(ms) + ", " + std::to_string(hits));
}

void EarlierStatisticsSql::AddUrl(const std::string& which,
                                  const std::string& url,
                                  const std::array<long, 3>& figures) {
  Add("day_urls", which,
      Quoted(url) + ", " + std::to_string(figures[0]) + ", " +
          std::to_string(figures[1]) + ", " + std::to_string(figures[2]));
}

void EarlierStatisticsSql::Add(const std::string& table,
                               const std::string& which,
                               const std::string& values) {
  sql_ += "INSERT INTO " + table + " SELECT run_id, site, log_day, " + values +
          " FROM day_totals " + which + ";";
}

}  // namespace velnor::host
