#include "tools/json_writer.h"

#include <cmath>
#include <cstdio>

void JsonWriter::separate() {
  if (afterKey_) {
    afterKey_ = false;
    return;
  }
  if (!first_.back()) out_ << ',';
  first_.back() = false;
}

JsonWriter& JsonWriter::open(char c) {
  separate();
  out_ << c;
  first_.push_back(true);
  return *this;
}

JsonWriter& JsonWriter::close(char c) {
  if (first_.size() > 1) first_.pop_back();
  out_ << c;
  if (first_.size() == 1) out_ << '\n';
  return *this;
}

JsonWriter& JsonWriter::key(std::string_view name) {
  separate();
  out_ << '"' << escape(name) << "\":";
  afterKey_ = true;
  return *this;
}

JsonWriter& JsonWriter::value(std::string_view text) {
  separate();
  out_ << '"' << escape(text) << '"';
  return *this;
}

JsonWriter& JsonWriter::value(int64_t number) {
  separate();
  out_ << number;
  return *this;
}

JsonWriter& JsonWriter::value(double number) {
  separate();
  if (!std::isfinite(number)) {
    out_ << "null";
    return *this;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", number);
  out_ << text;
  return *this;
}

JsonWriter& JsonWriter::value(bool flag) {
  separate();
  out_ << (flag ? "true" : "false");
  return *this;
}

std::string JsonWriter::escape(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  for (char ch : text) {
    auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += ch;
        }
    }
  }
  return out;
}
