// Simulated HID manager.
//
// As on the real system, a manager hears a device only when it holds that
// device open and is scheduled on the run loop that runs, and values that
// nobody hears are gone: they do not wait for a later manager.
//
// Opening follows IOKit's IOHIDManagerOpen: the manager is marked open before
// its devices are opened, stays marked open when a device refuses (answering
// that refusal), and while marked open a further open does nothing and
// answers success. Closing takes it off its run loop, then marks it closed and
// closes its devices, answering the first refusal: a device that never opened
// refuses with kIOReturnNotOpen, and so does a closed manager.
//
// Devices reach a manager through the notifications that setting its device
// matching creates: those already plugged in at that moment, then each one
// that appears (opened at once with the manager's options while it is open).
// As in IOKitUser-1955 (macOS 12), taking the manager off its run loop, which
// a close does too, drops those notifications: scheduling it again does not
// bring them back, so a device plugged in later is never seen. Only setting
// the matching again does.
#include <algorithm>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/sim/world.h"

namespace platform {

struct HidManagerObject : sim::Object {
  HidManagerObject() : Object(Kind::hidManager) {}
  ~HidManagerObject() override;
  std::optional<std::vector<std::pair<std::string, int64_t>>> matching;  // as last set
  // The device-matching and removal notifications, alive from a matching's
  // setting until the manager leaves its run loop.
  bool notifications = false;
  std::vector<int> known;  // devices the notifications brought, in order
  HidInputValueCallback callback = nullptr;
  bool scheduled = false;
  bool open = false;  // marked open, whatever its devices answered
  uint32_t openOptions = 0;
  std::vector<std::pair<int, uint32_t>> devices;  // (device id, options) it really holds open
};

}  // namespace platform

namespace sim {
namespace {

constexpr int32_t kIOReturnBadArgument = static_cast<int32_t>(0xE00002C2);
constexpr int32_t kIOReturnNotOpen = static_cast<int32_t>(0xE00002CD);

// Managers that exist, oldest first; the objects remove themselves when freed.
std::vector<platform::HidManagerObject*>& liveManagers() {
  static auto& managers = *new std::vector<platform::HidManagerObject*>();  // immortal: see world()
  return managers;
}

bool propertyEquals(const platform::PrefValue& property, int64_t wanted) {
  switch (property.kind) {
    case platform::PrefValue::Kind::integer: return property.integer == wanted;
    case platform::PrefValue::Kind::real: return property.real == static_cast<double>(wanted);
    default: return false;
  }
}

bool matches(const platform::HidManagerObject& manager, const platform::HidDeviceObject& device) {
  if (!manager.matching) return false;
  for (const auto& [key, wanted] : *manager.matching) {
    bool found = false;
    for (const auto& [name, property] : device.properties)
      if (name == key) found = propertyEquals(property, wanted);
    if (!found) return false;
  }
  return true;
}

bool holdsOpen(const platform::HidManagerObject& manager, int deviceId) {
  return std::any_of(manager.devices.begin(), manager.devices.end(),
                     [deviceId](const auto& d) { return d.first == deviceId; });
}

std::vector<platform::HidManagerObject*> receivers(int deviceId) {
  std::vector<platform::HidManagerObject*> list;
  for (auto* manager : liveManagers())
    if (manager->open && manager->scheduled && manager->callback && holdsOpen(*manager, deviceId))
      list.push_back(manager);
  return list;
}

// Values queued for a manager that has just stopped listening are lost.
void dropUnheardInputs() {
  auto& queue = world().hid.queue;
  queue.erase(std::remove_if(queue.begin(), queue.end(),
                             [](const HidInput& input) { return receivers(input.deviceId).empty(); }),
              queue.end());
}

// The unsigned spelling of an IOReturn (0xE00002C5) and the signed one name
// the same code.
int32_t asIOReturn(double given) {
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<int64_t>(given)));
}

