// Capture devices (the log format the player's tests read), the byte
// helpers behind every backend, and composed device lists.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/capture/capture_midi.h"
#include "platform/manualtimer/manual_timer.h"
#include "platform/midi_bytes.h"
#include "platform/midi_composite.h"
#include "tests/common/test_files.h"

namespace {

std::vector<std::string> Lines(const std::string& path) {
  std::vector<std::string> out;
  std::string text = qtest::ReadText(path), line;
  for (char c : text) {
    if (c == '\n') {
      out.push_back(line);
      line.clear();
    } else {
      line.push_back(c);
    }
  }
  EXPECT_TRUE(line.empty()) << "the last line has no end";
  return out;
}

std::unique_ptr<MidiOutPort> Open(MidiOutSystem& s, int id) {
  std::unique_ptr<MidiOutPort> port;
  EXPECT_EQ(s.open(id, &port), kMidiOk);
  return port;
}

}  // namespace

TEST(MidiBytes, ShortMessageLengthFollowsTheStatus) {
  EXPECT_EQ(MidiStatusLength(0x90), 3);
  EXPECT_EQ(MidiStatusLength(0x8F), 3);
  EXPECT_EQ(MidiStatusLength(0xAF), 3);
  EXPECT_EQ(MidiStatusLength(0xB0), 3);
  EXPECT_EQ(MidiStatusLength(0xC3), 2);
  EXPECT_EQ(MidiStatusLength(0xD0), 2);
  EXPECT_EQ(MidiStatusLength(0xE1), 3);
  EXPECT_EQ(MidiStatusLength(0xF1), 2);
  EXPECT_EQ(MidiStatusLength(0xF2), 3);
  EXPECT_EQ(MidiStatusLength(0xF3), 2);
  EXPECT_EQ(MidiStatusLength(0xF6), 1);
  EXPECT_EQ(MidiStatusLength(0xF8), 1);
  EXPECT_EQ(MidiStatusLength(0xFF), 1);
  EXPECT_EQ(MidiStatusLength(0xF0), 0);
  EXPECT_EQ(MidiStatusLength(0xF7), 0);
  EXPECT_EQ(MidiStatusLength(0x40), 0);
}

TEST(MidiBytes, RunningStatusAndBadMessages) {
  MidiShortMessage m;
  EXPECT_FALSE(m.decode(0x00403C));  // a data byte first, and no status yet
  ASSERT_TRUE(m.decode(0x7F3C90));
  EXPECT_EQ(MidiHex(m.data(), static_cast<size_t>(m.size())), "903c7f");
  ASSERT_TRUE(m.decode(0x00403E));   // running status: two data bytes
  EXPECT_EQ(MidiHex(m.data(), static_cast<size_t>(m.size())), "3e40");
  EXPECT_EQ(m.status(), 0x90);
  ASSERT_TRUE(m.decode(0xFFFFF8));   // real time: one byte, running status kept
  EXPECT_EQ(m.size(), 1);
  ASSERT_TRUE(m.decode(0x0041));
  EXPECT_EQ(MidiHex(m.data(), static_cast<size_t>(m.size())), "4100");
  ASSERT_TRUE(m.decode(0x05F3));     // song select ends running status
  EXPECT_EQ(MidiHex(m.data(), static_cast<size_t>(m.size())), "f305");
  EXPECT_FALSE(m.decode(0x0041));
  EXPECT_FALSE(m.decode(0xF0));      // system exclusive is never short
  EXPECT_FALSE(m.decode(0x80C090));  // a status byte where data belongs
  ASSERT_TRUE(m.decode(0x9905C5));   // program change ignores the third byte
  EXPECT_EQ(MidiHex(m.data(), static_cast<size_t>(m.size())), "c505");
  EXPECT_FALSE(m.decode(0x99C5));    // but not a bad second one
}

TEST(MidiBytes, HeldNotesBecomeNoteOffsThenSustainAndAllNotesOff) {
  MidiHeldNotes held;
  EXPECT_FALSE(held.any());
  held.follow(0x90, 60, 100);
  held.follow(0x91, 64, 1);
  held.follow(0x90, 67, 100);
  held.follow(0x90, 67, 0);   // a note-on with velocity 0 ends it
  held.follow(0x92, 10, 5);
  held.follow(0xB2, 123, 0);  // all notes off on channel 3
  ASSERT_TRUE(held.any());
  std::vector<uint8_t> bytes = held.releaseAll();
  ASSERT_EQ(bytes.size(), 2 * 3 + 16 * 6u);
  EXPECT_EQ(MidiHex(bytes.data(), 6), "803c00814000");
  EXPECT_EQ(MidiHex(bytes.data() + 6, 6), "b04000b07b00");
  EXPECT_EQ(MidiHex(bytes.data() + bytes.size() - 6, 6), "bf4000bf7b00");
  EXPECT_FALSE(held.any());
  EXPECT_EQ(held.releaseAll().size(), 16 * 6u);
}

