#include "jukebox/mpris.h"

#include <QDBusAbstractAdaptor>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QUrl>

namespace {

// org.mpris.MediaPlayer2: the application itself.
class TMprisRoot final : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
  Q_PROPERTY(bool CanQuit READ canQuit)
  Q_PROPERTY(bool CanRaise READ canRaise)
  Q_PROPERTY(bool HasTrackList READ hasTrackList)
  Q_PROPERTY(QString Identity READ identity)
  Q_PROPERTY(QString DesktopEntry READ desktopEntry)
  Q_PROPERTY(QStringList SupportedUriSchemes READ uriSchemes)
  Q_PROPERTY(QStringList SupportedMimeTypes READ mimeTypes)

 public:
  TMprisRoot(TMprisService* service) : QDBusAbstractAdaptor(service), service_(service) {}
  bool canQuit() const { return false; }
  bool canRaise() const { return true; }
  bool hasTrackList() const { return false; }
  QString identity() const { return QStringLiteral("QUORMIDI"); }
  QString desktopEntry() const { return QStringLiteral("quormidi"); }
  QStringList uriSchemes() const { return {QStringLiteral("file")}; }
  QStringList mimeTypes() const {
    return {QStringLiteral("audio/midi"), QStringLiteral("audio/x-midi"), QStringLiteral("application/x-recomposer")};
  }

 public slots:
  void Raise() { service_->player().mprisRaise(); }
  void Quit() {}

 private:
  TMprisService* service_;
};

// org.mpris.MediaPlayer2.Player: the play controls.
class TMprisPlayerAdaptor final : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
  Q_PROPERTY(QString PlaybackStatus READ playbackStatus)
  Q_PROPERTY(QVariantMap Metadata READ metadata)
  Q_PROPERTY(double Rate READ rate)
  Q_PROPERTY(double MinimumRate READ rate)
  Q_PROPERTY(double MaximumRate READ rate)
  Q_PROPERTY(double Volume READ volume WRITE setVolume)
  Q_PROPERTY(qlonglong Position READ position)
  Q_PROPERTY(bool Shuffle READ shuffle WRITE setShuffle)
  Q_PROPERTY(QString LoopStatus READ loopStatus WRITE setLoopStatus)
  Q_PROPERTY(bool CanGoNext READ yes)
  Q_PROPERTY(bool CanGoPrevious READ yes)
  Q_PROPERTY(bool CanPlay READ yes)
  Q_PROPERTY(bool CanPause READ yes)
  Q_PROPERTY(bool CanSeek READ no)
  Q_PROPERTY(bool CanControl READ yes)

 public:
  TMprisPlayerAdaptor(TMprisService* service) : QDBusAbstractAdaptor(service), service_(service) {}
  QString playbackStatus() const { return service_->playbackStatus(); }
  QVariantMap metadata() const { return service_->metadata(); }
  double rate() const { return 1.0; }
  double volume() const { return service_->player().mprisVolume(); }
  void setVolume(double v) {
    service_->player().setMprisVolume(v);
    service_->changed();
  }
  qlonglong position() const { return service_->player().mprisPositionUs(); }
  bool shuffle() const { return service_->player().mprisShuffle(); }
  void setShuffle(bool on) {
    service_->player().setMprisShuffle(on);
    service_->changed();
  }
  QString loopStatus() const { return service_->loopStatus(); }
  void setLoopStatus(const QString& status) {
    service_->setLoopStatus(status);
    service_->changed();
  }
  bool yes() const { return true; }
  bool no() const { return false; }

 public slots:
  void Play() { service_->player().mprisPlay(); }
  void Pause() { service_->player().mprisPause(); }
  void PlayPause() {
    if (service_->player().mprisState() == TMprisPlayer::State::Playing)
      service_->player().mprisPause();
    else
      service_->player().mprisPlay();
  }
  void Stop() { service_->player().mprisStop(); }
  void Next() { service_->player().mprisNext(); }
  void Previous() { service_->player().mprisPrevious(); }
  void Seek(qlonglong) {}
  void SetPosition(const QDBusObjectPath&, qlonglong) {}
  void OpenUri(const QString& uri) {
    const QUrl url(uri);
    if (url.isLocalFile()) service_->player().mprisOpen(url.toLocalFile());
  }

 signals:
  void Seeked(qlonglong position);

 private:
  TMprisService* service_;
};

}  // namespace

