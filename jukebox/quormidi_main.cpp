// quormidi, the jukebox: plays the play lists kept in ~/.config/QUOR/QUORMIDI.conf
// through the engine qmidiexe, which the session bus starts.
//
//   quormidi [--start] [FILE | FOLDER | LIST.m3u | LIST.xspf]... [--grab FILE [--grab-after MS]]
//
// Songs, folders (their songs, subfolders too) and play list files join the
// shown list; --start plays the first of them at once (without any, the
// shown list from its first entry). One jukebox runs a session: a second
// quormidi hands its songs to the first and ends. --grab saves a picture of
// the main window to FILE after MS milliseconds (4000) and quits.
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QTimer>

#include "jukebox/form1.h"
#include "jukebox/single_instance.h"
#include "support/trace.h"

namespace {

QStringList FullPaths(const QStringList& arguments) {
  QStringList paths;
  for (const QString& a : arguments)
    paths << (a.startsWith(QLatin1String("file:"), Qt::CaseInsensitive) ? a : QDir::current().absoluteFilePath(a));
  return paths;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("QUORMIDI"));
  QGTrOpen(QCoreApplication::applicationFilePath().toStdString());
  QGInstallUserExceptionHandler();

  QCommandLineParser options;
  options.addHelpOption();
  options.addPositionalArgument(QStringLiteral("songs"),
                                QStringLiteral("Songs, folders or play lists (.m3u, .m3u8, .xspf) to add to the shown list."),
                                QStringLiteral("[FILE|FOLDER|LIST...]"));
  const QCommandLineOption start(QStringLiteral("start"),
                                 QStringLiteral("Play at once: the first song given, else the shown list."));
  const QCommandLineOption grab(QStringLiteral("grab"), QStringLiteral("Save a picture of the window."),
                                QStringLiteral("file"));
  const QCommandLineOption grabAfter(QStringLiteral("grab-after"), QStringLiteral("Milliseconds before the picture."),
                                     QStringLiteral("ms"), QStringLiteral("4000"));
  options.addOptions({start, grab, grabAfter});
  options.process(app);
  const QStringList songs = FullPaths(options.positionalArguments());
  const bool play = options.isSet(start);

  // The jukebox of this session takes the songs; this program's work is done.
  if (!options.isSet(grab) && QGHandToRunningJukebox(songs, play)) return 0;

  TForm1 form;
  TJukeboxInstance instance(form);
  if (!options.isSet(grab) && !instance.start() && QGHandToRunningJukebox(songs, play)) return 0;
  form.show();
  QTimer::singleShot(0, &form, [&form, songs, play] {
    if (!songs.isEmpty()) {
      form.addSongs(songs, play, QStringLiteral("/"));
    } else if (play) {
      // The first entry, or with random play the first of the shuffled order.
      if (!form.randomOn()) form.selectRow(0);
      form.MN_FILESTARTClick();
    }
  });
  if (options.isSet(grab)) {
    QTimer::singleShot(options.value(grabAfter).toInt(), &form, [&form, file = options.value(grab)] {
      form.grab().save(file);
      form.close();
    });
  }
  return app.exec();
}
