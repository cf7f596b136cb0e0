// The ration of lines said on others' behalf.
#include "LogRation.h"

#include <QString>
#include <QtGlobal>

#include <cstdio>
#include <mutex>

namespace web {

LogRation::Verdict LogRation::take(Clock::time_point now) {
  Verdict verdict;
  if (!m_windowStart || now - *m_windowStart >= m_window) {
    m_windowStart = now;
    m_said = 0;
    verdict.heldBack = m_heldBack;
    m_heldBack = 0;
  }
  verdict.say = m_said < m_perWindow;
  if (verdict.say) {
    ++m_said;
  } else {
    ++m_heldBack;
  }
  return verdict;
}

namespace {

const char* g_program = "skyvane";
std::mutex g_mutex;  // Qt's messages come from any thread
LogRation g_ration(10, std::chrono::minutes(1));

void sayQtMessage(QtMsgType, const QMessageLogContext&, const QString& message) {
  const std::lock_guard lock(g_mutex);
  const LogRation::Verdict verdict = g_ration.take(LogRation::Clock::now());
  if (verdict.heldBack > 0) {
    std::fprintf(stderr, "%s: %llu more messages of Qt were not shown\n", g_program,
                 static_cast<unsigned long long>(verdict.heldBack));
  }
  if (verdict.say) {
    std::fprintf(stderr, "%s: %s\n", g_program, message.toLocal8Bit().constData());
  }
}

}  // namespace

void rationQtMessages(const char* program) {
  g_program = program;
  qInstallMessageHandler(sayQtMessage);
}

}  // namespace web
