// A small streaming JSON writer for the tool's --json output: commas and
// nesting are tracked so that commands only say what they print.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

class JsonWriter {
 public:
  explicit JsonWriter(std::ostream& out) : out_(out) {}

  JsonWriter& beginObject() { return open('{'); }
  JsonWriter& endObject() { return close('}'); }
  JsonWriter& beginArray() { return open('['); }
  JsonWriter& endArray() { return close(']'); }
  JsonWriter& key(std::string_view name);
  JsonWriter& value(std::string_view text);
  JsonWriter& value(const char* text) { return value(std::string_view(text)); }
  JsonWriter& value(const std::string& text) { return value(std::string_view(text)); }
  JsonWriter& value(int64_t number);
  JsonWriter& value(int32_t number) { return value(static_cast<int64_t>(number)); }
  JsonWriter& value(uint32_t number) { return value(static_cast<int64_t>(number)); }
  JsonWriter& value(bool flag);
  // Six significant digits; a value that is not finite becomes null.
  JsonWriter& value(double number);
  template <class T>
  JsonWriter& field(std::string_view name, const T& v) {
    key(name);
    return value(v);
  }

  static std::string escape(std::string_view text);

 private:
  JsonWriter& open(char c);
  JsonWriter& close(char c);
  void separate();

  std::ostream& out_;
  std::vector<bool> first_{true};  // per nesting level: nothing written yet
  bool afterKey_ = false;
};
