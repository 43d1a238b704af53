// qmidi-tool wrd: exit statuses and the JSON keys it prints.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <string>
#include <sys/wait.h>

#include "tests/common/test_files.h"

namespace {

struct ToolRun {
  int status;
  std::string out;
};

ToolRun Tool(const std::string& args) {
  std::string command = std::string(QMIDI_TOOL) + " wrd " + args + " 2>/dev/null";
  ToolRun r{-1, {}};
  FILE* p = popen(command.c_str(), "r");
  if (!p) return r;
  std::array<char, 4096> buf;
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) r.out.append(buf.data(), n);
  int status = pclose(p);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

TEST(WrdTool, PrintsTheTablesAsJson) {
  qtest::TempDir dir;
  std::string script = dir.write("s.wrd", std::string("@PAL(#1,FFF)\r\n@FADE(0,1,0)\r\n@MAG(pic)\r\n\x82\xA0;\r\n@GLINE(1,2,3,4)\r\n"));
  ToolRun r = Tool(script + " --json --raw");
  ASSERT_EQ(r.status, 0) << r.out;
  // Exactly these keys, in this order.
  size_t at = 0;
  for (const char* key : {"{\"entries\":[{\"time\":0,\"op\":16,\"arg\":0}", "\"cells\":[{\"text\":\"82A0\",\"x\":0,\"y\":0,\"colour\":255}]",
                          "\"rects\":[{\"x\":1,\"y\":2,\"width\":3,\"height\":3,\"kind\":4,\"colour\":241,\"colour2\":241}]",
                          "\"pictures\":[{\"x1\":0", "\"palettes\":[{\"target\":1,\"entries\":[[0,0,0,4]",
                          "\"fades\":[{\"from\":1,\"to\":1,\"step\":0}]", "\"slots\":[\"", "\"errorcode\":0}"}) {
    size_t found = r.out.find(key, at);
    ASSERT_NE(found, std::string::npos) << key << "\n" << r.out;
    at = found;
  }
  EXPECT_NE(r.out.find("pic.MAG\",\"\",\""), std::string::npos);

  // Text for people, with the post-pass.
  r = Tool(script + " --offset 192");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("1:0000"), std::string::npos) << r.out;
}

TEST(WrdTool, FailuresAndWrongCommandLines) {
  qtest::TempDir dir;
  EXPECT_EQ(Tool(dir.file("none.wrd")).status, 1);
  ToolRun r = Tool(dir.write("empty.wrd", std::string()) + " --json");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("\"errorcode\":1"), std::string::npos) << r.out;
  EXPECT_EQ(Tool(dir.file("song.mid")).status, 2);
  EXPECT_EQ(Tool("").status, 2);
}

}  // namespace
