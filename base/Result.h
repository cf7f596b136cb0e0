// How a function outside the engine and the link API says that it failed: a Result<T> holds either the value
// or a Problem, one line for a user that names the file, option, address or peer concerned. (The engine and
// the panel throw; the link API answers true/false with a result code.)
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <variant>

struct Problem {
  std::string text;
};

template <class T>
class [[nodiscard]] Result {
public:
  Result(T value) : m_state(std::in_place_index<0>, std::move(value)) {}            // NOLINT: implicit by design
  Result(Problem problem) : m_state(std::in_place_index<1>, std::move(problem)) {}  // NOLINT

  bool ok() const { return m_state.index() == 0; }
  explicit operator bool() const { return ok(); }

  // The value; only when ok().
  T& value() & { return std::get<0>(m_state); }
  const T& value() const& { return std::get<0>(m_state); }
  T&& value() && { return std::get<0>(std::move(m_state)); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

  // What went wrong; only when !ok().
  const std::string& error() const { return std::get<1>(m_state).text; }

private:
  std::variant<T, Problem> m_state;
};

// Success, or what went wrong.
template <>
class [[nodiscard]] Result<void> {
public:
  Result() = default;
  Result(Problem problem) : m_problem(std::move(problem)) {}  // NOLINT: implicit by design

  bool ok() const { return !m_problem.has_value(); }
  explicit operator bool() const { return ok(); }
  const std::string& error() const { return m_problem.value().text; }

private:
  std::optional<Problem> m_problem;
};
