// Recording and replaying what the server serves.
#include "Recording.h"

#include "Catalogue.h"
#include "PanelFrame.h"
#include "TextFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <sstream>

namespace feeds {

namespace {

constexpr auto kRecordInterval = std::chrono::milliseconds(100);
constexpr auto kReplayInterval = std::chrono::milliseconds(20);
constexpr std::size_t kMaxFileBytes = 512u << 20;
// Lines a reader that does not read may fall behind by: about two minutes of recording.
constexpr std::size_t kMaxPendingBytes = 1u << 20;

// States and counts are not halfway between two lines: they take the earlier line's value; a page request is
// made once, when its line comes (the panel clears it after reading).
ReplayFeed::Play playOf(std::size_t row) {
  if (catalogue::kRows[row].name == "fuelStatsSelector") {
    return ReplayFeed::Play::OnceWhenItsLineComes;
  }
  static const std::string_view kSteps[] = {"vor1ToFrom",  "vor2ToFrom", "vor1GlideValid", "vor2GlideValid",
                                            "powerSwitch", "running",    "rpmScaler"};
  const bool step = std::find(std::begin(kSteps), std::end(kSteps), catalogue::kRows[row].name) != std::end(kSteps);
  return step ? ReplayFeed::Play::Step : ReplayFeed::Play::Interpolate;
}

std::vector<std::string_view> splitCommas(std::string_view line) {
  std::vector<std::string_view> fields;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = line.find(',', start);
    fields.push_back(line.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
    if (comma == std::string_view::npos) {
      return fields;
    }
    start = comma + 1;
  }
}

std::optional<double> number(std::string_view field) {
  while (!field.empty() && (field.front() == ' ' || field.front() == '\t'))
    field.remove_prefix(1);
  while (!field.empty() && (field.back() == ' ' || field.back() == '\t' || field.back() == '\r'))
    field.remove_suffix(1);
  double value = 0;
  const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), value);
  if (error != std::errc() || end != field.data() + field.size() || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

}  // namespace

std::string recordingHeader() {
  std::string header = "time";
  for (const catalogue::Row& row : catalogue::kRows) {
    header += "," + catalogue::fullName(row);
  }
  return header;
}

namespace {

// The header: "time" first, then variable names; columns of unknown names are ignored (each with a warning).
// The catalogue row of every column, in order, with the known ones also in r.rows.
Result<std::vector<std::optional<std::size_t>>> readHeader(std::istringstream& in, std::size_t& lineNumber,
                                                           Recording& r, const std::string& fileName) {
  std::vector<std::optional<std::size_t>> columns;
  std::string line;
  while (std::getline(in, line)) {
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    const auto fields = splitCommas(line);
    if (fields.empty() || fields[0] != "time") {
      return Problem{fileName + ":" + std::to_string(lineNumber) +
                     ": the first line must be the header, starting with \"time\""};
    }
    for (std::size_t i = 1; i < fields.size(); ++i) {
      const auto row = catalogue::findByFullName(fields[i]);
      columns.push_back(row);
      if (row) {
        r.rows.push_back(*row);
      } else {
        r.warnings.push_back(fileName + ":" + std::to_string(lineNumber) + ": unknown variable \"" +
                             std::string(fields[i]) + "\" ignored");
      }
    }
    break;
  }
  if (r.rows.empty()) {
    return Problem{fileName + ": no header naming the time and at least one simulator variable"};
  }
  return columns;
}

}  // namespace

Result<Recording> parseRecording(const std::string& text, const std::string& fileName) {
  Recording r;
  std::istringstream in(text);
  std::string line;
  std::size_t lineNumber = 0;
  auto header = readHeader(in, lineNumber, r, fileName);
  if (!header) {
    return Problem{header.error()};
  }
  const std::vector<std::optional<std::size_t>> columns = std::move(header).value();
  // Values the variable cannot hold are served at its limit, as the bridges serve them; said once, counted.
  std::size_t held = 0;
  std::string firstHeld;
  std::size_t skipped = 0;
  const auto skip = [&](const std::string& why) {
    if (++skipped <= kDescribedLines) {
      r.warnings.push_back(fileName + ":" + std::to_string(lineNumber) + ": " + why + "; line skipped");
    }
  };
  while (std::getline(in, line)) {
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    const auto fields = splitCommas(line);
    if (fields.size() != columns.size() + 1) {
      skip(std::to_string(fields.size()) + " fields where the header has " + std::to_string(columns.size() + 1));
      continue;
    }
    const auto time = number(fields[0]);
    if (!time || (!r.times.empty() && *time <= r.times.back())) {
      skip("the time is not a number after the previous line's");
      continue;
    }
    std::vector<double> values;
    bool good = true;
    std::size_t lineHeld = 0;
    for (std::size_t i = 0; i < columns.size() && good; ++i) {
      if (!columns[i]) continue;
      const auto v = number(fields[i + 1]);
      good = v.has_value();
      values.push_back(v.value_or(0));
      if (good && !catalogue::holds(catalogue::kRows[*columns[i]], wrappedAngle(*columns[i], *v))) {
        if (held + lineHeld == 0) {
          firstHeld = catalogue::fullName(catalogue::kRows[*columns[i]]) + " = " +
                      std::string(fields[i + 1].substr(0, 40)) + " on line " + std::to_string(lineNumber);
        }
        ++lineHeld;
      }
    }
    if (!good) {
      skip("a value is not a number");
      continue;
    }
    held += lineHeld;
    r.times.push_back(*time);
    r.values.push_back(std::move(values));
  }
  if (r.times.empty()) {
    return Problem{fileName + ": no well-formed line to play"};
  }
  if (skipped > kDescribedLines) {
    r.warnings.push_back(fileName + ": " + std::to_string(skipped - kDescribedLines) + " more lines skipped");
  }
  if (held > 0) {
    r.warnings.push_back(fileName + ": " + std::to_string(held) + (held == 1 ? " value is" : " values are") +
                         " beyond what the variable can hold and served at its limit (the first: " + firstHeld + ")");
  }
  return r;
}

Result<Recording> loadRecording(const std::string& path) {
  const settings::TextFileRead read = settings::readTextFile(path, kMaxFileBytes);
  switch (read.status) {
    case settings::TextFileRead::Status::Missing:
      return Problem{"cannot read the recording " + path + ": no such file"};
    case settings::TextFileRead::Status::Failed:
      return Problem{"cannot read the recording " + path + ": " + read.error};
    case settings::TextFileRead::Status::Read:
      break;
  }
  return parseRecording(read.text, path);
}

ReplayFeed::ReplayFeed(Recording recording)
    : m_recording(std::move(recording)),
      m_start(Clock::now()),
      m_next(m_start) {
  for (std::size_t row : m_recording.rows) {
    m_play.push_back(playOf(row));
  }
}

void ReplayFeed::step(server::OffsetSpace& space, Clock::time_point now) {
  std::uint64_t pilotWrites = 0;
  for (std::size_t i = 0; i < catalogue::kPilotSettings.size(); ++i) {
    pilotWrites += space.pilotWrites(i);
  }
  if (pilotWrites != 0 && !m_pilotSaid) {
    // A recording plays what was recorded: a knob turned on a panel is not taken, and that is said once.
    m_pilotSaid = true;
    std::fprintf(stderr, "skyvane-sim: a panel set a knob; a replay plays the recorded settings and ignores it\n");
  }
  storeAt(std::chrono::duration<double>(now - m_start).count(), space);
  m_next = now + kReplayInterval;
}

void ReplayFeed::storeAt(double seconds, server::OffsetSpace& space) {
  const Recording& r = m_recording;
  const double first = r.times.front();
  const double length = r.times.back() - first;
  // Looping: the last line's moment is also the first's, so a time at the end of a lap shows the last line.
  double lap = length > 0 ? std::fmod(std::max(0.0, seconds), length) : 0;
  if (lap == 0 && seconds > 0 && length > 0) {
    lap = length;
  }
  const double t = first + lap;
  // The line at or before t, and the fraction of the way to the next one.
  const auto after = std::upper_bound(r.times.begin(), r.times.end(), t);
  const std::size_t line = after == r.times.begin() ? 0 : static_cast<std::size_t>(after - r.times.begin()) - 1;
  const std::size_t next = std::min(line + 1, r.times.size() - 1);
  const double span = r.times[next] - r.times[line];
  const double f = span > 0 ? (t - r.times[line]) / span : 0;
  const bool newLine = line != m_lastLine;
  m_lastLine = line;
  for (std::size_t c = 0; c < r.rows.size(); ++c) {
    const std::size_t row = r.rows[c];
    const double a = r.values[line][c];
    const double b = r.values[next][c];
    switch (m_play[c]) {
      case Play::OnceWhenItsLineComes:
        if (newLine && a != 0) {
          space.setPhysical(catalogue::kRows[row], wrappedAngle(row, a));
        }
        break;
      case Play::Step:
        space.setPhysical(catalogue::kRows[row], wrappedAngle(row, a));
        break;
      case Play::Interpolate: {
        // b - a overflows for finite values of opposite signs near the largest double; the weighted sum cannot
        // leave the range of a and b but by rounding at its very edge, where the line's own value stands in.
        const double between = a * (1 - f) + b * f;
        space.setPhysical(catalogue::kRows[row], wrappedAngle(row, std::isfinite(between) ? between : a));
        break;
      }
    }
  }
}

Result<std::unique_ptr<Recorder>> Recorder::create(const std::string& path) {
  // The user names the file; a link someone planted at that name is refused, never written through. Not
  // truncated yet: a program that cannot start after all leaves what the file held.
  constexpr int kFlags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC;
  int fd = ::open(path.c_str(), kFlags | O_NONBLOCK, 0644);
  if (fd < 0 && errno == ENXIO) {
    // A FIFO nobody reads yet: the user's own is waited on, said aloud (a reader started after the server);
    // another user's planted in a shared folder is refused before it can hold the start up.
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && st.st_uid != ::geteuid()) {
      return Problem{"the recording " + path + " belongs to another user: not written to"};
    }
    std::fprintf(stderr, "skyvane-sim: waiting for a reader of the recording %s\n", path.c_str());
    fd = ::open(path.c_str(), kFlags, 0644);
  }
  if (fd < 0) {
    return Problem{"cannot write the recording " + path + ": " + std::strerror(errno)};
  }
  // What was opened is judged, not the name: a file someone else made (a 0666 one left in /tmp) would hand
  // them the recording. Devices (/dev/null, a terminal) belong to the system.
  struct stat st {};
  if (::fstat(fd, &st) != 0 || (!S_ISCHR(st.st_mode) && st.st_uid != ::geteuid())) {
    ::close(fd);
    return Problem{"the recording " + path + " belongs to another user: not written to"};
  }
  return std::unique_ptr<Recorder>(new Recorder(fd, path));
}

