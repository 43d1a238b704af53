// quormidi, the jukebox: plays the play lists kept in ~/.config/QUOR/QUORMIDI.conf
// through the engine qmidiexe, which the session bus starts.
//
//   quormidi [--start] [--grab FILE [--grab-after MS]]
//
// --start plays the shown list at once from its first entry (as Start, F8,
// with that row selected); --grab saves a
// picture of the main window to FILE after MS milliseconds (4000) and quits.
#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>

#include "jukebox/form1.h"
#include "support/trace.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("QUORMIDI"));
  QGTrOpen(QCoreApplication::applicationFilePath().toStdString());
  QGInstallUserExceptionHandler();

  QCommandLineParser options;
  options.addHelpOption();
  const QCommandLineOption start(QStringLiteral("start"), QStringLiteral("Play the shown list at once."));
  const QCommandLineOption grab(QStringLiteral("grab"), QStringLiteral("Save a picture of the window."),
                                QStringLiteral("file"));
  const QCommandLineOption grabAfter(QStringLiteral("grab-after"), QStringLiteral("Milliseconds before the picture."),
                                     QStringLiteral("ms"), QStringLiteral("4000"));
  options.addOptions({start, grab, grabAfter});
  options.process(app);

  TForm1 form;
  form.show();
  if (options.isSet(start)) {
    QTimer::singleShot(0, &form, [&form] {
      // The first entry, or with random play the first of the shuffled order.
      if (!form.randomOn()) form.selectRow(0);
      form.MN_FILESTARTClick();
    });
  }
  if (options.isSet(grab)) {
    QTimer::singleShot(options.value(grabAfter).toInt(), &form, [&form, file = options.value(grab)] {
      form.grab().save(file);
      form.close();
    });
  }
  return app.exec();
}
