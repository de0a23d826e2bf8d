#include "run/drive_families.h"

#include <array>

#include "flash/block_families.h"
#include "run/identity_records.h"

namespace kelvane {

namespace {

// One row per family, in the order of DeviceFamily's values. The TL3xx and
// TK720 monitors answer the identify request in the Nym layout.
constexpr std::array<DriveFamily, 5> DRIVE_FAMILIES{{
    {DeviceFamily::Nym, "Nym", "nym", DescribeNymIdentity, NYM_IDENTITY_BASIC_LENGTH,
     RunReadBackProcedure, PrepareNymImage, &NYM_FAMILY, BackUpRecordStream},
    {DeviceFamily::TL3xx, "TL3xx", "tl3xx", DescribeNymIdentity, NYM_IDENTITY_BASIC_LENGTH,
     RunWordImageProcedure, PrepareWordImage, &TL3XX_FAMILY, BackUpWordImage},
    {DeviceFamily::TK720, "TK720", "tk720", DescribeNymIdentity, NYM_IDENTITY_BASIC_LENGTH,
     RunReadBackProcedure, PrepareTK720Image, &TK720_FAMILY, BackUpChecksummedImage},
    {DeviceFamily::Series27, "27 series", "27", DescribeSeries27Identity, SERIES27_IDENTITY_LENGTH,
     RunWordImageProcedure, PrepareWordImage, &SERIES27_FAMILY, BackUpWordImage},
    {DeviceFamily::TK720Digest, "TK720 digest", "tk720-digest", DescribeTK720DigestIdentity,
     TK720_PERSONALITY_LENGTH, RunTK720DigestProcedure, PrepareTK720DigestImage,
     &TK720_DIGEST_FAMILY, nullptr},
}};

constexpr bool RowsInFamilyOrder() {
  for (std::size_t i = 0; i < DRIVE_FAMILIES.size(); ++i) {
    if (static_cast<std::size_t>(DRIVE_FAMILIES[i].family) != i) return false;
  }
  return true;
}
static_assert(RowsInFamilyOrder(), "LookUpDriveFamily indexes the table by DeviceFamily");

}  // namespace

const DriveFamily& LookUpDriveFamily(DeviceFamily family) {
  return DRIVE_FAMILIES[static_cast<std::size_t>(family)];
}

}  // namespace kelvane
