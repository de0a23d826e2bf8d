// Identity replies of any length and content, in all three layouts: described
// without reading past the reply, and the raw bytes kept whole for the journal.
#include <algorithm>
#include <cstdint>
#include <span>

#include "run/identity_records.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::span<const std::uint8_t> reply(data, size);
  for (auto describe : {kelvane::DescribeNymIdentity, kelvane::DescribeSeries27Identity,
                        kelvane::DescribeTK720DigestIdentity}) {
    const kelvane::DriveIdentity identity = describe(reply);
    if (identity.lines.empty() || !std::ranges::equal(identity.raw, reply)) __builtin_trap();
  }
  return 0;
}