TEST(CaptureMidi, LogLinesHaveTheSendTimeAndTheBytesAsSent) {
  qtest::TempDir dir;
  int64_t now = 1000000;
  CaptureMidiSystem set(dir.file("cap"), 4, [&] { return now; });
  auto port = Open(set, 1);
  now = 1000250;
  EXPECT_EQ(port->shortMessage(0x643C90), kMidiOk);  // note-on, 3 bytes
  EXPECT_EQ(port->shortMessage(0x00003E), kMidiOk);  // running status: 2 data bytes (high byte 0)
  EXPECT_EQ(port->shortMessage(0xAA05C1), kMidiOk);  // program change: 2 bytes whatever bits 16-23 hold
  EXPECT_EQ(port->shortMessage(0xFEFEF8), kMidiOk);  // clock: 1 byte
  now = 1001000;
  const uint8_t gs[] = {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7};
  EXPECT_EQ(port->longMessage(gs, sizeof gs), kMidiOk);
  EXPECT_EQ(port->reset(), kMidiOk);
  EXPECT_EQ(port->setVolume(0x7FFFFFFF), kMidiOk);
  uint32_t v = 0;
  EXPECT_EQ(port->getVolume(&v), kMidiOk);
  EXPECT_EQ(v, 0x7FFFFFFFu);
  EXPECT_EQ(port->close(), kMidiOk);
  EXPECT_EQ(Lines(set.logPath(1)),
            (std::vector<std::string>{"open", "1000250 903c64", "1000250 3e00", "1000250 c105",
                                      "1000250 f8", "1001000 f04110421240007f0041f7", "reset",
                                      "volume 7fffffff", "close"}));
  // Nothing reached the others.
  EXPECT_TRUE(Lines(set.logPath(0)).empty());
  EXPECT_TRUE(Lines(set.logPath(-1)).empty());
}

TEST(CaptureMidi, DevicesAreTheMapperAndFourNumberedOnesWithTheirFiles) {
  qtest::TempDir dir;
  dir.write("cap/dev2.log", "left over from an earlier run\n");
  CaptureMidiSystem set(dir.file("cap"));
  EXPECT_EQ(set.deviceCount(), 4);
  EXPECT_EQ(set.productName(-1), "Capture mapper");
  EXPECT_EQ(set.productName(0), "Capture 0");
  EXPECT_EQ(set.productName(3), "Capture 3");
  EXPECT_EQ(set.productName(4), "");
  EXPECT_EQ(set.productName(-2), "");
  EXPECT_TRUE(set.supportsVolume(-1));
  EXPECT_FALSE(set.supportsVolume(4));
  EXPECT_EQ(set.logPath(-1), dir.file("cap/mapper.log"));
  EXPECT_EQ(set.logPath(2), dir.file("cap/dev2.log"));
  // Listing touches nothing; the first open starts every file afresh.
  EXPECT_FALSE(std::filesystem::exists(dir.file("cap/dev0.log")));
  EXPECT_EQ(qtest::ReadText(dir.file("cap/dev2.log")), "left over from an earlier run\n");
  std::unique_ptr<MidiOutPort> port;
  ASSERT_EQ(set.open(0, &port), kMidiOk);
  port->close();
  for (const char* name : {"mapper.log", "dev0.log", "dev1.log", "dev2.log", "dev3.log"})
    EXPECT_TRUE(std::filesystem::exists(dir.file(std::string("cap/") + name))) << name;
  EXPECT_EQ(qtest::ReadText(dir.file("cap/dev2.log")), "");
  port.reset();
  EXPECT_EQ(set.open(4, &port), kMidiBadDevice);
  EXPECT_EQ(set.open(-2, &port), kMidiBadDevice);
  EXPECT_EQ(set.open(0, nullptr), kMidiInvalidParam);
  EXPECT_EQ(port, nullptr);
}

