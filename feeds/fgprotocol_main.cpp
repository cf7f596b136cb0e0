// skyvane-fgprotocol: writes the FlightGear protocol file for a mapping file, so that the record FlightGear
// sends and the record skyvane-sim expects are always made from the same list.
#include "BridgeMapping.h"
#include "CommandLine.h"
#include "DataDirectory.h"
#include "FileWrite.h"
#include "SkyvaneVersion.h"

#include <cstdio>
#include <string>
#include <variant>

int main(int argc, char** argv) {
  CLI::App app;
  cli::configure(app, "skyvane-fgprotocol", SKYVANE_VERSION, "Usage: skyvane-fgprotocol [MAPPING] [-o FILE]");
  app.description(
      "Writes the FlightGear protocol file (skyvane.xml) for a mapping file; without MAPPING, for the\n"
      "mapping skyvane-sim --feed flightgear uses: flightgear.map in the data directory, else the built-in\n"
      "one. Writes to standard output unless -o names a file.");
  std::string input;
  std::string output;
  app.add_option("MAPPING", input, "the mapping file to make the protocol of")->type_name("");
  app.add_option("-o", output, "the file to write")->type_name("FILE");
  if (const auto exit = cli::parse(app, argc, argv)) {
    return *exit;
  }

  const Result<feeds::Mapping> mapping =
      input.empty() ? feeds::loadMapping(feeds::MappingFlavour::FlightGear, settings::dataDirectory())
                    : feeds::loadMappingFile(input, feeds::MappingFlavour::FlightGear);
  if (!mapping) {
    std::fprintf(stderr, "skyvane-fgprotocol: %s\n", mapping.error().c_str());
    return 1;
  }

  const std::string xml = feeds::flightGearProtocol(*mapping);
  if (output.empty()) {
    if (std::fwrite(xml.data(), 1, xml.size(), stdout) != xml.size() || std::fflush(stdout) != 0) {
      std::perror("skyvane-fgprotocol: cannot write the protocol to the standard output");
      return 1;
    }
    return 0;
  }
  if (const auto written = settings::replaceFile(output, xml, settings::Durability::Cached); !written) {
    std::fprintf(stderr, "skyvane-fgprotocol: %s\n", written.error().c_str());
    return 1;
  }
  return 0;
}
