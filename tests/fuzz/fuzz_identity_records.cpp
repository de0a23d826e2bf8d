// Identity replies of any length and content, in all three layouts.
#include <cstdint>
#include <span>

#include "driver/identity_records.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kelvane::fuzz::File out(kelvane::fuzz::Sink());
  std::span<const std::uint8_t> reply(data, size);
  kelvane::PrintNymIdentity(kelvane::DecodeNymIdentity(reply), out.get());
  kelvane::PrintSeries27Identity(kelvane::DecodeSeries27Identity(reply), out.get());
  kelvane::ShowTK720Personality(reply, out.get());
  kelvane::PrintFirmwarePresence(static_cast<std::uint32_t>(size), out.get());
  return 0;
}
