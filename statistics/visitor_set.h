// The distinct client addresses (visitors) of a site's day, kept as the
// addresses they stand for: an IPv4 address as its 32 bits, an IPv6 one as
// its 128, in flat hash sets that allocate only when they grow. A c-ip that
// parses as neither (a host name, a garbled field) is kept as its text in a
// small set beside them, so that nothing logged is lost.
//
// Two spellings of one IPv6 address ("::1" and "0:0:0:0:0:0:0:1") are one
// visitor. IPv4 is read only in its one strict spelling (four decimals of
// 0-255 without leading zeros, as the servers log it), so that the set
// counts exactly the distinct texts such addresses are logged as; any other
// spelling ("010.0.0.1") is a text of its own. An IPv4-mapped IPv6 address
// ("::ffff:1.2.3.4") is an IPv6 address, not the IPv4 one.
//
// Packed (Pack) a set is one text: the addresses sorted, in a binary form
// written as base64, so that any engine's text column holds it (PostgreSQL
// text holds no NUL byte).
//
// A busy day's IPv4 set outgrows the cache, so that placing an address in
// it would wait on memory for every record. Insert instead asks for the
// address's slot and places the address at the next Insert, when the slot
// has arrived; until then it waits beside the set, and every method counts
// it in.
#ifndef VELNOR_STATISTICS_VISITOR_SET_H_
#define VELNOR_STATISTICS_VISITOR_SET_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "absl/container/flat_hash_set.h"
#include "absl/numeric/int128.h"
#include "absl/strings/string_view.h"

namespace velnor::statistics {

class VisitorSet {
 public:
  // Adds the client address logged as `text`; allocates only when a set
  // grows.
  void Insert(std::string_view text);
  // Adds every visitor of `other`.
  void Merge(const VisitorSet& other);
  // Adds every visitor of `packed`, a text Pack made. False, with the set
  // holding some of them, when `packed` is not such a text.
  bool MergePacked(std::string_view packed);

  // The number of distinct visitors.
  size_t size() const {
    return v4_.size() + (WaitingIsNew() ? 1 : 0) + v6_.size() + texts_.size();
  }
  bool empty() const { return size() == 0; }

  // The set as one text of base64 characters, the same for the same set
  // whatever order its visitors came in.
  std::string Pack() const;

 private:
  // Whether the waiting address is one v4_ does not hold yet.
  bool WaitingIsNew() const {
    return waiting_v4_ && !v4_.contains(*waiting_v4_);
  }

  absl::flat_hash_set<uint32_t> v4_;
  // The IPv4 address Insert took last, whose slot in v4_ is on its way.
  std::optional<uint32_t> waiting_v4_;
  absl::flat_hash_set<absl::uint128> v6_;
  absl::flat_hash_set<std::string> texts_;
};

}  // namespace velnor::statistics

#endif  // VELNOR_STATISTICS_VISITOR_SET_H_