TMprisService::TMprisService(TMprisPlayer& player, QObject* parent)
    : QObject(parent), player_(player), bus_(QStringLiteral("quormidi-no-bus")) {
  new TMprisRoot(this);
  new TMprisPlayerAdaptor(this);
}

TMprisService::~TMprisService() {
  if (!started_) return;
  bus_.unregisterObject(QString::fromLatin1(kPath));
  bus_.unregisterService(QString::fromLatin1(kBusName));
}

bool TMprisService::start(QDBusConnection bus) {
  bus_ = bus;
  if (!bus_.isConnected()) return false;
  if (!bus_.registerObject(QString::fromLatin1(kPath), this)) return false;
  if (!bus_.registerService(QString::fromLatin1(kBusName))) {
    bus_.unregisterObject(QString::fromLatin1(kPath));
    return false;
  }
  started_ = true;
  last_ = followed();
  return true;
}

QString TMprisService::playbackStatus() const {
  switch (player_.mprisState()) {
    case TMprisPlayer::State::Playing: return QStringLiteral("Playing");
    case TMprisPlayer::State::Paused: return QStringLiteral("Paused");
    case TMprisPlayer::State::Stopped: break;
  }
  return QStringLiteral("Stopped");
}

QVariantMap TMprisService::metadata() const {
  const QString file = player_.mprisFile();
  if (file.isEmpty())
    return {{QStringLiteral("mpris:trackid"),
             QVariant::fromValue(QDBusObjectPath(QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack")))}};
  // A track id must be an object path: the file's position in no list, so
  // a hash of its name keeps it stable for the same song.
  const QString id = QStringLiteral("/org/quor/quormidi/track/%1").arg(qHash(file), 0, 16);
  QVariantMap m{{QStringLiteral("mpris:trackid"), QVariant::fromValue(QDBusObjectPath(id))},
                {QStringLiteral("xesam:url"), QUrl::fromLocalFile(file).toString()},
                {QStringLiteral("xesam:title"), player_.mprisTitle().isEmpty() ? file.section(QLatin1Char('/'), -1)
                                                                               : player_.mprisTitle()}};
  if (const int64_t length = player_.mprisLengthUs(); length > 0)
    m.insert(QStringLiteral("mpris:length"), QVariant::fromValue(static_cast<qlonglong>(length)));
  if (const QString artist = player_.mprisArtist(); !artist.isEmpty())
    m.insert(QStringLiteral("xesam:artist"), QStringList{artist});
  return m;
}

QString TMprisService::loopStatus() const {
  return player_.mprisLoop() ? QStringLiteral("Playlist") : QStringLiteral("None");
}

void TMprisService::setLoopStatus(const QString& status) {
  if (status == QLatin1String("Playlist") || status == QLatin1String("None"))
    player_.setMprisLoop(status == QLatin1String("Playlist"));
}

QVariantMap TMprisService::followed() const {
  return {{QStringLiteral("PlaybackStatus"), playbackStatus()},
          {QStringLiteral("Metadata"), metadata()},
          {QStringLiteral("Volume"), player_.mprisVolume()},
          {QStringLiteral("Shuffle"), player_.mprisShuffle()},
          {QStringLiteral("LoopStatus"), loopStatus()}};
}

void TMprisService::changed() {
  if (!started_) return;
  QVariantMap diff;
  const QVariantMap now = followed();
  for (auto it = now.begin(); it != now.end(); ++it)
    if (last_.value(it.key()) != it.value()) diff.insert(it.key(), it.value());
  last_ = now;
  if (diff.isEmpty()) return;
  QDBusMessage signal = QDBusMessage::createSignal(QString::fromLatin1(kPath),
                                                   QStringLiteral("org.freedesktop.DBus.Properties"),
                                                   QStringLiteral("PropertiesChanged"));
  signal << QStringLiteral("org.mpris.MediaPlayer2.Player") << diff << QStringList();
  bus_.send(signal);
}

#include "mpris.moc"
