// What every benchmark program needs: a monotonic clock in microseconds and order statistics of samples.
#pragma once

#include <algorithm>
#include <ctime>
#include <vector>

inline double nowUs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) * 1e6 + static_cast<double>(ts.tv_nsec) / 1e3;
}

// The sample at fraction p (0..1) of the sorted samples; 0 for none.
inline double percentile(std::vector<double> samples, double p) {
  if (samples.empty()) {
    return 0;
  }
  std::sort(samples.begin(), samples.end());
  return samples[static_cast<std::size_t>(p * static_cast<double>(samples.size() - 1) + 0.5)];
}

inline double median(const std::vector<double>& samples) {
  return percentile(samples, 0.5);
}

struct Stats {
  double median;
  double p99;
};

inline Stats stats(const std::vector<double>& samples) {
  return {median(samples), percentile(samples, 0.99)};
}