TEST(CaptureMidi, BadCallsAreRefusedAndLeaveNoLine) {
  qtest::TempDir dir;
  CaptureMidiSystem set(dir.file("cap"), 4, [] { return int64_t{5}; });
  auto port = Open(set, -1);
  EXPECT_EQ(port->shortMessage(0x0000F0), kMidiInvalidParam);
  EXPECT_EQ(port->shortMessage(0x00403C), kMidiInvalidParam);  // no running status yet
  EXPECT_EQ(port->shortMessage(0x00C090), kMidiInvalidParam);  // status byte as data
  EXPECT_EQ(port->longMessage(nullptr, 3), kMidiInvalidParam);
  const uint8_t one = 0xF8;
  EXPECT_EQ(port->longMessage(&one, 0), kMidiInvalidParam);
  EXPECT_EQ(port->getVolume(nullptr), kMidiInvalidParam);
  EXPECT_EQ(port->close(), kMidiOk);
  EXPECT_EQ(port->close(), kMidiInvalidHandle);
  EXPECT_EQ(port->shortMessage(0x643C90), kMidiInvalidHandle);
  EXPECT_EQ(port->longMessage(&one, 1), kMidiInvalidHandle);
  EXPECT_EQ(port->reset(), kMidiInvalidHandle);
  EXPECT_EQ(port->setVolume(0), kMidiInvalidHandle);
  EXPECT_EQ(Lines(set.logPath(-1)), (std::vector<std::string>{"open", "close"}));
}

TEST(CaptureMidi, UnusableFolderFailsEveryOpen) {
  qtest::TempDir dir;
  std::string file = dir.write("not-a-folder", "x");
  CaptureMidiSystem set(file + "/cap");
  EXPECT_FALSE(set.prepare());
  std::unique_ptr<MidiOutPort> port;
  EXPECT_EQ(set.open(0, &port), kMidiError);
  EXPECT_EQ(port, nullptr);
}

TEST(CaptureMidi, StampsWithTheClockGivenAndVolumeOutlivesThePort) {
  qtest::TempDir dir;
  ManualTimer timer(42000000);
  CaptureMidiSystem set(dir.file("cap"), 4, [&timer] { return timer.nowMicroseconds(); });
  {
    auto a = Open(set, 0);
    auto b = Open(set, 0);  // two opens of one device share its log
    a->shortMessage(0x7F3C90);
    timer.advance(3);
    b->shortMessage(0x003C80);
    a->setVolume(0x00008000);
    // Destroyed without close: closed all the same.
  }
  auto c = Open(set, 0);
  uint32_t v = 0;
  c->getVolume(&v);
  EXPECT_EQ(v, 0x00008000u);
  c->close();
  EXPECT_EQ(Lines(set.logPath(0)),
            (std::vector<std::string>{"open", "open", "42000000 903c7f", "42003000 803c00",
                                      "volume 00008000", "close", "close", "open", "close"}));
}

TEST(CompositeMidi, MapperFirstThenEachPartsDevicesInOrder) {
  qtest::TempDir dir;
  auto mapper = std::make_unique<CaptureMidiSystem>(dir.file("m"), 0);
  std::vector<std::unique_ptr<MidiOutSystem>> parts;
  parts.push_back(std::make_unique<CaptureMidiSystem>(dir.file("a"), 2));
  parts.push_back(std::make_unique<CaptureMidiSystem>(dir.file("none"), 0));
  parts.push_back(std::make_unique<CaptureMidiSystem>(dir.file("b"), 3));
  CompositeMidiSystem all(std::move(mapper), std::move(parts));
  EXPECT_EQ(all.deviceCount(), 5);
  EXPECT_EQ(all.productName(-1), "Capture mapper");
  EXPECT_EQ(all.productName(1), "Capture 1");
  EXPECT_EQ(all.productName(2), "Capture 0");  // the third part's first device
  EXPECT_EQ(all.productName(4), "Capture 2");
  EXPECT_EQ(all.productName(5), "");
  EXPECT_EQ(all.productName(-2), "");
  EXPECT_EQ(all.describe(3), "capture into " + dir.file("b/dev1.log"));
  EXPECT_FALSE(all.supportsVolume(5));

  auto port = Open(all, 3);
  port->shortMessage(0xC0);
  port->close();
  EXPECT_EQ(Lines(dir.file("b/dev1.log")).size(), 3u);
  auto m = Open(all, -1);
  m->close();
  EXPECT_EQ(Lines(dir.file("m/mapper.log")), (std::vector<std::string>{"open", "close"}));
  std::unique_ptr<MidiOutPort> none;
  EXPECT_EQ(all.open(5, &none), kMidiBadDevice);
  EXPECT_EQ(all.open(-7, &none), kMidiBadDevice);

  EXPECT_EQ(QDFindMidiDevice(all, "Capture mapper"), -1);
  EXPECT_EQ(QDFindMidiDevice(all, "Capture 1"), 1);  // the first of equal names
  EXPECT_EQ(QDFindMidiDevice(all, "Capture 9"), kMidiNotFound);
  EXPECT_EQ(QDFindMidiDevice(all, ""), kMidiNotFound);

  CompositeMidiSystem noMapper(nullptr, {});
  EXPECT_EQ(noMapper.deviceCount(), 0);
  EXPECT_EQ(noMapper.productName(-1), "");
  EXPECT_EQ(noMapper.open(-1, &none), kMidiBadDevice);
}
