// Watches a data directory's config.ini and says when it changed: once an editor's save has settled, however
// many changes it made (truncate and write, or write a temporary and rename it over the file).
#pragma once

#include <QTimer>

#include <functional>
#include <memory>
#include <string>

class QFileSystemWatcher;

namespace app {

class ConfigWatch {
public:
  // `changed` runs `settleMs` after the last change seen.
  ConfigWatch(const std::string& dataDir, int settleMs, std::function<void()> changed);
  ~ConfigWatch();
  ConfigWatch(const ConfigWatch&) = delete;
  ConfigWatch& operator=(const ConfigWatch&) = delete;

private:
  std::unique_ptr<QFileSystemWatcher> m_watcher;
  QTimer m_settle;  // restarted by every change
};

}  // namespace app
