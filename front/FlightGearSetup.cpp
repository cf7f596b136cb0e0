// Finding FlightGear, and its protocol file.
#include "FlightGearSetup.h"

#include "BridgeMapping.h"
#include "DataDirectory.h"
#include "FileWrite.h"
#include "TextFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

namespace front {
namespace {

constexpr const char* kDebianRoot = "/usr/share/games/flightgear";

bool isDirectory(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// "FG_ROOT=/some/where" in what `fgfs --version` prints, or empty.
std::string rootFromFgfs() {
  const std::unique_ptr<FILE, int (*)(FILE*)> fgfs(::popen("fgfs --version 2>/dev/null", "r"), ::pclose);
  if (!fgfs) {
    return {};
  }
  char line[4096];
  while (std::fgets(line, sizeof line, fgfs.get()) != nullptr) {
    std::string text(line);
    if (text.starts_with("FG_ROOT=")) {
      text = text.substr(8);
      while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
      }
      return text;
    }
  }
  return {};
}

std::string installedPath(const std::string& root) {
  return root + "/Protocol/skyvane.xml";
}

}  // namespace

Result<std::string> flightGearRoot() {
  if (const char* root = std::getenv("FG_ROOT"); root != nullptr && *root != '\0') {
    if (!isDirectory(root)) {
      return Problem{std::string("FG_ROOT is ") + root + ", which is no folder"};
    }
    return std::string(root);
  }
  if (isDirectory(kDebianRoot)) {
    return std::string(kDebianRoot);
  }
  if (std::string root = rootFromFgfs(); !root.empty() && isDirectory(root)) {
    return root;
  }
  return Problem{"FlightGear's data folder was not found: install FlightGear, or set FG_ROOT"};
}

Result<std::string> currentProtocol() {
  const Result<feeds::Mapping> mapping =
      feeds::loadMapping(feeds::MappingFlavour::FlightGear, settings::dataDirectory());
  if (!mapping) {
    return Problem{mapping.error()};
  }
  return feeds::flightGearProtocol(*mapping);
}

Result<std::string> installProtocol(const std::string& root) {
  const Result<std::string> xml = currentProtocol();
  if (!xml) {
    return xml;
  }
  const std::string folder = root + "/Protocol";
  if (!isDirectory(folder)) {
    ::mkdir(folder.c_str(), 0755);
  }
  if (::access(folder.c_str(), W_OK) == 0) {
    if (auto written = settings::replaceFile(installedPath(root), *xml, settings::Durability::Flushed); !written) {
      return Problem{written.error()};
    }
    return "installed " + installedPath(root);
  }
  // No right to write there: the file goes to the data directory, and the user runs one command.
  const std::string kept = settings::dataDirectory() + "/skyvane.xml";
  if (auto written = settings::replaceFile(kept, *xml, settings::Durability::Flushed); !written) {
    return Problem{written.error()};
  }
  // Quoted for the shell it is pasted into: a folder's name may hold spaces or quotes.
  const auto quoted = [](const std::string& path) {
    std::string q = "'";
    for (const char c : path) {
      q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return q + "'";
  };
  // Nothing was installed: said as a failure (a non-zero exit), with the command that does it.
  return Problem{"no permission to write " + folder + "; the protocol file is kept in " + kept +
                 ", install it with:\n  sudo install -m 644 " + quoted(kept) + " " + quoted(installedPath(root))};
}

std::string protocolWarning(const std::string& root) {
  const Result<std::string> xml = currentProtocol();
  if (!xml) {
    return xml.error();
  }
  const settings::TextFileRead installed = settings::readTextFile(installedPath(root), 1 << 20);
  if (installed.status != settings::TextFileRead::Status::Read) {
    return "FlightGear has no Skyvane protocol (" + installedPath(root) +
           "): run \"skyvane flightgear --install-protocol\" once";
  }
  if (installed.text != *xml) {
    return installedPath(root) +
           " is not the protocol of the mapping in use (a changed mapping?): run \"skyvane flightgear "
           "--install-protocol\" again";
  }
  return {};
}

}  // namespace front
