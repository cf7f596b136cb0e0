// What the substitute server's offset space holds when no one has set anything: a feed.
#pragma once

#include "OffsetSpace.h"

#include <optional>
#include <string_view>

enum class Feed { None, Demo };

std::optional<Feed> parseFeed(std::string_view name);

// `None` leaves only the version words; `Demo` fills a steady, plausible cruise of a light twin.
void applyFeed(Feed feed, OffsetSpace& space);
