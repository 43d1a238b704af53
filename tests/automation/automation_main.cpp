// The automation tests run with a Qt application (QtDBus delivers the
// engine's calls to exported sinks through it). Started as
// "--hold-playing SONG" the program is instead a client that creates an
// object, plays SONG, says "playing <object path>" and waits to be killed.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include <cstdio>
#include <cstring>

#include "tests/automation/automation_fixture.h"

namespace {

int HoldPlaying(const char* song) {
  autotest::Client c(QStringLiteral("holder"));
  const QString o = c.create();
  if (o.isEmpty()) return 1;
  c.set(o, QStringLiteral("MIDIFILENAME"), QString::fromUtf8(song));
  if (autotest::IsError(c.method(o, QStringLiteral("PLAY")))) return 1;
  std::printf("playing %s\n", o.toUtf8().constData());
  std::fflush(stdout);
  for (;;) autotest::Spin(1000);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc == 3 && std::strcmp(argv[1], "--hold-playing") == 0) return HoldPlaying(argv[2]);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
