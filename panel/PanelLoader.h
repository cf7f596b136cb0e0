// Loads a panel description (the text format of GLScene1.panel) into a scene, through the scene's loading
// mode: stored values are written as they are, angles are stored with the orientation they stand for.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

class TGLScene;

namespace panel {

class PanelFormatError : public std::runtime_error {
public:
  PanelFormatError(int line, const std::string& what)
      : std::runtime_error("panel description, line " + std::to_string(line) + ": " + what),
        m_line(line) {}
  int line() const { return m_line; }

private:
  int m_line;
};

// Adds every node of the description under the scene's roots (cameras under CameraRoot). Throws
// PanelFormatError for a description it cannot read; named nodes must be unique.
void loadPanel(TGLScene& scene, std::string_view description);

// The description built into the program.
std::string_view builtInPanelDescription();

}  // namespace panel
