#include "link/device_path.h"
#include "tests/support/case_names.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace p2k {
namespace {

using test::PrintTo;

struct PathCase {
    const char* name;
    std::string path;
    std::optional<uint8_t> number;
};

const std::string kTail = "#6&1a2b3c4d&0&0008#{4e1e1e15-52d7-11d4-852d-00105aa6f80b}";

class DevicePathTest : public testing::TestWithParam<PathCase> {};

TEST_P(DevicePathTest, InterfaceNumberComesFromTheDeviceIdOnly)
{
    EXPECT_EQ(interfaceNumberInPath(GetParam().path), GetParam().number);
    EXPECT_EQ(commandInterfaceNumber(GetParam().path), GetParam().number.value_or(8));
}

INSTANTIATE_TEST_SUITE_P(
    Paths, DevicePathTest,
    testing::Values(
        PathCase{"UsualPhone", "\\\\?\\usb#vid_22b8&pid_4902&mi_08" + kTail, 8},
        PathCase{"LaterPhoneHex", "\\\\?\\usb#vid_22b8&pid_6415&mi_0b" + kTail, 0x0B},
        PathCase{"UpperCase", "\\\\?\\USB#VID_22B8&PID_6415&MI_0B" + kTail, 0x0B},
        PathCase{"MixedCaseDigits", "\\\\?\\usb#vid_22b8&pid_6415&Mi_1F" + kTail, 0x1F},
        PathCase{"InterfaceZero", "\\\\?\\usb#vid_22b8&pid_4902&mi_00" + kTail, 0},
        PathCase{"HighestNumber", "\\\\?\\usb#vid_22b8&pid_4902&mi_ff" + kTail, 0xFF},
        PathCase{"NotFirstAfterVendor", "\\\\?\\usb#mi_05&vid_22b8&pid_4902" + kTail, 5},
        PathCase{"NoInterfacePart", "\\\\?\\usb#vid_22b8&pid_4902" + kTail, std::nullopt},
        PathCase{"OneDigit", "\\\\?\\usb#vid_22b8&pid_4902&mi_8" + kTail, std::nullopt},
        PathCase{"ThreeDigits", "\\\\?\\usb#vid_22b8&pid_4902&mi_008" + kTail, std::nullopt},
        PathCase{"NotHex", "\\\\?\\usb#vid_22b8&pid_4902&mi_0g" + kTail, std::nullopt},
        PathCase{"SignedDigits", "\\\\?\\usb#vid_22b8&pid_4902&mi_-1" + kTail, std::nullopt},
        PathCase{"EmptyDigits", "\\\\?\\usb#vid_22b8&pid_4902&mi_" + kTail, std::nullopt},
        PathCase{"LookAlikePart", "\\\\?\\usb#vid_22b8&pid_4902&xmi_0b" + kTail, std::nullopt},
        PathCase{"OnlyInTheInstancePart", "\\\\?\\usb#vid_22b8&pid_4902#6&mi_0b&0#{4e1e1e15}", std::nullopt},
        PathCase{"DeviceIdNotClosed", "\\\\?\\usb#vid_22b8&pid_4902&mi_0b", std::nullopt},
        PathCase{"NoSeparators", "mi_0b", std::nullopt},
        PathCase{"EmptyPath", "", std::nullopt},
        PathCase{"EmptyParts", "\\\\?\\usb#&&mi_0c&" + kTail, 0x0C}),
    [](const testing::TestParamInfo<PathCase>& info) { return std::string(info.param.name); });

} // namespace
} // namespace p2k
