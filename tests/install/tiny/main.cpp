// A program a user of the installed control library would write: it makes
// the control (which reaches for the engine on the session bus) and says
// what it found. "mime FILE..." names each file's type as the desktop sees
// it through the installed MIME description.
#include <QApplication>
#include <QMIDICTLXControl.h>
#include <QMimeDatabase>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "mime") == 0) {
    QMimeDatabase db;
    for (int i = 2; i < argc; ++i)
      std::printf("%s %s\n", argv[i], qPrintable(db.mimeTypeForFile(QString::fromLocal8Bit(argv[i])).name()));
    return 0;
  }
  QApplication app(argc, argv);
  TQMIDICTLX control;
  std::printf("class %s\n", control.metaObject()->className());
  std::printf("engineError %d\n", control.engineError());
  std::printf("SCOREWIDTH %d\n", control.property("SCOREWIDTH").toInt());
  return 0;
}
