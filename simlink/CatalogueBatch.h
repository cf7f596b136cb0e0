// One tick's reads of the whole catalogue: a destination of each row's size, queued in catalogue order and
// sent with one exchange. Holds no heap memory; a batch may be reused tick after tick.
#pragma once

#include "Catalogue.h"
#include "FeedState.h"
#include "SimLink.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace simlink {

class CatalogueBatch {
public:
  // Queues every row on `link` and sends the batch. True only when every value is fresh; on false the values are
  // the previous successful batch's (or zeros) and the result says why.
  bool fetch(Link& link, SimLinkResult& result);
  // The same on the process's default link.
  bool fetch(SimLinkResult& result) { return fetch(defaultLink(), result); }

  long double value(std::size_t row) const {
    return catalogue::toPhysical(catalogue::kRows[row], m_raw.data() + kSlots[row]);
  }
  const std::uint8_t* raw(std::size_t row) const { return m_raw.data() + kSlots[row]; }
  // The feed-state block of the last successful batch, as the server wrote it (decodeFeedState reads it;
  // all zeros from a server that does not publish it).
  std::span<const std::uint8_t, kFeedStateSize> feedStateBlock() const {
    return std::span(m_raw).last<kFeedStateSize>();
  }

private:
  static constexpr auto kSlots = [] {
    std::array<std::uint32_t, catalogue::kRows.size() + 1> slots{};
    for (std::size_t i = 0; i < catalogue::kRows.size(); ++i) {
      slots[i + 1] = slots[i] + catalogue::kRows[i].size();
    }
    return slots;
  }();
  // The feed-state block follows the rows' values.
  static constexpr std::uint32_t kRawSize = kSlots.back() + kFeedStateSize;

  // Reads land in `m_incoming`, so a failed exchange leaves the last good values in place.
  std::array<std::uint8_t, kRawSize> m_raw{};
  std::array<std::uint8_t, kRawSize> m_incoming{};
};

}  // namespace simlink
