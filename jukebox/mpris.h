// The jukebox on the desktop's media controls: the MPRIS 2 interfaces
// (org.mpris.MediaPlayer2 and org.mpris.MediaPlayer2.Player) at
// /org/mpris/MediaPlayer2 under the bus name org.mpris.MediaPlayer2.quormidi,
// so media keys and the desktop's player widget drive the jukebox's own
// commands and show what it plays.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <cstdint>

// What the media controls reach in the jukebox.
class TMprisPlayer {
 public:
  enum class State { Stopped, Playing, Paused };
  virtual ~TMprisPlayer() = default;
  virtual void mprisPlay() = 0;
  virtual void mprisPause() = 0;
  virtual void mprisStop() = 0;
  virtual void mprisNext() = 0;
  virtual void mprisPrevious() = 0;
  virtual void mprisRaise() = 0;
  virtual State mprisState() const = 0;
  virtual QString mprisTitle() const = 0;   // UTF-8 already
  virtual QString mprisFile() const = 0;    // "" when nothing is chosen
  virtual int64_t mprisLengthUs() const = 0;  // 0 when unknown
  virtual QString mprisArtist() const = 0;    // "" when unknown
  virtual int64_t mprisPositionUs() const = 0;  // 0 when stopped
  virtual double mprisVolume() const = 0;       // 0 .. 1
  virtual void setMprisVolume(double volume) = 0;
  virtual bool mprisShuffle() const = 0;
  virtual void setMprisShuffle(bool on) = 0;
  virtual bool mprisLoop() const = 0;  // the list goes on song after song
  virtual void setMprisLoop(bool on) = 0;
  virtual void mprisOpen(const QString& path) = 0;  // a local song to add and play
};

class TMprisService final : public QObject {
  Q_OBJECT

 public:
  static constexpr const char* kBusName = "org.mpris.MediaPlayer2.quormidi";
  static constexpr const char* kPath = "/org/mpris/MediaPlayer2";

  explicit TMprisService(TMprisPlayer& player, QObject* parent = nullptr);
  ~TMprisService() override;

  // Takes the bus name; false without a session bus or with the name taken
  // (the jukebox works on without media controls).
  bool start(QDBusConnection bus = QDBusConnection::sessionBus());
  // The jukebox calls this whenever its state, song or title changed; the
  // desktop hears of what differs.
  void changed();

  TMprisPlayer& player() { return player_; }
  QString playbackStatus() const;
  QVariantMap metadata() const;
  // "None" or "Playlist" (a single song's loop is not offered).
  QString loopStatus() const;
  void setLoopStatus(const QString& status);

 private:
  // The properties the desktop is told of when they change.
  QVariantMap followed() const;

  TMprisPlayer& player_;
  QDBusConnection bus_;
  bool started_ = false;
  QVariantMap last_;
};
