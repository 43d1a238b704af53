// qmidi-tool convert writes exactly the image the engine builds, and says
// clearly why it cannot.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
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
  EXPECT_EQ(RunTool("'" + qtest::TestData("recomposer/recomposer-file_test.rcp") + "' '" + out + "'", dir), 1);
  EXPECT_NE(qtest::ReadText(dir.file("stderr")).find("not a Recomposer v2 song"), std::string::npos);
  EXPECT_NE(qtest::ReadText(dir.file("stderr")).find("9110"), std::string::npos);
  EXPECT_EQ(RunTool("'" + dir.write("short.rcp", std::string("RCM-PC98V2.0(C)COME ON MUSIC")) + "' '" + out + "'", dir), 1);
  EXPECT_NE(qtest::ReadText(dir.file("stderr")).find("too short"), std::string::npos);
  EXPECT_EQ(RunTool("'" + dir.write("song.mid", std::string("MThd")) + "' '" + out + "'", dir), 1);
  EXPECT_EQ(RunTool("'" + dir.file("missing.rcp") + "' '" + out + "'", dir), 1);
  EXPECT_FALSE(std::filesystem::exists(out));
  EXPECT_EQ(RunTool("only-one-argument.rcp", dir), 2);
}
