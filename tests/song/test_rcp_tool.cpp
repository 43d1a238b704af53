// qmidi-tool convert writes exactly the image the engine builds, and says
// clearly why it cannot.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "engine/song/rcp_converter.h"
#include "tests/common/test_files.h"

namespace {

int RunTool(const std::string& args, const qtest::TempDir& dir) {
  std::string cmd = std::string("'") + QMIDI_TOOL_PATH + "' convert " + args + " >'" + dir.file("stdout") +
                    "' 2>'" + dir.file("stderr") + "'";
  int status = std::system(cmd.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST(ConvertCommand, WritesTheEngineImageByteForByte) {
  qtest::TempDir dir;
  std::string in = qtest::TestData("recomposer/sted-cli_test.rcp");
  std::vector<uint8_t> rcp = qtest::ReadBytes(in);
  ASSERT_FALSE(rcp.empty());
  std::vector<uint8_t> image;
  ASSERT_TRUE(RcpToSmfImage(rcp.data(), rcp.size(), false, &image));
  // The extension decides the layout whatever its letter case.
  std::string upper = dir.write("SONG.RCP", rcp);
  ASSERT_EQ(RunTool("'" + upper + "' '" + dir.file("out.mid") + "'", dir), 0);
  EXPECT_EQ(qtest::ReadBytes(dir.file("out.mid")), image);
  EXPECT_NE(qtest::ReadText(dir.file("stdout")).find("18 tracks"), std::string::npos);

  // A song of 36 tracks read with both layouts.
  std::string r36 = dir.write("song.r36", qtest::ReadBytes(qtest::TestData("recomposer/src_test_old.rcp")));
  ASSERT_EQ(RunTool("'" + r36 + "' '" + dir.file("out36.mid") + "' --json", dir), 0);
  EXPECT_NE(qtest::ReadText(dir.file("stdout")).find("\"tracks\":36"), std::string::npos);
}

TEST(ConvertCommand, RefusalsAreClearAndWriteNothing) {
  qtest::TempDir dir;
  std::string out = dir.file("out.mid");
  std::vector<uint8_t> damaged = qtest::ReadBytes(qtest::TestData("recomposer/recomposer-file_test.rcp"));
  ASSERT_FALSE(damaged.empty());
  damaged[27] = '2';  // "RCP2.0"
  EXPECT_EQ(RunTool("'" + dir.write("damaged.g36", damaged) + "' '" + out + "'", dir), 1);
  EXPECT_NE(qtest::ReadText(dir.file("stderr")).find("not a Recomposer song"), std::string::npos);
  EXPECT_NE(qtest::ReadText(dir.file("stderr")).find("9110"), std::string::npos);
  EXPECT_EQ(RunTool("'" + dir.write("short.rcp", std::string("RCM-PC98V2.0(C)COME ON MUSIC")) + "' '" + out + "'", dir), 1);
  EXPECT_NE(qtest::ReadText(dir.file("stderr")).find("too short"), std::string::npos);
  EXPECT_EQ(RunTool("'" + dir.write("song.mid", std::string("MThd")) + "' '" + out + "'", dir), 1);
  EXPECT_EQ(RunTool("'" + dir.file("missing.rcp") + "' '" + out + "'", dir), 1);
  EXPECT_FALSE(std::filesystem::exists(out));
  EXPECT_EQ(RunTool("only-one-argument.rcp", dir), 2);
}

// An RCP 3.0 song under any name, with the GSD it names beside it in
// another letter case: the set-up measure leads the file unless
// --no-setup; a file it names that is missing is said once and the song
// is written without it.
TEST(ConvertCommand, Rcp3SongsAndTheirSetupMeasure) {
  qtest::TempDir dir;
  std::vector<uint8_t> g36 = qtest::ReadBytes(qtest::TestData("recomposer/recomposer-file_test.rcp"));
  ASSERT_GE(g36.size(), 0x2B8u);
  const std::string out = dir.file("out.mid");
  ASSERT_EQ(RunTool("'" + dir.write("Plain.G36", g36) + "' '" + out + "' --json", dir), 0);
  EXPECT_NE(qtest::ReadText(dir.file("stdout")).find("\"layout\":\"RCP 3.0\""), std::string::npos);
  EXPECT_NE(qtest::ReadText(dir.file("stdout")).find("\"setupMessages\":0"), std::string::npos);

  std::memcpy(g36.data() + 0x298, "MYGS.GSD", 8);
  std::memcpy(g36.data() + 0x2B8, "GONE.CM6", 8);
  std::vector<uint8_t> gsd(0xA71, 0x40);
  std::memcpy(gsd.data(), "COME ON MUSIC", 13);
  std::memcpy(gsd.data() + 0x0E, "GS CONTROL 1.0", 14);
  dir.write("mygs.gsd", gsd);
  const std::string song = dir.write("song.dat", g36);
  ASSERT_EQ(RunTool("'" + song + "' '" + out + "' --json", dir), 0);
  const std::string json = qtest::ReadText(dir.file("stdout"));
  EXPECT_NE(json.find("\"setupMessages\":156"), std::string::npos) << json;
  EXPECT_EQ(json.find("\"setupTicks\":0"), std::string::npos) << json;
  const std::string err = qtest::ReadText(dir.file("stderr"));
  EXPECT_NE(err.find("GONE.CM6"), std::string::npos);
  EXPECT_EQ(err.find("GONE.CM6"), err.rfind("GONE.CM6"));
  const std::vector<uint8_t> with = qtest::ReadBytes(out);
  ASSERT_EQ(RunTool("'" + song + "' '" + out + "' --no-setup", dir), 0);
  EXPECT_LT(qtest::ReadBytes(out).size() + 156 * 12, with.size());
  EXPECT_TRUE(qtest::ReadText(dir.file("stderr")).empty());
}
