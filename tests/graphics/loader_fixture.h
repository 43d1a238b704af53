// The loaders' test fixture, shared by the tests that compare with
// reference PNGs (built only where libpng is) and the rest.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "engine/graphics/loaders.h"
#include "platform/message_box.h"
#include "tests/common/test_files.h"

namespace gtest_pictures {

struct Rgb {
  uint8_t red, green, blue;
  bool operator==(const Rgb&) const = default;
};

class CapturedMessages : public MessageSink {
 public:
  void show(std::string_view caption, std::string_view text, MessageIcon icon) override {
    shown.emplace_back(std::string(caption), std::string(text), icon);
  }
  std::vector<std::tuple<std::string, std::string, MessageIcon>> shown;
};

inline Rgb ColourOf(const TQGBitmap& b, uint8_t index) {
  return {b.colours[index].red, b.colours[index].green, b.colours[index].blue};
}

class Loaders : public ::testing::Test {
 protected:
  void TearDown() override { QGFreeBitmap(b); }
  std::string write(const std::string& name, const std::vector<uint8_t>& bytes) {
    return dir.write(name, bytes);
  }
  qtest::TempDir dir;
  TQGBitmap b;
};

}  // namespace gtest_pictures
