// The panel as a program: creates the control window and the 36 gauge windows in their order, runs the
// start-up sequence and the deferred step, the five timers, the camera binding, the saved layout and the
// anti-aliasing choice, and the shutdown that saves the layout. Everything runs on the UI thread.
#pragma once

#include "ConfigReload.h"
#include "DataDirectory.h"
#include "DialState.h"
#include "GaugeWindow.h"
#include "InstrumentTick.h"
#include "PanelScene.h"
#include "Settings.h"
#include "WindowLayout.h"

#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QMessageBox;
class QOffscreenSurface;

namespace app {

class ConfigWatch;
class ControlWindow;
class QtContext;

// The title of the application, also the caption of every error box.
inline constexpr const char* kApplicationTitle = "Skyvane Analog gauges";

// The label texts of the five trackbar positions.
extern const std::array<const char*, 5> kAntiAliasingLabels;

class GaugePanel {
public:
  // Creates everything hidden; `dataDir` holds config.ini, the layout file and the font file. Without a
  // layout file, `arrange` (single, twin, turboprop, or auto: the twin's for two engines, else the single's)
  // opens the starter layout fitted to the screen instead of the button grid alone; empty: the grid alone.
  explicit GaugePanel(std::string dataDir, std::string arrange = {});
  ~GaugePanel();
  GaugePanel(const GaugePanel&) = delete;
  GaugePanel& operator=(const GaugePanel&) = delete;

  // Shows the control window and starts the timers: the message loop may run.
  void start();

  ControlWindow& control() { return *m_control; }
  GaugeWindow& window(std::size_t index) { return *m_windows.at(index); }  // 0 = TForm2
  GaugeWindow* window(std::string_view windowClass);
  std::size_t windowCount() const { return m_windows.size(); }
  const settings::Settings& settings() const { return m_settings; }
  panel::PanelScene& scene() { return *m_panel; }
  instruments::InstrumentTick& instruments() { return *m_instruments; }
  bool layoutFound() const { return m_layoutFound; }
  // The deferred start-up step has run: cameras bound and the saved layout (if any) applied to the windows.
  bool deferredStepDone() const { return m_deferredStepDone; }
  const std::string& dataDir() const { return m_dataDir; }
  // Told after each application of the anti-aliasing level to the viewers (for tests: the panel keeps no
  // count of its own).
  void setAntiAliasingApplied(std::function<void()> observer) { m_aaApplied = std::move(observer); }
  // Milliseconds until the pending level is applied; -1 when none is pending.
  int antiAliasingDueInMs() const { return m_timerAA.remainingTime(); }

  // config.ini read again: how many times the running panel took a changed file, and where the warnings of a
  // file with problems go (by default one message that does not block the needles, and stderr).
  int settingsReloads() const { return m_settingsReloads; }
  // Frames drawn off screen ahead of the deferred step (on a software renderer with a layout showing a
  // window, one).
  int warmUpFrames() const { return m_warmUpFrames; }
  void setSettingsReloaded(std::function<void()> observer) { m_settingsReloaded = std::move(observer); }
  void setWarningSink(std::function<void(const std::string&)> sink) { m_warningSink = std::move(sink); }
  // Reads config.ini again now, as the file watch does 300 ms after the last change it saw.
  void reloadSettings();

  // Where errors of timers, paints and window handlers go; by default a message box and stderr.
  void setErrorSink(std::function<void(const std::string&)> sink) { m_errorSink = std::move(sink); }
  void reportError(const std::exception& error);

private:
  void startUp();
  void arrangeFirstStart();
  void createGaugeWindows();
  void wireControls();
  std::optional<std::size_t> firstShownWindow() const;
  void showControlWindow();
  bool anyGaugeWindowShown() const;
  void warmUp();
  void deferredStart(bool withLayout);
  void bindCameras();
  void greyEngine2Buttons();
  void rebuildScene(const settings::Settings& fileSettings);
  // Lines said on stderr and in one box (not modal) under `heading`; none hides the box.
  void showWarnings(const std::vector<std::string>& lines,
                    const char* heading = "config.ini was read again; some values were not understood:");
  void applyLayout();
  void applyGaugeRecord(GaugeWindow& window, const settings::LayoutRecord& record);
  void enableTimerAA();
  void trackBarChanged(int position);
  void applyAntiAliasing();
  void tryOpenLink();
  void tick();
  void updateStatus();
  void shutdown();
  void saveIfArrangementSettled();
  // Saves the arrangement as the windows last had it, when it changed since the last save: for an exit that
  // is not the panel's own (Qt ends the process when the display goes), from what Qt already knows.
  void saveBeforeExit() noexcept;
  QRect controlFrame() const;
  settings::WindowLayout currentLayout() const;
  void guarded(const std::function<void()>& work);
  void showError(const std::string& text);

  std::string m_dataDir;
  settings::DirectoryHandle m_dataDirHandle;  // config.ini and the layout are read and written through it
  std::string m_arrange;
  std::unique_ptr<ControlWindow> m_control;
  std::unique_ptr<QOffscreenSurface> m_baseSurface;
  std::unique_ptr<QtContext> m_baseContext;
  std::unique_ptr<panel::PanelScene> m_panel;
  settings::Settings m_settings;  // as the dial builders left them
  // config.ini as last taken, to tell a changed file from a touched one.
  std::optional<settings::ConfigReload> m_reload;
  gauges::ScaleStates m_states;
  settings::WindowLayout m_layout;
  bool m_layoutFound = false;
  std::string m_fontPath;
  std::vector<std::unique_ptr<GaugeWindow>> m_windows;
  std::unique_ptr<instruments::InstrumentTick> m_instruments;

  QTimer m_timer1;   // link-open attempts, every second until one succeeds
  QTimer m_timer2;   // the instrument tick, every 30 ms
  QTimer m_timer3;   // deferred start-up with a saved layout
  QTimer m_timer4;   // deferred start-up without one
  QTimer m_timerAA;  // applies the anti-aliasing level, once per enabling
  // The arrangement is looked at once a second after the deferred step, and saved once it has changed and then
  // stayed the same for a look: a display that goes away (a logout, an X server that ends) loses nothing
  // older than that, where the save at exit never runs.
  QTimer m_layoutWatch;
  std::string m_layoutSaved;                   // the file's bytes as last written or read
  std::string m_layoutPending;                 // a changed arrangement seen at the last look, not yet saved
  std::unique_ptr<ConfigWatch> m_configWatch;  // reads config.ini again when an edit of it settles
  std::unique_ptr<QMessageBox> m_warningBox;
  int m_settingsReloads = 0;
  int m_warmUpFrames = 0;
  std::function<void()> m_settingsReloaded;
  std::function<void(const std::string&)> m_warningSink;
  std::function<void()> m_aaApplied;
  bool m_shutDown = false;
  bool m_deferredStepDone = false;
  bool m_linkTried = false;  // the first link-open attempt has been made
  struct StatusKey {
    bool linkTried = false;
    bool linkOpen = false;
    // The block's bytes as read: compared at every tick, decoded only when they change (a new server with the
    // same publication count differs in them too).
    std::array<std::uint8_t, simlink::kFeedStateSize> feedBlock{};
    bool suggestButtons = false;
    bool operator==(const StatusKey&) const = default;
  };
  std::optional<StatusKey> m_statusShown;  // what the status line was last made from
  QString m_logPath;                       // $SKYVANE_LOG: where a menu launch's output goes
  bool m_showingError = false;
  std::function<void(const std::string&)> m_errorSink;
};

}  // namespace app
