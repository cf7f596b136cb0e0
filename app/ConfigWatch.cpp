#include "ConfigWatch.h"

#include <QFileSystemWatcher>

namespace app {

ConfigWatch::ConfigWatch(const std::string& dataDir, int settleMs, std::function<void()> changed)
    : m_watcher(std::make_unique<QFileSystemWatcher>()) {
  m_settle.setInterval(settleMs);
  m_settle.setSingleShot(true);
  QObject::connect(&m_settle, &QTimer::timeout, std::move(changed));
  // The directory too: an editor that saves by renaming a new file over config.ini replaces the file the watch
  // was on, and a config.ini made later is seen.
  const QString dir = QString::fromStdString(dataDir);
  const QString file = dir + QStringLiteral("/config.ini");
  m_watcher->addPath(dir);
  m_watcher->addPath(file);
  const auto seen = [this, file] {
    if (!m_watcher->files().contains(file)) {
      m_watcher->addPath(file);  // back on the file that now has the name
    }
    m_settle.start();
  };
  QObject::connect(m_watcher.get(), &QFileSystemWatcher::fileChanged, seen);
  QObject::connect(m_watcher.get(), &QFileSystemWatcher::directoryChanged, seen);
}

ConfigWatch::~ConfigWatch() {
  m_settle.stop();
}

}  // namespace app
