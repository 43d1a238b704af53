// One jukebox a session: the first quormidi takes the bus name
// org.quor.Quormidi; a second one hands its songs to it (AddSongs) and ends,
// as a file manager's "open with" expects of a player.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QStringList>

class TForm1;

class TJukeboxInstance final : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.quor.Quormidi")

 public:
  static constexpr const char* kBusName = "org.quor.Quormidi";
  static constexpr const char* kPath = "/org/quor/Quormidi";

  explicit TJukeboxInstance(TForm1& form);
  ~TJukeboxInstance() override;
  // Takes the bus name; false without a bus or with the name taken.
  bool start(QDBusConnection bus = QDBusConnection::sessionBus());

 public slots:
  // Full paths of songs, folders and play list files join the shown list
  // (after this call returns); with start the first of them plays. Without
  // paths the window comes to the front.
  void AddSongs(const QStringList& paths, bool start);

 private:
  TForm1& form_;
  QDBusConnection bus_;
  bool started_ = false;
};

// Hands full paths to the jukebox that owns the name: true when it took them.
bool QGHandToRunningJukebox(const QStringList& paths, bool start,
                            QDBusConnection bus = QDBusConnection::sessionBus());
