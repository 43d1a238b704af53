#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "support/byte_view.h"
#include "support/cp932.h"
#include "support/dos_names.h"
#include "tests/common/test_files.h"

using qtest::TempDir;

TEST(Cp932, ConvertsBothWaysIncludingNecExtensionsAndAsciiBytes) {
  // "曲名" in Shift-JIS, a backslash and tilde kept as ASCII, ① (NEC row 13).
  std::string sjis = "\x8B\xC8\x96\xBC\\~\x87\x40";
  std::string utf8 = Cp932ToUtf8(sjis);
  EXPECT_EQ(utf8, "曲名\\~①");
  EXPECT_EQ(Utf8ToCp932(utf8), sjis);
  EXPECT_EQ(Cp932ToUtf8("\xB1\xB2"), "ｱｲ");  // half-width kana
}

TEST(Cp932, BadBytesAreReplacedNotDropped) {
  EXPECT_EQ(Cp932ToUtf8("A\x81"), "A\xEF\xBF\xBD");          // lead byte at the end
  EXPECT_EQ(Cp932ToUtf8("A\xA0" "B"), "A\xEF\xBF\xBD" "B");  // undefined byte
  EXPECT_EQ(Utf8ToCp932("x\xF0\x9F\x8E\xB5y"), "x?y");       // no emoji in CP932
  EXPECT_EQ(Utf8ToCp932("\xC3"), "?");                        // cut UTF-8
  std::string big(100000, 'a');
  EXPECT_EQ(Cp932ToUtf8(big), big);
}

TEST(DosNames, CompanionFilesAreFoundIgnoringCase) {
  TempDir dir;
  dir.write("song.wrd", "x");
  dir.write("PIC/Title.MAG", "x");
  EXPECT_EQ(QGFindFileNoCase(dir.file("SONG.WRD")), dir.file("song.wrd"));
  EXPECT_EQ(QGFindFileNoCase(dir.file("song.wrd")), dir.file("song.wrd"));
  EXPECT_EQ(QGFindFileNoCase(dir.file("song.mag")), "");
  EXPECT_EQ(QGResolveDosName(dir.path().string(), "pic\\TITLE.mag"), dir.file("PIC/Title.MAG"));
  EXPECT_EQ(QGResolveDosName(dir.path().string(), "A:\\PIC\\title.mag"), dir.file("PIC/Title.MAG"));
  EXPECT_EQ(QGResolveDosName(dir.path().string(), "..\\nothing"), "");
  EXPECT_FALSE(QGProgramPath().empty());
}

TEST(ByteView, ReadsInsideAndThrowsOutside) {
  const uint8_t d[] = {1, 2, 3, 4, 5};
  ByteView v(d, sizeof d);
  EXPECT_EQ(v.u32le(1), 0x05040302u);
  EXPECT_EQ(v.u16be(3), 0x0405u);
  EXPECT_THROW(v.u32be(2), std::out_of_range);
  EXPECT_THROW(v.sub(4, 2), std::out_of_range);
  EXPECT_THROW(v.u8(static_cast<size_t>(-1)), std::out_of_range);
  EXPECT_TRUE(v.has(5, 0));
}

TEST(DosNames, AFolderLookedThroughBeforeSeesFilesAddedAndRemovedSince) {
  qtest::TempDir dir;
  dir.write("SONG.MID", "x");
  EXPECT_EQ(QGFindFileNoCase(dir.file("song.wrd")), "");
  dir.write("Song.Wrd", "w");  // the folder changed: looked through again
  EXPECT_EQ(QGFindFileNoCase(dir.file("song.wrd")), dir.file("Song.Wrd"));
  std::filesystem::remove(dir.file("Song.Wrd"));
  EXPECT_EQ(QGFindFileNoCase(dir.file("SONG.WRD")), "");
  for (int i = 0; i < 20; ++i) dir.write("f" + std::to_string(i) + ".mid", "x");
  EXPECT_EQ(QGFindFileNoCase(dir.file("F19.MID")), dir.file("f19.mid"));

  // A folder untouched for a while is kept; a change to it is still seen.
  std::filesystem::last_write_time(dir.path(), std::filesystem::file_time_type::clock::now() - std::chrono::hours(1));
  EXPECT_EQ(QGFindFileNoCase(dir.file("F7.MID")), dir.file("f7.mid"));
  EXPECT_EQ(QGFindFileNoCase(dir.file("new.wrd")), "");
  dir.write("NEW.WRD", "w");
  EXPECT_EQ(QGFindFileNoCase(dir.file("new.wrd")), dir.file("NEW.WRD"));
}