Result<void> Recorder::start() {
  struct stat st {};
  // A pipe or a device is written as it is; only a file has an old content to drop.
  const bool regular = ::fstat(m_fd, &st) == 0 && S_ISREG(st.st_mode);
  if (regular && ::ftruncate(m_fd, 0) != 0) {
    fail("its header");
    return Problem{m_failure};
  }
  // Anything but a file is written without waiting: a reader that stops reading (a stopped pipeline) must not
  // hold up the server's loop, and with it every panel.
  m_waitless = !regular && ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) | O_NONBLOCK) == 0;
  m_pending = recordingHeader() + "\n";
  if (!writePending()) {
    fail("its header");
    return Problem{m_failure};
  }
  m_start = Clock::now();
  m_next = m_start;
  return {};
}

Result<std::unique_ptr<Recorder>> Recorder::open(const std::string& path) {
  auto created = create(path);
  if (!created) {
    return created;
  }
  if (Result<void> started = (*created)->start(); !started) {
    return Problem{started.error()};
  }
  return created;
}

Recorder::Recorder(int fd, std::string path) : m_fd(fd), m_path(std::move(path)) {}

Recorder::~Recorder() {
  finish();
}

void Recorder::fail(const char* what) {
  if (m_failure.empty()) {
    m_failure = "cannot write " + std::string(what) + " to the recording " + m_path + ": " + std::strerror(errno);
  }
  m_next = Clock::time_point::max();  // nothing more is written
}

