// Recordings of what the server serves: one CSV line per 100 ms, the time in seconds and every catalogue
// value by name in its physical unit, with a header line; and their replay, interpolated between lines and
// looping at the end.
#pragma once

#include "FeedSource.h"
#include "Result.h"

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace feeds {

// A recording read into memory. Malformed lines are skipped; the first kDescribedLines of them are described in
// `warnings` with their line numbers ("FILE:12: ..."), the rest counted in one more.
inline constexpr std::size_t kDescribedLines = 20;

struct Recording {
  std::vector<std::size_t> rows;            // catalogue row of each value column
  std::vector<double> times;                // seconds, strictly increasing
  std::vector<std::vector<double>> values;  // one vector per line, one value per column
  std::vector<std::string> warnings;
};

// The recording in the text, or why it cannot be played at all (no header naming the time and at least one
// catalogue variable, or no well-formed line).
Result<Recording> parseRecording(const std::string& text, const std::string& fileName);
Result<Recording> loadRecording(const std::string& path);

// Plays a recording by the wall clock from its first line, looping.
class ReplayFeed final : public server::FeedSource {
public:
  enum class Play { Interpolate, Step, OnceWhenItsLineComes };

  explicit ReplayFeed(Recording recording);
  Clock::time_point nextStep() const override { return m_next; }
  void step(server::OffsetSpace& space, Clock::time_point now) override;
  // The values at `seconds` into the recording (looped), written into the space.
  void storeAt(double seconds, server::OffsetSpace& space);

private:
  Recording m_recording;
  std::vector<Play> m_play;  // per column
  Clock::time_point m_start;
  Clock::time_point m_next;
  std::size_t m_lastLine = static_cast<std::size_t>(-1);
  bool m_pilotSaid = false;  // a knob turned on a panel was said to be ignored
};

// Writes what the space holds every 100 ms. A line that cannot be written (a full disk) ends the recording:
// said once on stderr, and kept in failure() for the program's exit status. A pipe or another non-file is
// written without waiting: lines its reader has not taken wait in memory (about two minutes of them), and
// lines beyond that are dropped, said once, and counted into failure() at finish().
class Recorder final : public server::FeedSource {
public:
  // Opens the file without changing it yet (refusing a link at its name); the text says why it could not.
  static Result<std::unique_ptr<Recorder>> create(const std::string& path);
  // Empties a file, writes the header and starts the clock: the first line is due at once.
  Result<void> start();
  // create and start.
  static Result<std::unique_ptr<Recorder>> open(const std::string& path);
  ~Recorder() override;
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;
  Clock::time_point nextStep() const override { return m_next; }
  void step(server::OffsetSpace& space, Clock::time_point now) override;
  // One line for `seconds`, as step writes it; false once the recording has failed.
  bool writeLine(double seconds, const server::OffsetSpace& space);
  // Closes the file; false (and failure() says why) when a line or the file's end was not written.
  bool finish();
  // Empty while every line has been written.
  const std::string& failure() const { return m_failure; }
  // Lines dropped because a reader did not take them.
  std::size_t dropped() const { return m_dropped; }

private:
  Recorder(int fd, std::string path);
  void fail(const char* what);
  // Writes what waits; true when it is written or the reader will take it later.
  bool writePending();
  int m_fd;
  std::string m_path;
  std::string m_failure;
  bool m_waitless = false;  // not a file: written without waiting for the reader
  std::string m_pending;    // whole lines the reader has not taken yet
  std::size_t m_dropped = 0;
  Clock::time_point m_start;                            // set by start()
  Clock::time_point m_next = Clock::time_point::max();  // nothing is due before start()
};

// The header of a recording: "time," and every catalogue variable's name.
std::string recordingHeader();

}  // namespace feeds
