#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "support/file_record.h"
#include "support/trace.h"
#include "support/tracked_memory.h"
#include "support/url_request.h"
#include "tests/common/test_files.h"

using qtest::TempDir;

namespace {
std::vector<uint8_t> Bytes(size_t n) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 7 + 1);
  return v;
}

struct RecordingRequester : QUrlRequester {
  std::vector<std::string> urls;
  int32_t start(std::string_view url) override {
    urls.emplace_back(url);
    return 0;
  }
};
}  // namespace

TEST(FileRecord, HoldsTheWholeFileAndServesItByOffsetAndSequentially) {
  TempDir dir;
  qtest::StartTrace(dir);
  auto data = Bytes(50);
  QGFILE* f = QGOpenFile(dir.write("a.bin", data), QG_GENERIC_READ);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->dataSize, 50u);
  EXPECT_EQ(f->bufferSize, 56u);
  EXPECT_STREQ(f->name, dir.file("a.bin").c_str());

  uint8_t buf[200] = {};
  EXPECT_EQ(QGGetFile(f, buf, 10, 100), 40u);
  EXPECT_EQ(buf[0], data[10]);
  EXPECT_EQ(buf[39], data[49]);
  EXPECT_EQ(QGGetFile(f, buf, 50, 1), 0u);
  EXPECT_EQ(QGGetFile(f, buf, 0xFFFFFFFFu, 0xFFFFFFFFu), 0u);
  EXPECT_EQ(QWGetFile(nullptr, buf, 0, 1), 0u);

  EXPECT_EQ(QGReadFile(f, buf, 30), 30u);
  EXPECT_EQ(QGReadFile(f, buf, 30), 20u);
  EXPECT_EQ(buf[19], data[49]);
  buf[0] = 0xEE;
  EXPECT_EQ(QGReadFile(f, buf, 30), 0u);
  EXPECT_EQ(buf[0], 0xEE);
  QGCloseFile(40, f);
  QGCloseFile(40, nullptr);
  EXPECT_EQ(QGTrLiveBlocks(), 0);
  EXPECT_EQ(qtest::TraceLines().size(), 0u);  // nothing failed, nothing logged
}

TEST(FileRecord, MaximumLimitsWhatIsRead) {
  TempDir dir;
  std::string name = dir.write("big.bin", Bytes(10000000));
  QGFILE* f = QGOpenFile(name, QG_GENERIC_READ);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->dataSize, 9999999u);
  QGCloseFile(40, f);
  f = QGOpenFile(name, QG_GENERIC_READ, 1280);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->dataSize, 1280u);
  QGCloseFile(40, f);
  EXPECT_EQ(QGGetFileSize(name), 10000000u);
  EXPECT_EQ(QWGetFileSize(name), 10000000u);
}

TEST(FileRecord, RefusesWhatCannotBeServed) {
  TempDir dir;
  qtest::StartTrace(dir);
  EXPECT_EQ(QGOpenFile(dir.write("empty", std::string()), QG_GENERIC_READ), nullptr);
  EXPECT_EQ(QGOpenFile(dir.write("w", "data"), 0x40000000u), nullptr);  // write access
  EXPECT_EQ(QGOpenFile(dir.path().string(), QG_GENERIC_READ), nullptr);  // a folder
  EXPECT_EQ(QGGetFileSize(dir.path().string()), 0u);
  EXPECT_EQ(QGOpenFile(std::string(300, 'x'), QG_GENERIC_READ), nullptr);
  EXPECT_EQ(QGGetFileSize(dir.file("missing")), 0u);
  EXPECT_EQ(QGTrLiveBlocks(), 0);
  auto lines = qtest::TraceLines();
  // The folder is not a file: a URL request was tried for it (not started).
  EXPECT_EQ(lines.at(1), "639 " + QGTrHex(static_cast<uint32_t>(kQGUrlNotStarted)) + " ");
  EXPECT_EQ(lines.at(2), "QGOpenFile ");
}

