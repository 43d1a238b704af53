#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "support/guard.h"
#include "support/trace.h"
#include "support/tracked_memory.h"
#include "tests/common/test_files.h"

using qtest::TempDir;
using qtest::TraceLines;

TEST(Trace, FirstEntryRecreatesFileAndEntriesHaveTheirShapes) {
  TempDir dir;
  dir.write("QUORTRC.LOG", "old run\r\nold entry\n");
  qtest::StartTrace(dir);
  // Nothing logged yet: the previous run's file is untouched.
  EXPECT_EQ(qtest::ReadText(dir.file("QUORTRC.LOG")), "old run\r\nold entry\n");

  QGTrText("QGGlobalAlloc ");
  QGTrNum(-5);
  QGTrNumText(639, "text here");
  QGTrNumHex(601, 0xABCDEF);
  EXPECT_EQ(qtest::ReadText(dir.file("QUORTRC.LOG")),
            "TRACE ON\nQGGlobalAlloc \n-5\n639 text here\n601 00ABCDEF \n");
}

TEST(Trace, DeletedFileStopsEntriesAndIsNotRecreated) {
  TempDir dir;
  qtest::StartTrace(dir);
  QGTrText("one");
  std::filesystem::remove(dir.file("QUORTRC.LOG"));
  QGTrText("two");
  EXPECT_FALSE(std::filesystem::exists(dir.file("QUORTRC.LOG")));
  EXPECT_EQ(QGTrEntryCount(), 2);
}

TEST(Trace, CapStopsAtThreeHundredThousandEntries) {
  TempDir dir;
  qtest::StartTrace(dir);
  for (int i = 0; i < 300005; ++i) QGTrNum(i);
  auto lines = TraceLines();
  ASSERT_EQ(lines.size(), 300001u);  // "TRACE ON" + 300000 entries
  EXPECT_EQ(lines.back(), "299999");
}

TEST(Trace, LinesFromManyThreadsNeverInterleave) {
  TempDir dir;
  qtest::StartTrace(dir);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < 200; ++i) QGTrNumText(t, std::string(100, static_cast<char>('a' + t)));
    });
  for (auto& th : threads) th.join();
  auto lines = TraceLines();
  ASSERT_EQ(lines.size(), 801u);
  EXPECT_EQ(lines[0], "TRACE ON");
  for (size_t i = 1; i < lines.size(); ++i) {
    ASSERT_EQ(lines[i].size(), 102u) << lines[i];
    char c = lines[i][2];
    EXPECT_EQ(lines[i], std::to_string(c - 'a') + ' ' + std::string(100, c));
  }
}

TEST(Trace, UnwritableProgramFolderFallsBackToStateHome) {
  TempDir state;
  setenv("XDG_STATE_HOME", state.path().c_str(), 1);
  QGTrOpen("/nonexistent-qmidi-folder/program");
  EXPECT_EQ(QGTrFilePath(), (state.path() / "QUOR" / "QUORTRC.LOG").string());
}

TEST(Trace, InstalledProgramWritesToStateHomeThoughItsFolderIsWritable) {
  TempDir state, prefix;
  setenv("XDG_STATE_HOME", state.path().c_str(), 1);
  std::filesystem::create_directories(prefix.path() / "bin");
  // A build folder (no data folder beside it) keeps the log beside the program.
  QGTrOpen((prefix.path() / "bin" / "program").string());
  EXPECT_EQ(QGTrFilePath(), (prefix.path() / "bin" / "QUORTRC.LOG").string());
  // A data folder that is a file marks nothing.
  std::filesystem::create_directories(prefix.path() / "share");
  prefix.write("share/qmidi", "");
  QGTrOpen((prefix.path() / "bin" / "program").string());
  EXPECT_EQ(QGTrFilePath(), (prefix.path() / "bin" / "QUORTRC.LOG").string());
  std::filesystem::remove(prefix.path() / "share" / "qmidi");
  std::filesystem::create_directories(prefix.path() / "share" / "qmidi");
  QGTrOpen((prefix.path() / "bin" / "program").string());
  EXPECT_EQ(QGTrFilePath(), (state.path() / "QUOR" / "QUORTRC.LOG").string());
  QGTrText("entry");
  EXPECT_FALSE(std::filesystem::exists(prefix.path() / "bin" / "QUORTRC.LOG"));
  EXPECT_TRUE(std::filesystem::exists(state.path() / "QUOR" / "QUORTRC.LOG"));
}

TEST(TrackedMemory, DoubleFreeFreesOnceAndReportsOnce) {
  TempDir dir;
  qtest::StartTrace(dir);
  void* p = QGGlobalAllocPtr(302, GPTR, 64);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(static_cast<unsigned char*>(p)[63], 0);
  EXPECT_EQ(QGTrLiveBlocks(), 1);
  EXPECT_TRUE(QGGlobalFreePtr(302, p));
  EXPECT_FALSE(QGGlobalFreePtr(77, p));
  auto lines = TraceLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1], "77 QGTrFree error=" + QGTrHex(reinterpret_cast<uintptr_t>(p)));
  EXPECT_EQ(QGTrLiveBlocks(), 0);
}

TEST(TrackedMemory, UnknownBlockIsReportedAndNotFreed) {
  TempDir dir;
  qtest::StartTrace(dir);
  int onStack = 0;
  EXPECT_FALSE(QGGlobalFree(5, &onStack));  // freeing it would crash
  EXPECT_FALSE(QGGlobalFree(5, nullptr));
  EXPECT_EQ(TraceLines().size(), 2u);  // null is ignored quietly
}

TEST(TrackedMemory, OverflowOfTheTableIsReportedWithAddressSizeAndTag) {
  TempDir dir;
  qtest::StartTrace(dir);
  std::vector<void*> blocks;
  for (int i = 0; i < kTrackedSlots; ++i) blocks.push_back(QGGlobalAllocPtr(1, GPTR, 8));
  void* extra = QGGlobalAllocPtr(9, GPTR, 0x30);
  auto lines = TraceLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1], "10 QGTrAlloc Table Overflow=" + QGTrHex(reinterpret_cast<uintptr_t>(extra)) +
                          " 00000030 9");
  // The untracked block cannot be freed through the helpers; release it directly.
  std::free(extra);
  for (void* b : blocks) EXPECT_TRUE(QGGlobalFreePtr(1, b));
}

TEST(Guard, TrapsLogsTheRoutineNameAndReturnsTheFailureValue) {
  TempDir dir;
  qtest::StartTrace(dir);
  int r = QGuard("TQUORMSTR.ConverterInit", -999, []() -> int { throw std::out_of_range("x"); });
  EXPECT_EQ(r, -999);
  EXPECT_TRUE(QGuardVoid("fine", [] {}));
  EXPECT_FALSE(QGuardVoid("QGFillRect", [] { throw 1; }));
  auto lines = TraceLines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1], "TQUORMSTR.ConverterInit");
  EXPECT_EQ(lines[2], "QGFillRect");
}

TEST(Guard, UserExceptionListsTheRoutinesBeingRun) {
  TempDir dir;
  qtest::StartTrace(dir);
  QGuard("outer", 0, [] {
    return QGuard("inner", 0, [] {
      QGTrUserException("boom");
      return 1;
    });
  });
  auto lines = TraceLines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[1], "UserException boom");
  EXPECT_EQ(lines[2], "outer");
  EXPECT_EQ(lines[3], "inner");
}
