#include "driver/drive_families.h"

#include <gtest/gtest.h>

#include <string>

#include "unit_support.h"

namespace kelvane {
namespace {

// Every family's procedure opens its file before it sends anything: a file
// that cannot be read ends the run with status 1 and the drive untouched
// (the port here was never opened).
TEST(DriveFamilies, UnreadableFileEndsTheRunBeforeTheDriveIsTouched) {
  for (int family = 0; family <= 4; ++family) {
    for (const char* name : {"/nonexistent/fw", static_cast<const char*>(nullptr)}) {
      RunOptions options;
      options.family = static_cast<DeviceFamily>(family);
      if (name != nullptr) options.fileName = name;
      const DriveFamily& row = LookUpDriveFamily(options.family);
      SerialPort port;
      unit::Output out, err;
      EXPECT_EQ(row.procedure(port, options, *row.blocks, out.get(), err.get()), 1) << family;
      EXPECT_EQ(out.text(), "Can't open file " + std::string(name ? name : "(null)") + "\r\n")
          << family;
    }
  }
}

}  // namespace
}  // namespace kelvane
