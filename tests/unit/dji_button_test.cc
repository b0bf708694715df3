// The recognizer checks every value itself, not trusting the manager's
// matching: a manager opened before a matching change, or a platform that
// matches loosely, must still not report another device's button.
#include <gtest/gtest.h>

#include <vector>

#include "platform/sim/world.h"
#include "triggers/dji_button.h"

namespace {
int gReports = 0;
}  // namespace

void pelmora::reportDjiPress() noexcept { ++gReports; }

namespace {

using namespace pelmora;
using platform::PrefValue;

platform::HidDeviceObject receiver() {
  return {{{"VendorID", PrefValue::ofInteger(11427)},
           {"ProductID", PrefValue::ofInteger(16401)},
           {"Manufacturer", PrefValue::ofString("DJI")},
           {"Product", PrefValue::ofString("Wireless Mic Rx")}}};
}

platform::HidDeviceObject with(const char* key, PrefValue value) {
  auto device = receiver();
  for (auto& [name, property] : device.properties)
    if (name == key) property = std::move(value);
  return device;
}

platform::HidDeviceObject without(const char* key) {
  auto device = receiver();
  std::erase_if(device.properties, [&](const auto& p) { return p.first == key; });
  return device;
}

bool isButton(const platform::HidDeviceObject& device, uint32_t page = 0x0C, uint32_t usage = 0xE9) {
  const platform::HidValueObject value{{page, usage, &device}, 1};
  return isDjiMicButtonValue(&value);
}

TEST(DjiButton, TheReceiversButtonOnly) {
  EXPECT_TRUE(isButton(receiver()));
  EXPECT_FALSE(isButton(receiver(), 0x0C, 0xEA));
  EXPECT_FALSE(isButton(receiver(), 0x0B, 0xE9));
  EXPECT_FALSE(isButton(receiver(), 0x0C, 0xE9 + 0x10000));
}

TEST(DjiButton, IdentifiersMustBeThoseNumbers) {
  EXPECT_FALSE(isButton(with("VendorID", PrefValue::ofInteger(11427 + 1))));
  EXPECT_FALSE(isButton(with("ProductID", PrefValue::ofInteger(16401 - 1))));
  EXPECT_FALSE(isButton(with("VendorID", PrefValue::ofInteger(11427 + (int64_t{1} << 32)))));
  EXPECT_FALSE(isButton(with("VendorID", PrefValue::ofString("11427"))));
  EXPECT_FALSE(isButton(with("ProductID", PrefValue::ofBool(true))));
  EXPECT_FALSE(isButton(without("VendorID")));
  EXPECT_FALSE(isButton(without("ProductID")));
  // A number is a number, however it is stored.
  EXPECT_TRUE(isButton(with("VendorID", PrefValue::ofReal(11427.0))));
  EXPECT_FALSE(isButton(with("VendorID", PrefValue::ofReal(11427.5))));
}

TEST(DjiButton, NamesArePrefixAndExactMatch) {
  EXPECT_TRUE(isButton(with("Manufacturer", PrefValue::ofString("DJI Technology Co., Ltd."))));
  EXPECT_TRUE(isButton(with("Manufacturer", PrefValue::ofString("DJIx"))));
  EXPECT_FALSE(isButton(with("Manufacturer", PrefValue::ofString("Dji"))));
  EXPECT_FALSE(isButton(with("Manufacturer", PrefValue::ofString(std::string("DJ\0I", 4)))));
  EXPECT_FALSE(isButton(with("Manufacturer", PrefValue::ofData("DJI"))));
  EXPECT_FALSE(isButton(without("Manufacturer")));
  EXPECT_FALSE(isButton(with("Product", PrefValue::ofString("Wireless Mic Rx "))));
  EXPECT_FALSE(isButton(with("Product", PrefValue::ofString(std::string("Wireless Mic Rx\0", 16)))));
  EXPECT_FALSE(isButton(with("Product", PrefValue::ofData("Wireless Mic Rx"))));
  EXPECT_FALSE(isButton(without("Product")));
}

TEST(DjiButton, ValuesWithoutElementOrDeviceAreIgnored) {
  const platform::HidValueObject orphan{{0x0C, 0xE9, nullptr}, 1};
  EXPECT_FALSE(isDjiMicButtonValue(&orphan));
  EXPECT_FALSE(isDjiMicButtonValue(nullptr));
}

TEST(DjiButton, ReportsOnlyTransitionsToPressed) {
  gDjiButtonDown = false;
  gReports = 0;
  const auto device = receiver();
  const auto other = with("Product", PrefValue::ofString("Other"));
  struct Step {
    const platform::HidDeviceObject* device;
    int64_t integer;
    int reportsAfter;
  };
  const std::vector<Step> steps = {
      {&device, 1, 1}, {&device, 1, 1}, {&device, 255, 1}, {&device, 0, 1}, {&device, 0, 1},
      {&other, 1, 1},  // another device's press neither reports nor counts
      {&device, -1, 2}, {&other, 0, 2}, {&device, 1, 2}, {&device, 0, 2}, {&device, 1, 3},
  };
  for (size_t i = 0; i < steps.size(); ++i) {
    const platform::HidValueObject value{{0x0C, 0xE9, steps[i].device}, steps[i].integer};
    djiInputValueCallback(&value);
    EXPECT_EQ(gReports, steps[i].reportsAfter) << "step " << i;
  }
  EXPECT_TRUE(gDjiButtonDown);
}

}  // namespace
