// qmidi-tool devices: the MIDI output devices as the player numbers them
// (-1 the mapper, then 0 .. n-1), so that people can choose the numbers for
// --devices, and what the soft synth does (its two ports, the GM, GS and XG
// messages it takes). Honours QMIDI_CAPTURE like the player does.
#include <iomanip>
#include <iostream>

#include "platform/mididevices/machine_midi.h"
#include "tools/device_options.h"
#include "tools/json_writer.h"
#include "tools/module_commands.h"
#include "tools/tool_command.h"

QMIDI_TOOL_COMMAND(devices, {
  "devices",
  ModuleCommandSummary("devices"),
  std::string(kDeviceOptionsUsage) + " [--capture DIR] [--json]",
  {"--soundfont", "--gain", "--raw", "--capture"},
  [](const ToolArgs& a) {
    MidiDeviceConfig config;
    ApplyDeviceOptions(a, config);
    config.captureFolder = a.get("--capture");
    std::unique_ptr<MidiOutSystem> machine = MakeMachineMidiDevices(config);
    MidiOutSystem& devices = *machine;

    struct Row {
      int id;
      std::string name;
      bool volume;
      std::string what;
      std::vector<std::string> features;
    };
    std::vector<Row> rows;
    int count = devices.deviceCount();
    for (int id = kMidiMapper; id < count; ++id)
      rows.push_back({id, devices.productName(id), devices.supportsVolume(id), devices.describe(id), devices.features(id)});

    if (a.json()) {
      JsonWriter w(std::cout);
      w.beginObject().field("count", count);
      w.field("capture", MidiCaptureFolder(config));
      w.key("devices").beginArray();
      for (const Row& r : rows) {
        w.beginObject()
            .field("id", r.id)
            .field("name", r.name)
            .field("present", !r.name.empty())
            .field("volume", r.volume)
            .field("what", r.what);
        w.key("features").beginArray();
        for (const std::string& f : r.features) w.value(f);
        w.endArray().endObject();
      }
      w.endArray().endObject();
      return 0;
    }
    for (const Row& r : rows) {
      std::cout << std::setw(4) << r.id << "  "
                << std::left << std::setw(36) << (r.name.empty() ? "(not present)" : r.name)
                << std::setw(8) << (r.volume ? "volume" : "-") << std::right << r.what << '\n';
      for (const std::string& f : r.features) std::cout << "        " << f << '\n';
    }
    std::cout << std::setw(4) << kMidiNoDevice << "  none (leaves an output out of use)\n";
    return 0;
  }})
