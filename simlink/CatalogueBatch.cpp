// Queueing and sending the catalogue batch.
#include "CatalogueBatch.h"

namespace simlink {

bool CatalogueBatch::fetch(Link& link, SimLinkResult& result) {
  for (std::size_t i = 0; i < catalogue::kRows.size(); ++i) {
    const catalogue::Row& row = catalogue::kRows[i];
    if (!link.read(row.offset, row.size(), m_incoming.data() + kSlots[i], result)) {
      return false;
    }
  }
  if (!link.read(kFeedStateOffset, kFeedStateSize, m_incoming.data() + kSlots.back(), result) ||
      !link.process(result)) {
    return false;
  }
  m_raw = m_incoming;
  return true;
}

}  // namespace simlink
