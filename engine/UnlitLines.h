// Helper lines drawn unlit in one colour (a dummy cube's edges, line node markers): the scope begins
// GL_LINES after setting the state up, and ends and restores it when it closes.
#pragma once

#include "GeometrySink.h"

namespace engine {

class UnlitLines {
public:
  UnlitLines(GeometrySink& sink, const vm::Vec4& color) : m_sink(sink) {
    m_sink.beginUnlitLines(color);
    m_sink.begin(GL_LINES);
  }
  ~UnlitLines() {
    m_sink.end();
    m_sink.endLines();
  }
  UnlitLines(const UnlitLines&) = delete;
  UnlitLines& operator=(const UnlitLines&) = delete;

  void segment(float x0, float y0, float z0, float x1, float y1, float z1) const {
    m_sink.vertex(x0, y0, z0);
    m_sink.vertex(x1, y1, z1);
  }

private:
  GeometrySink& m_sink;
};

}  // namespace engine
