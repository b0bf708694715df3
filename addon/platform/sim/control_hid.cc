// Control functions of the HID section.
#include <cmath>

#include "platform/sim/control.h"
#include "platform/sim/world.h"

namespace sim {
namespace {

// The device description's members and the IOKit property keys they set.
constexpr std::pair<const char*, const char*> kDeviceProperties[] = {
    {"vendorID", "VendorID"},
    {"productID", "ProductID"},
    {"manufacturer", "Manufacturer"},
    {"product", "Product"},
};

double requireInteger(const Value& v, const char* what, double low, double high) {
  double n = requireNumber(v, what);
  if (n != std::floor(n) || n < low || n > high)
    throw ControlError{std::string(what) + " must be an integer from " + std::to_string(static_cast<int64_t>(low)) +
                       " to " + std::to_string(static_cast<int64_t>(high))};
  return n;
}

Value hidAddDevice(const std::vector<Value>& args) {
  const Value& description = arg(args, 0);
  if (!description.isObject()) throw ControlError{"hid.addDevice({vendorID, productID, manufacturer, product})"};
  platform::HidDeviceObject device;
  for (const auto& [member, key] : kDeviceProperties) {
    const Value& v = description[member];
    // A missing property is missing; one of any other kind is kept as it is.
    if (v.isUndefined() || v.isNull()) continue;
    device.properties.emplace_back(key, prefValueFrom(v));
  }
  return addHidDevice(std::move(device));
}

Value hidRemoveDevice(const std::vector<Value>& args) {
  const double id = requireInteger(arg(args, 0), "deviceId", 0, 2147483647.0);
  if (!removeHidDevice(static_cast<int>(id))) throw ControlError{"hid.removeDevice: no device with that id"};
  return {};
}

Value hidSetOpenResults(const std::vector<Value>& args) {
  const Value& results = arg(args, 0);
  if (!results.isObject()) throw ControlError{"hid.setOpenResults({exclusive, shared})"};
  // IOReturn codes, in their signed or their unsigned 32-bit spelling.
  auto code = [&](const char* name) {
    const Value& v = results[name];
    return v.isUndefined() ? 0.0 : requireInteger(v, name, -2147483648.0, 4294967295.0);
  };
  auto& hid = world().hid;
  hid.exclusiveResult = code("exclusive");
  hid.sharedResult = code("shared");
  return {};
}

Value hidPost(const std::vector<Value>& args) {
  const double id = requireInteger(arg(args, 0), "deviceId", 0, 2147483647.0);
  if (!world().hid.devices.count(static_cast<int>(id))) throw ControlError{"hid.post: no device with that id"};
  const Value& input = arg(args, 1);
  if (!input.isObject()) throw ControlError{"hid.post(deviceId, {usagePage, usage, value})"};
  HidInput in;
  in.deviceId = static_cast<int>(id);
  in.usagePage = static_cast<uint32_t>(requireInteger(input["usagePage"], "usagePage", 0, 4294967295.0));
  in.usage = static_cast<uint32_t>(requireInteger(input["usage"], "usage", 0, 4294967295.0));
  // A CFIndex; kept within the doubles that name an integer exactly.
  in.integer = static_cast<int64_t>(requireInteger(input["value"], "value", -9007199254740991.0, 9007199254740991.0));
  return postHidInput(in);
}

Value hidManager(const std::vector<Value>&) {
  HidManagerState s = hidManagerState();
  Value devices = Value::array();
  for (const auto& [id, options] : s.devices) devices.push(Value::object({{"id", id}, {"options", options}}));
  return Value::object({{"exists", s.exists},
                        {"open", s.open},
                        {"openOptions", s.openOptions ? Value(*s.openOptions) : Value::null()},
                        {"scheduled", s.scheduled},
                        {"devices", std::move(devices)}});
}

Value hidMatching(const std::vector<Value>&) {
  HidManagerState s = hidManagerState();
  if (!s.matching) return Value::null();
  Value matching = Value::object();
  for (const auto& [key, value] : *s.matching) matching.set(key, value);
  return matching;
}

constexpr ControlEntry kHidControl[] = {
    {"hid.addDevice", hidAddDevice},
    {"hid.removeDevice", hidRemoveDevice},
    {"hid.setOpenResults", hidSetOpenResults},
    {"hid.post", hidPost},
    {"hid.manager", hidManager},
    {"hid.matching", hidMatching},
};

}  // namespace

std::span<const ControlEntry> hidControl() { return kHidControl; }

}  // namespace sim
