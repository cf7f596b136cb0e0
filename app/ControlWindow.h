// The control window: one button per gauge window on a fixed grid, the anti-aliasing trackbar and its label,
// the "start masked" check box, and under them a status line that says what the link and the simulator are
// doing. It only lays out and forwards; the panel decides what the controls do and what the line says.
#pragma once

#include "GaugeTable.h"

#include <QWidget>

#include <array>
#include <functional>

class QCheckBox;
class QLabel;
class QPushButton;
class QSlider;

namespace app {

class ControlWindow final : public QWidget {
public:
  ControlWindow();

  // ButtonN for N = 1..36.
  QPushButton& button(int number) { return *m_buttons.at(static_cast<std::size_t>(number - 1)); }
  QSlider& trackBar() { return *m_trackBar; }
  QLabel& label() { return *m_label; }
  QCheckBox& startMasked() { return *m_startMasked; }

  // The status line: `text` (plain), then, when `suggestButtons`, how to show a gauge, and when `logPath` is
  // not empty a link that opens that file. The panel calls it only when something changed.
  void setStatus(const QString& text, bool suggestButtons, const QString& logPath);
  // What the line says, as plain text (its accessible description too).
  QString statusText() const;

  // Runs when the window is closed, before the program ends.
  void setCloseHandler(std::function<void()> handler) { m_onClose = std::move(handler); }
  // Runs once, from the event loop, after the window's first picture has gone to the screen.
  void setFirstShownHandler(std::function<void()> handler) { m_onFirstShown = std::move(handler); }

protected:
  void closeEvent(QCloseEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

private:
  void fitCaptions();

  std::array<QPushButton*, gauges::kGauges.size()> m_buttons{};  // by button number - 1: one per gauge
  QSlider* m_trackBar = nullptr;
  QLabel* m_label = nullptr;
  QCheckBox* m_startMasked = nullptr;
  QLabel* m_status = nullptr;
  QString m_statusPlain;
  std::function<void()> m_onClose;
  std::function<void()> m_onFirstShown;
};

}  // namespace app
