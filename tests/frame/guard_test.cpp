#include "frame/guard.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "frame/messages.h"

namespace frostcap {
namespace {

TEST(Guard, PassesTheRoutinesOwnResultThrough) {
  EXPECT_TRUE(runGuarded([] { return StepResult::success(); }).ok);
  const StepResult failed = runGuarded([] { return StepResult::failure(u"why"); });
  EXPECT_FALSE(failed.ok);
  EXPECT_EQ(failed.text, u"why");
}

struct ThrownCase {
  const char* name;
  void (*thrower)();
  std::u16string expected;

  friend void PrintTo(const ThrownCase& c, std::ostream* out) { *out << c.name; }
};

class GuardCatches : public testing::TestWithParam<ThrownCase> {};

TEST_P(GuardCatches, EveryExceptionBecomesAFailureText) {
  const StepResult result = runGuarded([] {
    GetParam().thrower();
    return StepResult::success();
  });
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.text, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Exceptions, GuardCatches,
    testing::Values(
        ThrownCase{"Standard", [] { throw std::runtime_error("disk"); }, u"{FATAL_PREFIX}: disk"},
        // what() texts are UTF-8 and arrive as the same characters.
        ThrownCase{
            "NonAscii",
            [] { throw std::runtime_error("d\xC3\xA9j\xC3\xA0 \xE2\x82\xAC \xF0\x9F\x92\xBE"); },
            u"{FATAL_PREFIX}: d\u00E9j\u00E0 \u20AC \U0001F4BE"},
        ThrownCase{"NotStandard", [] { throw 42; }, u"{FATAL_PREFIX}: {ERR_UNCAUGHT}"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Guard, AFailedPhaseNestsTheDetail) {
  const StepResult result = runGuarded([]() -> StepResult { throw std::runtime_error("disk"); });
  EXPECT_EQ(messages::takeSnapshotFailed(result.text),
            u"{FATAL_PREFIX}{ERR_TAKE_SNAPSHOT} ({FATAL_PREFIX}: disk)");
}

}  // namespace
}  // namespace frostcap
