#include <gtest/gtest.h>

#include "engine/host/command_line.h"

namespace {

TCommandLine Parse(std::vector<std::string> args) { return QHParseCommandLine(args); }

TEST(CommandLine, SongAloneAndNothing) {
  EXPECT_EQ(Parse({}).songName, "");
  TCommandLine r = Parse({"/home/me/My Songs/曲 1.mid"});
  EXPECT_EQ(r.songName, "/home/me/My Songs/曲 1.mid");
  EXPECT_FALSE(r.resetMode);
  EXPECT_FALSE(r.wrdDelay);
  EXPECT_FALSE(r.regServer || r.unregServer || r.automation || r.embedding);
}

TEST(CommandLine, OneOptionAfterTheSong) {
  TCommandLine r = Parse({"song.mid", "/M3"});
  EXPECT_EQ(r.songName, "song.mid");
  EXPECT_EQ(r.resetMode, 3);
  EXPECT_FALSE(r.wrdDelay);
  EXPECT_EQ(Parse({"song.mid", "/dt"}).wrdDelay, 384);
}

TEST(CommandLine, FiveCharactersAreTwoOptions) {
  TCommandLine r = Parse({"song.mid", "/M1D4"});
  EXPECT_EQ(r.resetMode, 1);
  EXPECT_EQ(r.wrdDelay, 48);
  r = Parse({"song.mid", "/d4m1"});
  EXPECT_EQ(r.resetMode, 1);
  EXPECT_EQ(r.wrdDelay, 48);
}

TEST(CommandLine, SameValueTwiceTheLaterTableEntryWins) {
  EXPECT_EQ(Parse({"s.mid", "/DSDT"}).wrdDelay, 384);
  EXPECT_EQ(Parse({"s.mid", "/DTDS"}).wrdDelay, 384);
  EXPECT_EQ(Parse({"s.mid", "/M3M1"}).resetMode, 3);
  EXPECT_EQ(Parse({"s.mid", "/DHDA"}).wrdDelay, -192);
}

TEST(CommandLine, OptionBeforeTheSongNamesNoSong) {
  TCommandLine r = Parse({"/M1", "song.mid"});
  EXPECT_EQ(r.songName, "");
  EXPECT_FALSE(r.resetMode);
  EXPECT_EQ(Parse({"/M1D4", "song.mid"}).songName, "");
  EXPECT_EQ(Parse({"-M1", "song.mid"}).songName, "");
}

TEST(CommandLine, OptionTextMustBeOneOptionOrAPair) {
  // Two words make seven characters: neither one option nor a pair.
  TCommandLine r = Parse({"song.mid", "/M1", "/D4"});
  EXPECT_FALSE(r.resetMode);
  EXPECT_FALSE(r.wrdDelay);
  EXPECT_FALSE(Parse({"song.mid", "/M4"}).resetMode);
  EXPECT_FALSE(Parse({"song.mid", "/M1X"}).resetMode);
  // The option text starts at the first "/" of the words after the song.
  EXPECT_EQ(Parse({"song.mid", "x/M5"}).resetMode, 5);
}

TEST(CommandLine, EveryTableEntry) {
  struct Row {
    const char* option;
    int reset;
    int delay;
  };
  const Row rows[] = {
      {"/M1", 1, 0},    {"/M2", 2, 0},    {"/M3", 3, 0},     {"/M5", 5, 0},    {"/M8", 8, 0},
      {"/DA", -1, 3},   {"/DJ", -1, 0},   {"/DS", -1, 192},  {"/D6", -1, 3},   {"/D3", -1, 6},
      {"/D1", -1, 12},  {"/D8", -1, 24},  {"/D4", -1, 48},   {"/D2", -1, 96},  {"/DT", -1, 384},
      {"/DB", -1, -3},  {"/DC", -1, -6},  {"/DD", -1, -12},  {"/DE", -1, -24}, {"/DF", -1, -48},
      {"/DG", -1, -96}, {"/DH", -1, -192},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.option);
    TCommandLine r = Parse({"song.mid", row.option});
    if (row.reset >= 0) {
      EXPECT_EQ(r.resetMode, row.reset);
      EXPECT_FALSE(r.wrdDelay);
    } else {
      EXPECT_EQ(r.wrdDelay, row.delay);
      EXPECT_FALSE(r.resetMode);
    }
  }
}

TEST(CommandLine, AutomationSwitches) {
  TCommandLine r = Parse({"-REGSERVER"});
  EXPECT_TRUE(r.regServer);
  EXPECT_EQ(r.songName, "");
  EXPECT_TRUE(Parse({"/RegServer"}).regServer);
  EXPECT_TRUE(Parse({"-UNREGSERVER"}).unregServer);
  EXPECT_TRUE(Parse({"-AUTOMATION"}).automation);
  r = Parse({"-Embedding"});
  EXPECT_TRUE(r.embedding);
  EXPECT_FALSE(r.automation);
  EXPECT_EQ(r.songName, "");
  EXPECT_FALSE(Parse({"-REGSERVERX"}).regServer);
}

}  // namespace
