// skyvane-fgprotocol: writes the FlightGear protocol file for a mapping file, so that the record FlightGear
// sends and the record skyvane-sim expects are always made from the same list.
#include "BridgeMapping.h"
#include "DataDirectory.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <variant>

int main(int argc, char** argv) {
  std::string input;
  std::string output;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::printf(
          "Usage: skyvane-fgprotocol [MAPPING] [-o FILE]\n"
          "Writes the FlightGear protocol file (skyvane.xml) for a mapping file; without MAPPING, for the\n"
          "mapping skyvane-sim --feed flightgear uses: flightgear.map in the data directory, else the built-in\n"
          "one. Writes to standard output unless -o names a file.\n");
      return 0;
    }
    if (std::strcmp(argv[i], "-o") == 0 && i + 1 < argc) {
      output = argv[++i];
    } else if (argv[i][0] != '-' && input.empty()) {
      input = argv[i];
    } else {
      std::fprintf(stderr, "skyvane-fgprotocol: unknown argument \"%s\" (see --help)\n", argv[i]);
      return 2;
    }
  }

  std::variant<Mapping, std::string> mapping;
  if (input.empty()) {
    mapping = loadMapping(MappingFlavour::FlightGear, dataDirectory());
  } else {
    std::ifstream file(input, std::ios::binary);
    if (!file) {
      std::fprintf(stderr, "skyvane-fgprotocol: cannot read %s\n", input.c_str());
      return 1;
    }
    std::ostringstream text;
    text << file.rdbuf();
    mapping = parseMapping(text.str(), MappingFlavour::FlightGear);
    if (auto* parsed = std::get_if<Mapping>(&mapping)) {
      const auto slash = input.find_last_of('/');
      parsed->origin = slash == std::string::npos ? input : input.substr(slash + 1);
    } else {
      mapping = input + ": " + std::get<std::string>(mapping);
    }
  }
  if (auto* error = std::get_if<std::string>(&mapping)) {
    std::fprintf(stderr, "skyvane-fgprotocol: %s\n", error->c_str());
    return 1;
  }

  const std::string xml = flightGearProtocol(std::get<Mapping>(mapping));
  if (output.empty()) {
    std::fwrite(xml.data(), 1, xml.size(), stdout);
    return 0;
  }
  std::ofstream file(output, std::ios::binary | std::ios::trunc);
  if (!(file << xml) || !file.flush()) {
    std::fprintf(stderr, "skyvane-fgprotocol: cannot write %s\n", output.c_str());
    return 1;
  }
  return 0;
}
