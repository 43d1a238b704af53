// A message box for the user: the engine reports a few failures this way
// (a picture it cannot load, for example), through the sink its host gives
// it (EngineServices::messages); without one the message goes to standard
// error.
// Std-only so that the core may use it.
#pragma once

#include <string_view>

enum class MessageIcon { None, Information, Warning, Error };

class MessageSink {
 public:
  virtual ~MessageSink() = default;
  // Caption and text are UTF-8. Returns when the user has seen the message.
  virtual void show(std::string_view caption, std::string_view text, MessageIcon icon) = 0;
};

// Shows a message through the sink given; without one on standard error.
void QDMessageBox(MessageSink* sink, std::string_view caption, std::string_view text, MessageIcon icon);
