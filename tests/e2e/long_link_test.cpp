// The one long run: a drive that never answers gets all 1000 identify
// attempts, about 200 seconds of read time-outs. It is disabled in the
// default suite and run on its own by
//   kelvane_e2e_tests --gtest_also_run_disabled_tests --gtest_filter='LONG_*'

#include <string>
#include <vector>

#include "tests/e2e/harness.h"

namespace kelvane::e2e {
namespace {

// 1000 time-outs of 200 ms, with room for a loaded machine.
constexpr auto THOUSAND_ATTEMPTS_LIMIT = 600s;

TEST(LONG_LinkEstablishment, DISABLED_SilentDriveGetsAThousandAttemptsThenTheRunFails) {
  TempDir dir;
  dir.Write("fw.s", SRecordLine('2', 3, 0x010000, {1, 2, 3, 4}));
  DriveSim sim(dir, "nym", {"--silent"});
  ASSERT_TRUE(sim.Started());

  LoaderResult run = RunLoader(dir, &sim, {"fw.s"}, THOUSAND_ATTEMPTS_LIMIT);

  EXPECT_TRUE(RanAs(run, 1,
                    Banner() + sim.PortLine() + Countdown(1000) +
                        "Failed to establish connection with selected device\r\n\r\n"));
  Bytes flash;
  ASSERT_TRUE(sim.Stop(flash));
  // Every attempt reached the drive, and nothing but identify requests did.
  const std::vector<std::string> log = Lines(sim.Log());
  EXPECT_EQ(log.size(), 1000u);
  for (const std::string& line : log) ASSERT_EQ(line, "IDENTIFY silent");
  EXPECT_TRUE(SameFlash(Erased(NYM_FLASH_SIZE), flash));
}

}  // namespace
}  // namespace kelvane::e2e
