// Set-up files to messages: what each GSD and CM6 area becomes, the
// checksums, the pacing, and how a song's named files are found.
#include <gtest/gtest.h>

#include "engine/song/setup_files.h"
#include "tests/common/test_files.h"
#include "tests/song/rcp_builder.h"
#include "tests/song/setup_builder.h"

namespace {

using Bytes = std::vector<uint8_t>;

uint32_t AddressOf(const RcpSetupMessage& m) {
  return uint32_t{m.bytes[5]} << 16 | m.bytes[6] << 8 | m.bytes[7];
}

Bytes DataOf(const RcpSetupMessage& m) { return Bytes(m.bytes.begin() + 8, m.bytes.end() - 2); }

// Every message a Roland data set: checksum right, waits at least the
// module's need on top of the transfer.
void ExpectWellFormed(const std::vector<RcpSetupMessage>& messages, uint8_t model,
                      uint32_t dataWaitMs) {
  for (const RcpSetupMessage& m : messages) {
    ASSERT_GE(m.bytes.size(), 11u);
    EXPECT_EQ(Bytes(m.bytes.begin(), m.bytes.begin() + 5), (Bytes{0xF0, 0x41, 0x10, model, 0x12}));
    EXPECT_EQ(m.bytes.back(), 0xF7);
    uint32_t sum = 0;
    for (size_t i = 5; i + 1 < m.bytes.size(); ++i) sum += m.bytes[i];
    EXPECT_EQ(sum & 0x7F, 0u);
    EXPECT_GE(m.waitMs, dataWaitMs + m.bytes.size() * 32 / 100);
  }
}

}  // namespace

TEST(SetupFiles, GsdBecomesGsDataSetsAfterAReset) {
  const Bytes gsd = qtest::GsdFile();
  std::vector<RcpSetupMessage> out;
  ASSERT_TRUE(GsdSetupMessages(gsd.data(), gsd.size(), 1, &out));
  // Reset; system, reverb, chorus; 9 per part; 4 per drum map.
  ASSERT_EQ(out.size(), 1u + 3 + 16 * 9 + 2 * 4);
  ExpectWellFormed(out, 0x42, kSetupGsDataMs);
  for (const RcpSetupMessage& m : out) EXPECT_EQ(m.port, 1);
  EXPECT_EQ(out[0].bytes,
            (Bytes{0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7}));
  EXPECT_EQ(out[0].waitMs, kSetupGsResetMs + 4);  // 11 bytes take 3.52 ms
  EXPECT_EQ(AddressOf(out[1]), 0x400000u);
  EXPECT_EQ(DataOf(out[1]), Bytes(gsd.begin() + 0x20, gsd.begin() + 0x27));
  EXPECT_EQ(AddressOf(out[2]), 0x400130u);
  EXPECT_EQ(AddressOf(out[3]), 0x400138u);
  EXPECT_EQ(DataOf(out[3]), Bytes(gsd.begin() + 0x2E, gsd.begin() + 0x36));
  // Channel 1's part is block 1: its tone .. reverb send, tone modify,
  // scale tuning, and six controllers. The voice reserve is never sent.
  const size_t ch1 = 0x36;
  EXPECT_EQ(AddressOf(out[4]), 0x401100u);
  EXPECT_EQ(DataOf(out[4]), Bytes(gsd.begin() + ch1, gsd.begin() + ch1 + 0x23));
  EXPECT_EQ(AddressOf(out[5]), 0x401130u);
  EXPECT_EQ(AddressOf(out[6]), 0x401140u);
  EXPECT_EQ(DataOf(out[6]), Bytes(gsd.begin() + ch1 + 0x2B, gsd.begin() + ch1 + 0x37));
  EXPECT_EQ(AddressOf(out[7]), 0x402100u);
  EXPECT_EQ(AddressOf(out[12]), 0x402150u);
  EXPECT_EQ(DataOf(out[12]), Bytes(gsd.begin() + ch1 + 0x37 + 55, gsd.begin() + ch1 + 0x37 + 66));
  // Channel 10 is block 0.
  EXPECT_EQ(AddressOf(out[4 + 9 * 9]), 0x401000u);
  // Drum map 1's levels of notes 27-108, then pan, reverb, chorus; map 2.
  const size_t drums = out.size() - 8;
  EXPECT_EQ(AddressOf(out[drums]), 0x41021Bu);
  Bytes levels = DataOf(out[drums]);
  ASSERT_EQ(levels.size(), 82u);
  EXPECT_EQ(levels[1], gsd[0x7D6 + 4]);
  EXPECT_EQ(AddressOf(out[drums + 1]), 0x41041Bu);
  EXPECT_EQ(DataOf(out[drums + 1])[0], gsd[0x7D6 + 1]);
  EXPECT_EQ(AddressOf(out[drums + 7]), 0x41161Bu);

  Bytes notGsd = gsd;
  notGsd[0x0E] = 'X';
  out.clear();
  EXPECT_FALSE(GsdSetupMessages(notGsd.data(), notGsd.size(), 0, &out));
  EXPECT_FALSE(GsdSetupMessages(gsd.data(), gsd.size() - 1, 0, &out));
  EXPECT_TRUE(out.empty());
}

