// qmidi-tool devices: the list people read device numbers from.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "tests/common/test_files.h"

namespace {

struct ToolRun {
  int status = -1;
  std::string out;
};

ToolRun Tool(const std::string& env, const std::string& args) {
  std::string cmd = env + " " + QMIDI_TOOL + " devices " + args + " 2>/dev/null";
  ToolRun r;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return r;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

}  // namespace

TEST(DevicesCommand, CaptureFromTheEnvironmentListsMapperAndFourDevices) {
  qtest::TempDir dir;
  ToolRun r = Tool("QMIDI_CAPTURE=" + dir.file("cap"), "--json");
  ASSERT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("\"count\":4"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("{\"id\":-1,\"name\":\"Capture mapper\",\"present\":true,\"volume\":true"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("{\"id\":3,\"name\":\"Capture 3\""), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("\"id\":4"), std::string::npos) << r.out;
  // Listing leaves the capture folder alone.
  EXPECT_FALSE(std::filesystem::exists(dir.file("cap/dev0.log")));

  ToolRun text = Tool("QMIDI_CAPTURE=" + dir.file("cap"), "");
  ASSERT_EQ(text.status, 0);
  EXPECT_NE(text.out.find("  -1  Capture mapper"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("   2  Capture 2"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find(" 256  none"), std::string::npos) << text.out;
}

TEST(DevicesCommand, RawFilesFollowTheMapper) {
  qtest::TempDir dir;
  std::string a = dir.write("a.mid", "");
  ToolRun r = Tool("env -u QMIDI_CAPTURE", "--raw '" + a + ";" + dir.file("gone") + "' --json");
  ASSERT_EQ(r.status, 0);
  std::string count = "\"count\":";
  size_t at = r.out.find(count);
  ASSERT_NE(at, std::string::npos) << r.out;
  int n = std::atoi(r.out.c_str() + at + count.size());
  ASSERT_GE(n, 2);  // ALSA sequencer ports, if any, come first
  EXPECT_NE(r.out.find("{\"id\":" + std::to_string(n - 2) + ",\"name\":\"" + a + "\",\"present\":true"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("{\"id\":" + std::to_string(n - 1) + ",\"name\":\"\",\"present\":false"),
            std::string::npos)
      << r.out;
}

TEST(DevicesCommand, TheSoftSynthSaysWhatItPlays) {
  ToolRun r = Tool("env -u QMIDI_CAPTURE", "--soundfont /usr/share/sounds/sf2/TimGM6mb.sf2 --json");
  ASSERT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("\"features\":[\"two ports: port A on channels 1-16, port B on 17-32\""), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("GS use for rhythm part"), std::string::npos) << r.out;
  ToolRun text = Tool("env -u QMIDI_CAPTURE", "--soundfont /usr/share/sounds/sf2/TimGM6mb.sf2");
  ASSERT_EQ(text.status, 0);
  EXPECT_NE(text.out.find("        GM, GS and XG resets with their bank selection"), std::string::npos) << text.out;
}
