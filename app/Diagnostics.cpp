// --check-config and --check-link.
#include "Diagnostics.h"

#include "CatalogueBatch.h"
#include "Settings.h"
#include "SimLink.h"

namespace app {

int checkConfig(const std::string& path, std::FILE* out, std::FILE* err) {
  const settings::SettingsLoad load = settings::loadSettings(path);
  for (const std::string& line : settings::describeSettings(load.settings)) {
    std::fprintf(out, "%s\n", line.c_str());
  }
  for (const std::string& warning : load.warnings) {
    std::fprintf(err, "skyvane-gauges: config.ini: %s\n", warning.c_str());
  }
  for (const std::string& problem : settings::unworkableScales(load.settings)) {
    std::fprintf(out, "warning: %s\n", problem.c_str());
  }
  return 0;
}

int checkLink(std::FILE* out, std::FILE* err) {
  SimLinkResult result = SimLinkOk;
  if (!SimLinkOpen(0, result)) {
    std::fprintf(err, "skyvane-gauges: cannot open the simulator link: %s (%u)\n",
                 std::string(SimLinkResultName(result)).c_str(), static_cast<unsigned>(result));
    return 1;
  }
  static simlink::CatalogueBatch batch;
  const bool fetched = batch.fetch(result);
  SimLinkClose();
  if (!fetched) {
    std::fprintf(err, "skyvane-gauges: the catalogue batch failed: %s (%u)\n",
                 std::string(SimLinkResultName(result)).c_str(), static_cast<unsigned>(result));
    return 1;
  }
  for (std::size_t i = 0; i < catalogue::kRows.size(); ++i) {
    const catalogue::Row& row = catalogue::kRows[i];
    std::fprintf(out, "0x%04X %s %.10Lg%s%s\n", static_cast<unsigned>(row.offset), catalogue::fullName(row).c_str(),
                 batch.value(i), row.unit.empty() ? "" : " ", std::string(row.unit).c_str());
  }
  return 0;
}

}  // namespace app
