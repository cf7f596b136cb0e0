// The command-line conventions of the programs without Qt, on CLI11: --help and --version print and exit 0;
// any other fault names the option, is printed as "PROGRAM: MESSAGE (see --help)" and exits 2.
#pragma once

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace cli {

inline constexpr int kUsageError = 2;
inline constexpr std::size_t kNameColumn = 30;
inline constexpr std::size_t kTextColumns = 70;  // of an option's description, after the name column

// Each line of `text` broken at blanks to at most `columns` characters; a word longer than that stands alone.
inline std::string wrapped(const std::string& text, std::size_t columns) {
  std::string out;
  std::size_t lineStart = 0;
  while (lineStart <= text.size()) {
    const std::size_t lineEnd = std::min(text.find('\n', lineStart), text.size());
    std::string_view line(text.data() + lineStart, lineEnd - lineStart);
    while (line.size() > columns) {
      std::size_t cut = line.rfind(' ', columns);
      if (cut == std::string_view::npos || cut == 0) {
        cut = line.find(' ', columns);
        if (cut == std::string_view::npos) {
          break;
        }
      }
      out.append(line.substr(0, cut)).push_back('\n');
      line.remove_prefix(cut + 1);
    }
    out.append(line);
    if (lineEnd < text.size()) {
      out.push_back('\n');
    }
    lineStart = lineEnd + 1;
  }
  return out;
}

// CLI11's help with every description wrapped, and validators not repeated after the value's name.
class Formatter final : public CLI::Formatter {
public:
  explicit Formatter(std::string usage) : m_usage(std::move(usage)) {}
  std::string make_usage(const CLI::App* app, std::string name) const override {
    return m_usage.empty() ? CLI::Formatter::make_usage(app, std::move(name)) : m_usage + "\n";
  }
  std::string make_option_desc(const CLI::Option* option) const override {
    return wrapped(option->get_description(), kTextColumns);
  }
  std::string make_option_opts(const CLI::Option* option) const override {
    return option->get_type_name().empty() || option->get_expected_min() == 0 ? "" : " " + option->get_type_name();
  }

private:
  std::string m_usage;
};

// A program's parser with the house conventions: one column wide enough for the longest option, `--version`
// printing "PROGRAM VERSION", and the usage lines given (CLI11's own when empty).
inline void configure(CLI::App& app, const std::string& program, const std::string& version,
                      const std::string& usage = {}) {
  app.name(program);
  app.set_help_flag("-h,--help", "show this text");
  app.set_version_flag("--version", program + " " + version, "show the version");
  auto formatter = std::make_shared<Formatter>(usage);
  formatter->column_width(kNameColumn);
  formatter->label("OPTIONS", "OPTION");
  app.formatter(formatter);
  app.option_defaults()->always_capture_default(false);
}

// Prints "PROGRAM: MESSAGE (see --help)" and gives the exit status of a usage error.
inline int usage(const CLI::App& app, const std::string& message) {
  std::fprintf(stderr, "%s: %s (see --help)\n", app.get_name().c_str(), message.c_str());
  return kUsageError;
}

// Parses argv; nothing when the program goes on, else the status to exit with (0 after --help or --version).
inline std::optional<int> parse(CLI::App& app, int argc, char** argv) {
  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& done) {
    return app.exit(done);
  } catch (const CLI::ParseError& error) {
    return usage(app, error.what());
  }
  return std::nullopt;
}

}  // namespace cli