// IOHIDDeviceOpen of one device with the manager's options: what the world
// says an open of that kind answers, in the spelling it was given.
double openDevice(platform::HidManagerObject& manager, int deviceId) {
  const auto& hid = world().hid;
  const double given = (manager.openOptions & platform::kHidOpenSeizeDevice) ? hid.exclusiveResult : hid.sharedResult;
  if (asIOReturn(given) == platform::kHidSuccess) manager.devices.emplace_back(deviceId, manager.openOptions);
  return given;
}

bool knows(const platform::HidManagerObject& manager, int deviceId) {
  return std::find(manager.known.begin(), manager.known.end(), deviceId) != manager.known.end();
}

void forget(std::vector<std::pair<int, uint32_t>>& held, int deviceId) {
  std::erase_if(held, [deviceId](const auto& d) { return d.first == deviceId; });
}

// A device the notifications bring: known, and opened when the manager is.
void deviceAdded(platform::HidManagerObject& manager, int deviceId) {
  if (knows(manager, deviceId)) return;
  manager.known.push_back(deviceId);
  if (manager.open) openDevice(manager, deviceId);
}

}  // namespace

// The old world's devices are unplugged from the managers that outlive it;
// ids are never given twice, so a stale one never names a new device.
void resetHid() {
  auto& hid = world().hid;
  while (!hid.devices.empty()) removeHidDevice(hid.devices.begin()->first);
  hid.exclusiveResult = 0;
  hid.sharedResult = 0;
  hid.queue.clear();
}

int addHidDevice(platform::HidDeviceObject device) {
  auto& hid = world().hid;
  const int id = hid.nextDeviceId++;
  const auto& added = hid.devices.emplace(id, std::move(device)).first->second;
  for (auto* manager : liveManagers())
    if (manager->notifications && matches(*manager, added)) deviceAdded(*manager, id);
  return id;
}

bool removeHidDevice(int id) {
  auto& hid = world().hid;
  if (!hid.devices.count(id)) return false;
  // The device is gone, so no manager holds it open; one whose removal
  // notification was dropped still lists it among its devices.
  for (auto* manager : liveManagers()) {
    forget(manager->devices, id);
    if (manager->notifications) std::erase(manager->known, id);
  }
  std::erase_if(hid.queue, [id](const HidInput& input) { return input.deviceId == id; });
  hid.devices.erase(id);
  return true;
}

bool postHidInput(const HidInput& input) {
  if (receivers(input.deviceId).empty()) return false;
  world().hid.queue.push_back(input);
  return true;
}

HidManagerState hidManagerState() {
  HidManagerState state;
  if (liveManagers().empty()) return state;
  const auto* manager = liveManagers().back();
  state.exists = true;
  state.open = manager->open;
  if (manager->open) state.openOptions = manager->openOptions;
  state.scheduled = manager->scheduled;
  state.matching = manager->matching;
  state.devices = manager->devices;
  return state;
}

void deliverHidInputs() {
  auto& queue = world().hid.queue;
  while (!queue.empty()) {
    const HidInput input = queue.front();
    queue.pop_front();
    auto list = receivers(input.deviceId);
    if (list.empty()) continue;
    const platform::HidValueObject value{
        {input.usagePage, input.usage, &world().hid.devices.at(input.deviceId)}, input.integer};
    for (auto* manager : list) {
      retain(manager);  // the callback may drop its owner's reference
      if (manager->open && manager->callback) manager->callback(&value);
      release(manager);
    }
  }
}

}  // namespace sim

