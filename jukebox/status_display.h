// The live status display: every 32 ms, while a song plays without a WRD
// script, the labels for time, bar position, tempo and the level bar are set
// from the last status values. It runs on the window's thread (a timer), so
// it never touches a widget from elsewhere, and it rests while the window is
// hidden.
#pragma once

#include <QObject>
#include <QTimer>

#include <functional>

class QLabel;
class QProgressBar;

// The last values of the control's OnStatus, with the forms the window asks
// for: 1 elapsed milliseconds, 2 bar position, 3 tempo, 4 time signature and,
// after the first report, the output level.
struct TStatusValues {
  int values[4] = {0, 0, 120, 4004};
  bool firstPending = false;  // the next progress report is the song's first
  bool levelScaled = false;   // the level bar follows the volume slider
};

class TStatusDisplay : public QObject {
  Q_OBJECT
 public:
  struct Labels {
    QLabel* timeMinutes;  // LB_TIMEC
    QLabel* timeSeconds;  // LB_TIMEC2
    QLabel* timeMillis;   // LB_TIMEC3
    QLabel* current;      // LB_CURRENT
    QLabel* tempo;        // LB_TEMPO
    QProgressBar* level;  // Gauge1
  };
  static constexpr int kPeriodMs = 32;

  TStatusDisplay(const TStatusValues& status, Labels labels, QObject* parent = nullptr);

  // The volume slider position (0 .. 100) for a scaled level.
  void setVolumeSource(std::function<int()> volume) { volume_ = std::move(volume); }

  // A song starts (the display runs unless the window is hidden) / ends.
  void start();
  void end();
  bool running() const { return running_; }
  // The window was hidden / shown: the refresh rests / goes on (if running).
  void suspend();
  void resume();
  bool ticking() const { return timer_.isActive(); }

  // One refresh from the current values.
  void refresh();

 private:
  void follow();

  const TStatusValues& status_;
  Labels labels_;
  std::function<int()> volume_;
  QTimer timer_;
  bool running_ = false;
  bool suspended_ = false;
};