bool Recorder::writePending() {
  while (!m_pending.empty()) {
    // A line at a time: to a pipe, a write of at most PIPE_BUF bytes goes whole or not at all, so a reader
    // never sees part of a line, even when the recording stops with lines it has not taken.
    const std::size_t line = std::min(m_pending.find('\n'), m_pending.size() - 1) + 1;
    const ssize_t n = ::write(m_fd, m_pending.data(), line);
    if (n > 0) {
      m_pending.erase(0, static_cast<std::size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && m_waitless && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      return true;  // the reader takes the rest later
    } else {
      if (n == 0) {
        errno = EIO;
      }
      return false;
    }
  }
  return true;
}

bool Recorder::finish() {
  if (m_fd >= 0) {
    // A reader that still has not taken the last lines does not get them: stopping waits for no one.
    if (m_failure.empty() && !writePending()) {
      fail("a line");
    }
    if (::close(m_fd) != 0) {
      fail("its end");
    }
    m_fd = -1;
  }
  if (m_failure.empty() && (m_dropped > 0 || !m_pending.empty())) {
    m_failure = "its reader did not read: ";
    if (m_dropped > 0) {
      m_failure += std::to_string(m_dropped) + " lines were dropped" + (m_pending.empty() ? "" : ", and ");
    }
    if (!m_pending.empty()) {
      m_failure += "the last " + std::to_string(m_pending.size()) + " bytes were not taken";
    }
    m_failure += " (" + m_path + ")";
  }
  return m_failure.empty();
}

void Recorder::step(server::OffsetSpace& space, Clock::time_point now) {
  const std::size_t droppedBefore = m_dropped;
  if (!writeLine(std::chrono::duration<double>(now - m_start).count(), space)) {
    std::fprintf(stderr, "skyvane-sim: %s; the recording stops here, the feed goes on\n", m_failure.c_str());
    return;
  }
  if (droppedBefore == 0 && m_dropped > 0) {
    std::fprintf(stderr, "skyvane-sim: the reader of the recording %s does not read: lines are dropped until it does\n",
                 m_path.c_str());
  }
  m_next += kRecordInterval;
  if (m_next <= now) {
    m_next = now + kRecordInterval;  // a stalled loop does not make up the lines it missed
  }
}

bool Recorder::writeLine(double seconds, const server::OffsetSpace& space) {
  if (!m_failure.empty() || m_fd < 0) {
    return false;
  }
  std::string line;
  const auto add = [&line](const char* format, double value) {
    char field[40];
    const int n = std::snprintf(field, sizeof field, format, value);
    line.append(field, static_cast<std::size_t>(std::clamp(n, 0, static_cast<int>(sizeof field) - 1)));
  };
  add("%.3f", seconds);
  for (const catalogue::Row& row : catalogue::kRows) {
    add(",%.10g", static_cast<double>(space.physical(row)));
  }
  line += '\n';
  // Whole lines only: one that does not fit beside what the reader has yet to take is dropped and counted.
  if (m_pending.size() + line.size() > kMaxPendingBytes) {
    ++m_dropped;
  } else {
    m_pending += line;
  }
  // Written line by line, so that a recording cut short by a crash holds every line but the last.
  if (!writePending()) {
    fail("a line");
    return false;
  }
  return true;
}

}  // namespace feeds
