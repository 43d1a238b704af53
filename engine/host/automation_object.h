// The engine's automation object TQMIDIOLE: one per client
// object, all of them driving the engine's one player, song reader and WRD
// side. This file holds the member table (names, dispatch numbers, types,
// access, guarded puts) and what each member reaches in the engine; the bus
// side (automation_server.h) maps D-Bus properties, methods and late-bound
// calls onto it. Everything runs on the engine's main thread.
//
// Texts cross as UTF-8: the song's title and memo and the names a Recomposer
// song holds are converted from Shift-JIS here, and every string a get
// returns is cut to 255 characters (never inside one).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

class TForm1;

// The automation types of the member table.
enum class TOleType { I4, BOOL, BSTR, Unknown, Method };

struct TOleMember {
  int32_t dispid;
  const char* name;
  TOleType type;
  bool get;
  bool put;
  bool guarded;     // a put takes effect only while no playback owner exists
  const char* doc;  // what the member reaches (for the interface description)
};

constexpr int kOleMemberCount = 60;
constexpr int32_t kOleDispOnStatusDisp = 60;
constexpr int32_t kOleDispUnknown = -1;  // GetIDsOfNames for a name not in the table

// Identities of the type library (kept as annotations of the bus interface).
inline constexpr const char* kOleLibraryName = "Qmidiexe";
inline constexpr const char* kOleLibraryHelp = "Qmidiexe Library";
inline constexpr const char* kOleLibraryGuid = "{2D45E5E0-F4C3-11D0-AC11-444553540000}";
inline constexpr const char* kOleInterfaceGuid = "{52D83960-FA0F-11D0-A677-444553540000}";
inline constexpr const char* kOleClassGuid = "{52D83961-FA0F-11D0-A677-444553540000}";
inline constexpr const char* kOleEventsGuid = "{FD45E802-FC73-11D0-A677-444553540000}";

// The 60 members in dispatch order (dispid i at index i - 1).
const std::array<TOleMember, kOleMemberCount>& QHOleMembers();
// By dispatch number; null when there is none.
const TOleMember* QHOleMember(int32_t dispid);
// By name, letter case ignored (as GetIDsOfNames); null when there is none.
const TOleMember* QHOleMemberNamed(std::string_view name);

// A text as the bus carries it: UTF-8, at most 255 characters. Shift-JIS
// bytes are converted when sjis is true; otherwise text that is not valid
// UTF-8 (a name a Shift-JIS script wrote) is taken as Shift-JIS.
std::string QHOleText(std::string_view bytes, bool sjis);

// A member's failure (the text reaches the client as the error's message).
struct TOleFailure {
  std::string text;
};
// A value the member refuses (the bus's InvalidArgs; the text names the range).
struct TOleInvalidValue : TOleFailure {};

// The longest MIDIFILENAME a put keeps: the system's path limit. Titles and
// memos keep the 255 characters a get returns.
constexpr size_t kOleMaxPathBytes = 4095;

// The values a put of the member takes, as the player and the option
// dialogs take them; true when value is one of them. words: the range in
// words, for the refusal ("1 to 16 (ms)").
bool QHOleValueAllowed(int32_t dispid, int32_t value, std::string* words);

class TQMIDIOLE {
 public:
  // number: the object's own number (its path's last part), never reused; it
  // is also the playback owner's token, so a released object's number never
  // comes back as another object's.
  TQMIDIOLE(TForm1& form, uint64_t number);

  uint64_t number() const { return number_; }
  // The token OlePlayPointer holds while this object owns playback.
  const void* token() const;
  bool ownsPlayback() const;

  // Properties (I4 and BOOL as 32-bit integers, BOOL -1 true / 0 false;
  // BSTR as UTF-8). Only members of the matching type and access; puts of
  // guarded members change nothing while an owner exists. A value out of
  // the member's range throws TOleInvalidValue and changes nothing.
  int32_t getNumber(int32_t dispid);
  void putNumber(int32_t dispid, int32_t value);
  std::string getText(int32_t dispid);
  void putText(int32_t dispid, const std::string& utf8);

  // The methods (dispids 51 .. 59).
  void call(int32_t dispid);
  void CLOSE();
  void DEVICESET();
  void OPTIONSET();
  void PAUSE();
  void PLAY();
  void RESTART();
  void STATUS();
  void STEP();
  void STOP();

 private:
  static bool ownerFree();
  void takeEngineCode();
  void requireDialogDisplay(const char* member);
  std::string outStatusMemo();
  int32_t outStatusId();

  TForm1& form_;
  uint64_t number_;
  std::string fileName_;  // MIDIFILENAME (UTF-8 path)
  std::string memo_;      // MIDIMEMO (UTF-8)
  std::string title_;     // MIDITITLE (UTF-8)
  int32_t errorCode_ = 0;
};
