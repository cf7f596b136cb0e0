// The control window's fixed layout, in pixels as designed.
#include "ControlWindow.h"

#include "GaugeTable.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QStyle>
#include <QTimer>
#include <QUrl>

#include <utility>

namespace app {

namespace {

constexpr int kClientWidth = 841;
constexpr int kClientHeight = 343;
// The status line below the designed area: two lines of the window's font, so a long hint wraps.
constexpr int kStatusTop = kClientHeight;
constexpr int kStatusHeight = 30;
constexpr int kStatusMargin = 19;
constexpr int kDesignLeft = 367;
constexpr int kDesignTop = 249;
constexpr std::array<int, 6> kColumnLefts = {19, 157, 295, 433, 571, 710};
constexpr std::array<int, 6> kRowTops = {19, 52, 85, 119, 152, 186};
constexpr int kButtonWidth = 115;
constexpr int kButtonHeight = 25;
constexpr int kSmallestCaptionPx = 7;

QString text(std::string_view s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

}  // namespace

ControlWindow::ControlWindow() {
  setObjectName(QStringLiteral("TForm1"));
  setWindowTitle(QStringLiteral("Skyvane Gauges"));
  // A fixed single border with the system menu and minimise only.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  setFixedSize(kClientWidth, kClientHeight + kStatusHeight + 6);
  move(kDesignLeft, kDesignTop);
  QFont font = this->font();
  font.setPixelSize(11);
  setFont(font);

  for (const gauges::GaugeRow& g : gauges::kGauges) {
    auto* b = new QPushButton(text(g.buttonCaption), this);
    b->setObjectName(QStringLiteral("Button%1").arg(g.button));
    b->setGeometry(kColumnLefts.at(static_cast<std::size_t>(g.buttonColumn - 1)) + g.buttonNudgeX,
                   kRowTops.at(static_cast<std::size_t>(g.buttonRow - 1)), kButtonWidth, kButtonHeight);
    m_buttons.at(static_cast<std::size_t>(g.button - 1)) = b;
  }
  fitCaptions();

  m_trackBar = new QSlider(Qt::Horizontal, this);
  m_trackBar->setObjectName(QStringLiteral("TrackBar1"));
  m_trackBar->setGeometry(219, 234, 150, 34);
  m_trackBar->setRange(0, 4);
  m_trackBar->setPageStep(1);
  m_trackBar->setTickInterval(1);
  m_trackBar->setTickPosition(QSlider::TicksBelow);

  // Centred under the trackbar, whose middle is at 219 + 150 / 2.
  m_label = new QLabel(QStringLiteral("No Anti-Aliasing"), this);
  m_label->setObjectName(QStringLiteral("Label1"));
  m_label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  m_label->setGeometry(219, 266, 150, 16);

  m_startMasked = new QCheckBox(QStringLiteral("Next time start masked"), this);
  m_startMasked->setObjectName(QStringLiteral("CheckBox1"));
  m_startMasked->setGeometry(30, 238, 142 + 40, 17);

  m_status = new QLabel(this);
  m_status->setObjectName(QStringLiteral("StatusLine"));
  m_status->setGeometry(kStatusMargin, kStatusTop, kClientWidth - 2 * kStatusMargin, kStatusHeight);
  m_status->setWordWrap(true);
  m_status->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  m_status->setTextFormat(Qt::RichText);
  // Selectable, so that the fgfs option can be copied; the log link opens in the desktop's viewer.
  m_status->setTextInteractionFlags(Qt::TextBrowserInteraction);
  m_status->setOpenExternalLinks(true);
}

void ControlWindow::setStatus(const QString& text, bool suggestButtons, const QString& logPath) {
  QString plain = text;
  QString rich = text.toHtmlEscaped();
  if (suggestButtons) {
    const QString hint = QStringLiteral(" · Click a button above to show its gauge.");
    plain += hint;
    rich += hint.toHtmlEscaped();
  }
  if (!logPath.isEmpty()) {
    plain += QStringLiteral(" · Open the log");
    rich += QStringLiteral(" · <a href=\"%1\">Open the log</a>")
                .arg(QUrl::fromLocalFile(logPath).toString(QUrl::FullyEncoded).toHtmlEscaped());
  }
  m_statusPlain = plain;
  m_status->setText(rich);
  m_status->setAccessibleDescription(plain);
}

QString ControlWindow::statusText() const {
  return m_statusPlain;
}

void ControlWindow::fitCaptions() {
  // The design's 11-pixel face is narrower than most systems' default one, which would clip the longest
  // captions ("Oil 1 temp./Pressure"): take the largest size, at most the design's, at which every caption
  // fits its button, style margins included.
  QFont font = this->font();
  for (int px = font.pixelSize(); px >= kSmallestCaptionPx; --px) {
    font.setPixelSize(px);
    bool fits = true;
    const QFontMetrics metrics(font);
    for (QPushButton* b : m_buttons) {
      b->setFont(font);
      const int margin = b->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, b);
      fits = fits && metrics.horizontalAdvance(b->text()) + 2 * margin <= b->width();
    }
    if (fits) {
      return;
    }
  }
}

void ControlWindow::closeEvent(QCloseEvent* event) {
  if (m_onClose) {
    m_onClose();
  }
  event->accept();
}

void ControlWindow::paintEvent(QPaintEvent* event) {
  QWidget::paintEvent(event);
  if (m_onFirstShown) {
    // Queued: the picture is flushed to the screen once this paint returns.
    QTimer::singleShot(0, this, std::exchange(m_onFirstShown, nullptr));
  }
}

}  // namespace app
