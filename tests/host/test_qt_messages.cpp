// Qt's platform warnings reach the trace log, not the terminal; other
// messages keep Qt's own handling.
#include <gtest/gtest.h>

#include <QLoggingCategory>

#include "engine/host/qt_messages.h"
#include "tests/common/test_files.h"

namespace {

bool Has(const std::vector<std::string>& lines, const std::string& part) {
  for (const std::string& l : lines)
    if (l.find(part) != std::string::npos) return true;
  return false;
}

}  // namespace

TEST(QtMessages, PlatformWarningsGoToTheTraceLogOthersToStandardError) {
  EXPECT_TRUE(QHIsPlatformMessage("qt.qpa.xcb", QStringLiteral("could not connect")));
  EXPECT_TRUE(QHIsPlatformMessage("qt.qpa.wayland", QStringLiteral("anything")));
  EXPECT_TRUE(QHIsPlatformMessage("default", QStringLiteral("This plugin does not support raise()")));
  EXPECT_FALSE(QHIsPlatformMessage("default", QStringLiteral("QFont::setPointSize: Point size <= 0")));
  EXPECT_FALSE(QHIsPlatformMessage("qt.core", QStringLiteral("This")));
  EXPECT_FALSE(QHIsPlatformMessage(nullptr, QStringLiteral("plain")));

  qtest::TempDir dir;
  qtest::StartTrace(dir);
  QHInstallQtMessageHandler();
  QLoggingCategory xcb("qt.qpa.xcb");
  testing::internal::CaptureStderr();
  qCWarning(xcb) << "could not connect to display";
  qWarning("This plugin does not support raise()");
  qWarning("an ordinary warning");
  const std::string err = testing::internal::GetCapturedStderr();
  qInstallMessageHandler(nullptr);
  EXPECT_EQ(err.find("could not connect"), std::string::npos) << err;
  EXPECT_EQ(err.find("does not support"), std::string::npos) << err;
  EXPECT_NE(err.find("an ordinary warning"), std::string::npos) << err;
  const auto trace = qtest::TraceLines();
  EXPECT_TRUE(Has(trace, "Qt qt.qpa.xcb: could not connect to display"));
  EXPECT_TRUE(Has(trace, "This plugin does not support raise()"));
  EXPECT_FALSE(Has(trace, "an ordinary warning"));
}