TEST(FileRecord, MissingNameStartsAUrlRequestOnlyForHttp) {
  TempDir dir;
  qtest::StartTrace(dir);
  RecordingRequester requester;
  QGSetUrlRequester(&requester);
  EXPECT_EQ(QGOpenFile("http://example.invalid/song.mid", QG_GENERIC_READ), nullptr);
  EXPECT_EQ(QGOpenFile(dir.file("nothere.mid"), QG_GENERIC_READ), nullptr);
  QGSetUrlRequester(nullptr);
  ASSERT_EQ(requester.urls.size(), 1u);
  EXPECT_EQ(requester.urls[0], "http://example.invalid/song.mid");
  EXPECT_EQ(QGGetURL("ftp://x"), kQGUrlNotStarted);
  auto lines = qtest::TraceLines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[1], "609 00000000 ");
  EXPECT_EQ(lines[2], "639 00000000 ");
  EXPECT_EQ(lines[3], "639 " + QGTrHex(static_cast<uint32_t>(kQGUrlNotStarted)) + " ");
}

TEST(FileRecord, APathOfAnyLengthTheSystemOpensIsRead) {
  TempDir dir;
  const std::string folder = dir.longFolder(600);
  const std::string name = folder + "/\xe6\x9b\xb2.mid";  // 曲.mid
  ASSERT_GT(name.size(), 600u);
  dir.write(name.substr(dir.path().string().size() + 1), Bytes(20));
  QGFILE* f = QGOpenFile(name, QG_GENERIC_READ);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->dataSize, 20u);
  EXPECT_EQ(std::string(f->name), name);
  QGCloseFile(40, f);
  EXPECT_EQ(QGGetFileSize(name), 20u);
  EXPECT_EQ(QGTrLiveBlocks(), 0);
}

// A song swapped back and forth with a FIFO of the same name: whatever the
// name is when it is opened, the reader gets the song or nothing, and never
// waits for a writer. A watchdog frees a reader that hangs in the FIFO (and
// the test fails); the reader's progress counter tells it so.
TEST(FileRecord, AFifoSwappedInForASongNeverHoldsTheReader) {
  TempDir dir;
  const std::string song = dir.file("song.mid"), real = dir.write("real.keep", Bytes(64));
  const std::string fifo = dir.file("pipe.keep");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  ASSERT_EQ(::link(real.c_str(), song.c_str()), 0);
  std::atomic<bool> stop{false}, hung{false};
  std::atomic<int> progress{0};

  std::thread swapper([&] {
    const std::string next = dir.file("next");
    for (bool toFifo = true; !stop; toFifo = !toFifo) {
      if (::link((toFifo ? fifo : real).c_str(), next.c_str()) == 0) std::rename(next.c_str(), song.c_str());
    }
  });
  std::thread watchdog([&] {
    int seen = -1;
    auto since = std::chrono::steady_clock::now();
    while (!stop) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      if (progress != seen) {
        seen = progress;
        since = std::chrono::steady_clock::now();
      } else if (std::chrono::steady_clock::now() - since > std::chrono::seconds(5)) {
        hung = true;  // the reader waits in the FIFO: a writer lets it go
        int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) ::close(fd);
      }
    }
  });
  int songs = 0, refused = 0;
  for (int i = 0; i < 200000 && !hung && (i < 3000 || songs == 0 || refused == 0); ++i, ++progress) {
    QGFILE* f = QGOpenFile(song, QG_GENERIC_READ);
    if (f) {
      EXPECT_EQ(f->dataSize, 64u);
      ++songs;
    } else {
      ++refused;
    }
    QGCloseFile(40, f);
  }
  stop = true;
  swapper.join();
  watchdog.join();
  EXPECT_FALSE(hung) << "an open waited for a FIFO's writer";
  EXPECT_GT(songs, 0);
  EXPECT_GT(refused, 0);
}
