// Plays a song through the control and prints what the engine reports.
#include <QApplication>
#include <QMIDICTLXControl.h>
#include <cstdio>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  TQMIDICTLX midi;  // starts the engine through the session bus when it is registered
  QObject::connect(&midi, &TQMIDICTLX::OnStatus, [&](int v1, int v2, int v3, int v4) {
    std::printf("%d %d %d %d\n", v1, v2, v3, v4);
    std::fflush(stdout);
    if (v1 < 0 && v1 > -3) app.quit();  // -1 or -2: the song has ended
  });
  midi.setMIDIFILENAME(QString::fromLocal8Bit(argc > 1 ? argv[1] : "SONG.MID"));
  midi.PLAY();
  return midi.engineError() == 0 ? app.exec() : 1;
}
