// Raw MIDI device files: the bytes arrive exactly as sent, through a pty
// (a terminal, switched to raw mode) and a fifo.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/midi_bytes.h"
#include "platform/rawmidi/raw_midi.h"
#include "tests/common/test_files.h"

namespace {

// Reads what arrives within a short while (the writes are already done).
std::string ReadHex(int fd, size_t expected) {
  std::vector<uint8_t> got;
  while (got.size() < expected) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 2000) <= 0) break;
    uint8_t buf[512];
    ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) break;
    got.insert(got.end(), buf, buf + n);
  }
  return MidiHex(got.data(), got.size());
}

struct Pty {
  int master = -1;
  std::string slave;
  Pty() {
    master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0) slave = ptsname(master);
  }
  ~Pty() {
    if (master >= 0) close(master);
  }
};

}  // namespace

TEST(RawMidi, PtyReceivesEveryByteUntranslated) {
  Pty pty;
  ASSERT_FALSE(pty.slave.empty());
  RawMidiSystem set({pty.slave});
  ASSERT_EQ(set.deviceCount(), 1);
  EXPECT_EQ(set.productName(0), pty.slave);
  EXPECT_FALSE(set.supportsVolume(0));
  std::unique_ptr<MidiOutPort> port;
  ASSERT_EQ(set.open(0, &port), kMidiOk);

  // 0x0A and 0x0D would become CR LF and be swallowed on a cooked terminal.
  EXPECT_EQ(port->shortMessage(0x0D0A90), kMidiOk);
  EXPECT_EQ(port->shortMessage(0x00110A), kMidiOk);  // running status: key 0x0A, velocity 0x11
  EXPECT_EQ(port->shortMessage(0x7FC0), kMidiOk);    // program change: 2 bytes
  const uint8_t sysex[] = {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
  EXPECT_EQ(port->longMessage(sysex, sizeof sysex), kMidiOk);
  EXPECT_EQ(ReadHex(pty.master, 3 + 2 + 2 + 6), "900a0d0a11c07ff07e7f0901f7");

  uint32_t v;
  EXPECT_EQ(port->getVolume(&v), kMidiNotSupported);
  EXPECT_EQ(port->setVolume(0xFFFFFFFF), kMidiNotSupported);
  EXPECT_EQ(port->close(), kMidiOk);
  EXPECT_EQ(port->close(), kMidiInvalidHandle);
  EXPECT_EQ(port->shortMessage(0x7FC0), kMidiInvalidHandle);
}

TEST(RawMidi, ResetEndsTheHeldNotesThenSustainAndAllNotesOff) {
  Pty pty;
  ASSERT_FALSE(pty.slave.empty());
  RawMidiSystem set({pty.slave});
  std::unique_ptr<MidiOutPort> port;
  ASSERT_EQ(set.open(0, &port), kMidiOk);
  port->shortMessage(0x403C90);
  port->shortMessage(0x404093);
  port->shortMessage(0x003C80);  // the first note ended already
  ASSERT_EQ(ReadHex(pty.master, 9), "903c40934040803c00");
  ASSERT_EQ(port->reset(), kMidiOk);
  std::string expected = "834000";
  for (int ch = 0; ch < 16; ++ch) {
    uint8_t cc[6] = {static_cast<uint8_t>(0xB0 | ch), 64, 0, static_cast<uint8_t>(0xB0 | ch), 123, 0};
    expected += MidiHex(cc, 6);
  }
  EXPECT_EQ(ReadHex(pty.master, 3 + 96), expected);
}

TEST(RawMidi, FifoWithoutReaderFailsAtOnceAndALostReaderIsAnError) {
  qtest::TempDir dir;
  std::string fifo = dir.file("midi.fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  RawMidiSystem set({fifo, dir.file("missing")});
  EXPECT_EQ(set.deviceCount(), 2);
  EXPECT_EQ(set.productName(1), "");  // does not exist (now)
  std::unique_ptr<MidiOutPort> port;
  EXPECT_EQ(set.open(1, &port), kMidiBadDevice);
  EXPECT_EQ(set.open(0, &port), kMidiBadDevice);  // no reader: no hang
  EXPECT_EQ(set.open(2, &port), kMidiBadDevice);

  int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  ASSERT_EQ(set.open(0, &port), kMidiOk);
  EXPECT_EQ(port->shortMessage(0x7F3C90), kMidiOk);
  EXPECT_EQ(ReadHex(reader, 3), "903c7f");
  close(reader);
  // The reader went away: an error, and the program lives on (no SIGPIPE).
  EXPECT_EQ(port->shortMessage(0x7F3C90), kMidiError);
  EXPECT_EQ(port->close(), kMidiOk);
}

TEST(RawMidi, SettingsValueListsPaths) {
  EXPECT_EQ(SplitMidiDevicePaths(" /dev/midi1 ; /dev/snd/midiC1D0,/tmp/a b ;; "),
            (std::vector<std::string>{"/dev/midi1", "/dev/snd/midiC1D0", "/tmp/a b"}));
  EXPECT_TRUE(SplitMidiDevicePaths("").empty());
  EXPECT_TRUE(SplitMidiDevicePaths(" , ; ").empty());
}
