#pragma once

#include <string>

#include "api/kelvane.h"
#include "flash/prepared_image.h"
#include "run/drive_families.h"

// A firmware file read and prepared once for its family's drives; only read
// afterwards, by any number of runs at once.
struct kelvane_image {
  const kelvane::DriveFamily* family = nullptr;
  std::string path;
  kelvane::PreparedImage prepared;
};

namespace kelvane {

// The family drive-sim and the journal call `name` ("nym", "tk720-digest");
// null for any other name.
const DriveFamily* FamilyNamed(const char* name);

}  // namespace kelvane
