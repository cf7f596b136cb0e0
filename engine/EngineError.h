// Errors of the scene engine. Their texts are fixed: they reach the user in the application's error box.
#pragma once

#include <stdexcept>
#include <string>

namespace engine {

class EngineError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

}  // namespace engine
