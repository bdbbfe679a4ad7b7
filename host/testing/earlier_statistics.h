// Test support: SQL that puts a server's statistics database (a folder's
// file or a store's schema) back in the earlier design, one row per client,
// time-taken value or URL of a run's day, so that tests can check such a
// database is read alike and upgraded by a run, init-db and migrate.
#ifndef VELNOR_HOST_TESTING_EARLIER_STATISTICS_H_
#define VELNOR_HOST_TESTING_EARLIER_STATISTICS_H_

#include <array>
#include <string>

namespace velnor::host {

// Builds the SQL: it starts by dropping the three packed tables and making
// them again, empty, in the earlier design; each Add* then appends a row
// for the run and site of the day_totals row `which` selects (SQL text
// after "FROM day_totals", such as "WHERE log_day = '2024-06-01'"). Texts
// are quoted for both SQLite and PostgreSQL.
class EarlierStatisticsSql {
 public:
  EarlierStatisticsSql();

  void AddVisitor(const std::string& which, const std::string& client);
  void AddTimeTaken(const std::string& which, long ms, long hits);
  // `figures`: the URL's 404s, 5xx and time taken in ms.
  void AddUrl(const std::string& which, const std::string& url,
              const std::array<long, 3>& figures);

  const std::string& sql() const { return sql_; }

 private:
  void Add(const std::string& table, const std::string& which,
           const std::string& values);

  std::string sql_;
};

}  // namespace velnor::host

#endif  // VELNOR_HOST_TESTING_EARLIER_STATISTICS_H_