TEST(SetupFiles, Cm6BecomesMt32DataSetsPacedForTheModule) {
  const Bytes cm6 = qtest::Cm6File();
  std::vector<RcpSetupMessage> out;
  ASSERT_TRUE(Cm6SetupMessages(cm6.data(), cm6.size(), &out));
  ASSERT_EQ(out.size(), 1u + 1 + 64 + 2 + 1 + 8 + 8);
  ExpectWellFormed(out, 0x16, kSetupMt32DataMs);
  EXPECT_EQ(out[0].bytes,
            (Bytes{0xF0, 0x41, 0x10, 0x16, 0x12, 0x7F, 0x00, 0x00, 0x00, 0x01, 0xF7}));
  EXPECT_GE(out[0].waitMs, kSetupMt32ResetMs);
  EXPECT_EQ(AddressOf(out[1]), 0x100000u);
  EXPECT_EQ(DataOf(out[1]), Bytes(cm6.begin() + 0x80, cm6.begin() + 0x97));
  // Timbre memory: 256 bytes each, two address steps apart.
  EXPECT_EQ(AddressOf(out[2]), 0x080000u);
  EXPECT_EQ(AddressOf(out[3]), 0x080200u);
  EXPECT_EQ(DataOf(out[65]), Bytes(cm6.begin() + 0xE34 + 63 * 256, cm6.begin() + 0xE34 + 64 * 256));
  EXPECT_GE(out[2].waitMs, kSetupMt32DataMs + 266 * 32 / 100);
  EXPECT_EQ(AddressOf(out[66]), 0x030110u);  // rhythm keys 24-87
  EXPECT_EQ(AddressOf(out[67]), 0x030310u);  // 88-108
  EXPECT_EQ(AddressOf(out[68]), 0x030000u);  // patch temporary area
  EXPECT_EQ(AddressOf(out[70]), 0x040176u);  // timbre temporary 2 at 0xF6
  EXPECT_EQ(AddressOf(out[84]), 0x050700u);  // patch memory 113-128
  Bytes short_(cm6.begin(), cm6.begin() + 0x4E33);
  EXPECT_FALSE(Cm6SetupMessages(short_.data(), short_.size(), &out));
}

TEST(SetupFiles, NamedFilesAreFoundBesideTheSongInAnyCase) {
  qtest::TempDir dir;
  dir.write("mygs.gsd", qtest::GsdFile());
  dir.write("Port_B.Gsd", qtest::GsdFile());
  RcpHeader header;
  header.gsd = "MYGS.GSD";
  header.gsdB = "PORT_B.GSD";
  header.cm6 = "SOUND.CM6";  // not there
  SongSetup setup = LoadSongSetup(dir.file("SONG.G36"), header);
  ASSERT_EQ(setup.messages.size(), 2u * 156);
  EXPECT_EQ(setup.messages.front().port, 0);
  EXPECT_EQ(setup.messages.back().port, 1);
  ASSERT_EQ(setup.problems.size(), 1u);
  EXPECT_NE(setup.problems[0].find("SOUND.CM6"), std::string::npos);

  // A file of the wrong kind is said and left out; a folder is not a file.
  dir.write("sound.cm6", qtest::GsdFile());
  std::filesystem::create_directory(dir.path() / "MYGS.GSD.D");
  header.gsd = "MYGS.GSD.D";
  header.gsdB.clear();
  setup = LoadSongSetup(dir.file("SONG.G36"), header);
  EXPECT_TRUE(setup.messages.empty());
  EXPECT_EQ(setup.problems.size(), 2u);
  EXPECT_TRUE(LoadSongSetup(dir.file("SONG.G36"), RcpHeader()).problems.empty());
}