namespace platform {

HidManagerObject::~HidManagerObject() {
  auto& managers = sim::liveManagers();
  managers.erase(std::remove(managers.begin(), managers.end(), this), managers.end());
  // A released manager closes its devices and leaves its run loop.
  if (open || scheduled) {
    open = scheduled = notifications = false;
    devices.clear();
    sim::dropUnheardInputs();
  }
}

HidManager createHidManager() noexcept {
  auto* manager = new HidManagerObject();
  sim::liveManagers().push_back(manager);
  return HidManager::adopt(manager);
}

// As IOHIDManagerSetDeviceMatchingMultiple: the manager lets go of its
// devices and notifications, then makes new ones, which bring every matching
// device plugged in now (opened at once when the manager is open).
void setHidDeviceMatching(HidManagerObject* manager, std::span<const HidNumberMatch> matching) noexcept {
  if (!manager) return;
  manager->matching.emplace();
  for (const auto& m : matching) manager->matching->emplace_back(m.key, m.value);
  manager->known.clear();
  manager->devices.clear();
  manager->notifications = true;
  for (const auto& [id, device] : sim::world().hid.devices)
    if (sim::matches(*manager, device)) sim::deviceAdded(*manager, id);
  sim::dropUnheardInputs();
}

void registerHidInputValueCallback(HidManagerObject* manager, HidInputValueCallback callback) noexcept {
  if (manager) manager->callback = callback;
}

// IOHIDManagerScheduleWithRunLoop asserts that the manager is on no run loop
// yet: on macOS a second schedule ends the process.
void scheduleHidManagerOnMainRunLoop(HidManagerObject* manager) noexcept {
  if (!manager) return;
  if (manager->scheduled) {
    sim::log("hidFault", sim::Value::object({{"what", "scheduleTwice"}}));
    return;
  }
  manager->scheduled = true;
}

void unscheduleHidManagerFromMainRunLoop(HidManagerObject* manager) noexcept {
  if (!manager || !manager->scheduled) return;
  manager->scheduled = false;
  manager->notifications = false;
  sim::dropUnheardInputs();
}

int32_t openHidManager(HidManagerObject* manager, uint32_t options) noexcept {
  double result = kHidSuccess;
  if (!manager) {
    result = sim::kIOReturnBadArgument;
  } else if (!manager->open) {
    manager->open = true;
    manager->openOptions = options;
    // The first refusal among the devices is the answer; the others still
    // open. A device unplugged while no removal notification listened is
    // still listed, and opens nothing.
    for (int id : manager->known) {
      if (!sim::world().hid.devices.count(id) || sim::holdsOpen(*manager, id)) continue;
      const double opened = sim::openDevice(*manager, id);
      if (sim::asIOReturn(result) == kHidSuccess) result = opened;
    }
  }
  sim::log("hidOpen", sim::Value::object({{"options", options}, {"result", result}}));
  return sim::asIOReturn(result);
}

int32_t closeHidManager(HidManagerObject* manager, uint32_t) noexcept {
  if (!manager) return sim::kIOReturnBadArgument;
  unscheduleHidManagerFromMainRunLoop(manager);
  if (!manager->open) return sim::kIOReturnNotOpen;
  manager->open = false;
  // IOHIDDeviceClose of a device whose open was refused answers not-open;
  // one unplugged while no removal notification listened is skipped, as in
  // the open.
  const bool refused = std::any_of(manager->known.begin(), manager->known.end(), [manager](int id) {
    return sim::world().hid.devices.count(id) && !sim::holdsOpen(*manager, id);
  });
  manager->devices.clear();
  sim::dropUnheardInputs();
  return refused ? sim::kIOReturnNotOpen : kHidSuccess;
}

HidElementRef hidValueElement(HidValueRef value) noexcept { return value ? &value->element : nullptr; }

int64_t hidValueInteger(HidValueRef value) noexcept { return value ? value->integer : 0; }

uint32_t hidElementUsagePage(HidElementRef element) noexcept { return element ? element->usagePage : 0; }

uint32_t hidElementUsage(HidElementRef element) noexcept { return element ? element->usage : 0; }

HidDeviceRef hidElementDevice(HidElementRef element) noexcept { return element ? element->device : nullptr; }

PrefValue hidDeviceProperty(HidDeviceRef device, std::string_view key) noexcept {
  if (!device) return {};
  for (const auto& [name, property] : device->properties)
    if (name == key) return property;
  return {};
}

}  // namespace platform
