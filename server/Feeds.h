// The feeds of skyvane-sim: what fills the offset space at start and what keeps it moving.
#pragma once

#include "FeedSource.h"
#include "OffsetSpace.h"

#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

struct FeedOptions {
  std::string spec = "demo";                // none | demo | replay:FILE | ...
  std::string aircraft = "single";          // demo: single | twin | turboprop
  double speed = 1;                         // demo: how much faster than real time its clock runs
  std::uint32_t seed = 1;                   // demo: the same seed gives the same flight
  std::string listenAddress = "127.0.0.1";  // the UDP bridges' interface
};

struct Feed {
  std::vector<std::unique_ptr<FeedSource>> sources;  // driven by the server's loop
  std::string description;                           // for the line that says where the server listens
};

// Sets the space up for the feed and makes its sources; an error text when the options make no feed.
std::variant<Feed, std::string> makeFeed(const FeedOptions& options, OffsetSpace& space);

// A steady cruise of a light twin: every catalogue variable at a plausible value.
void applyCruise(OffsetSpace& space);
