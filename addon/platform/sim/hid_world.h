// The simulated desktop's HID devices and the values they send; part of the
// world (world.h).
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace platform {
// A simulated HID device: its properties under their IOKit keys.
struct HidDeviceObject {
  std::vector<std::pair<std::string, PrefValue>> properties;
};
struct HidElementObject {
  uint32_t usagePage = 0;
  uint32_t usage = 0;
  const HidDeviceObject* device = nullptr;
};
// What a HidValueRef points to in the simulation.
struct HidValueObject {
  HidElementObject element;
  int64_t integer = 0;
};
}  // namespace platform

namespace sim {

struct HidInput {
  int deviceId = 0;
  uint32_t usagePage = 0;
  uint32_t usage = 0;
  int64_t integer = 0;
};

struct HidManagerState {
  bool exists = false;
  bool open = false;
  std::optional<uint32_t> openOptions;  // while open
  bool scheduled = false;
  std::optional<std::vector<std::pair<std::string, int64_t>>> matching;  // when set
  std::vector<std::pair<int, uint32_t>> devices;  // (id, options) held open
};

struct HidWorld {
  std::map<int, platform::HidDeviceObject> devices;  // by id; nodes never move
  int nextDeviceId = 1;
  // What opening a device answers, for exclusive and for shared use, as given
  // (IOReturn codes, possibly written as unsigned 32-bit numbers).
  double exclusiveResult = 0;
  double sharedResult = 0;
  std::deque<HidInput> queue;
};

// HID: values reach a manager only while the run loop runs, and only an open,
// scheduled manager that matches the device. postHidInput answers false when
// no manager would receive the value, which is then lost.
int addHidDevice(platform::HidDeviceObject device);
// The device is unplugged; false when there is none of that id.
bool removeHidDevice(int id);
bool postHidInput(const HidInput& input);
HidManagerState hidManagerState();
void deliverHidInputs();

}  // namespace sim
