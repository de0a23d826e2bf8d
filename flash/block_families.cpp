#include "flash/block_families.h"

#include "flash/checksum_sector.h"
#include "image/record_stream.h"
#include "image/word_image.h"

namespace kelvane {

const BlockFamily NYM_FAMILY{
    .blockSize = 256,
    .order = ByteOrder::MostSignificantFirst,
    .writeBase = 0,
    .readBackOffset = 0x2000,
    .readLengthFieldBytes = 2,
    .unit = "sector",
    .writeFailureShowsCode = true,
    .driveName = "Nym7700",
    .blockPastImage = true,
    .imageArea = NYM_IMAGE_AREA,
    .readArea = NYM_IMAGE_AREA,
};

const BlockFamily TL3XX_FAMILY{
    .blockSize = 128,
    .order = ByteOrder::LeastSignificantFirst,
    .writeBase = 0,
    .readBackOffset = 0,
    .readLengthFieldBytes = 2,
    .unit = "sector",
    .writeFailureShowsCode = false,
    .driveName = "TL3xx",
    .blockPastImage = true,
    .imageArea = TL3XX_IMAGE_AREA,
    .maxImageLength = 65919,
    // The 516 sectors that the longest image is sent in.
    .readArea = 516 * 128,
};

const BlockFamily SERIES27_FAMILY{
    .blockSize = 256,
    .order = ByteOrder::LeastSignificantFirst,
    .writeBase = 0,
    .readBackOffset = 0,
    .readLengthFieldBytes = 2,
    .unit = "sector",
    .writeFailureShowsCode = false,
    .driveName = "TL3xx",
    .blockPastImage = true,
    .imageArea = SERIES27_IMAGE_AREA,
    .maxImageLength = static_cast<int>(CHECKSUM_SECTOR_ADDRESS) - 1,
    .checksumSector = true,
    .readArea = CHECKSUM_SECTOR_ADDRESS,
};

const BlockFamily TK720_FAMILY{
    .blockSize = 256,
    .order = ByteOrder::LeastSignificantFirst,
    .writeBase = 0x4000,
    .readBackOffset = 0,
    .readLengthFieldBytes = 4,
    .unit = "block",
    .writeFailureShowsCode = false,
    .driveName = "TK720",
    // Its flash ends at 2 MiB.
    .readArea = 0x200000 - 0x4000,
};

const BlockFamily TK720_DIGEST_FAMILY{
    .blockSize = 256,
    .order = ByteOrder::LeastSignificantFirst,
    .writeBase = 0x8000,
    .readBackOffset = 0,
    .readLengthFieldBytes = 4,
    .unit = "block",
    .writeFailureShowsCode = false,
    .driveName = "TK720",
};

}  // namespace kelvane
