// The tick rig.
#include "TickRig.h"

#include "Catalogue.h"
#include "SimLink.h"

#include <climits>
#include <stdexcept>
#include <string>

TickRig::TickRig(const std::function<void(settings::Settings&)>& configure)
    : server("UIPCMAIN", INT_MAX, FakeServer::After::Answer) {
  if (configure) {
    configure(settings);
  }
  gauges::buildPanel(panel, settings, states);
  instruments = std::make_unique<instruments::InstrumentTick>(panel.nodes(), settings, states);
  SimLinkResult result{};
  if (!SimLinkOpen(0, result)) {
    throw std::runtime_error("the rig's link does not open: " + std::string(SimLinkResultName(result)));
  }
}

TickRig::~TickRig() {
  SimLinkClose();
}

namespace {

const catalogue::Row& rowNamed(std::string_view fullName) {
  const auto row = catalogue::findByFullName(fullName);
  if (!row) {
    throw std::invalid_argument("no catalogue row " + std::string(fullName));
  }
  return catalogue::kRows[*row];
}

}  // namespace

void TickRig::set(std::string_view fullName, long double value) {
  server.space().setPhysical(rowNamed(fullName), value);
}

long double TickRig::get(std::string_view fullName) const {
  return const_cast<FakeServer&>(server).space().physical(rowNamed(fullName));
}

float storedRoll(long double degrees) {
  return TGLBaseSceneObject::normalizeAngle(static_cast<float>(degrees));
}
