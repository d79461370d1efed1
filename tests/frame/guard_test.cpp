#include "frame/guard.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace frostcap {
namespace {

TEST(Guard, PassesTheResultThroughAndMakesEveryExceptionAFailureText) {
  const struct {
    const char* what;
    StepResult (*routine)();
    bool ok;
    std::u16string text;
  } cases[] = {
      {"success", [] { return StepResult::success(); }, true, u""},
      {"failure", [] { return StepResult::failure(u"why"); }, false, u"why"},
      {"standard", []() -> StepResult { throw std::runtime_error("disk"); }, false,
       u"{FATAL_PREFIX}: disk"},
      // what() texts are UTF-8 and arrive as the same characters.
      {"non-ASCII",
       []() -> StepResult {
         throw std::runtime_error("d\xC3\xA9j\xC3\xA0 \xE2\x82\xAC \xF0\x9F\x92\xBE");
       },
       false, u"{FATAL_PREFIX}: d\u00E9j\u00E0 \u20AC \U0001F4BE"},
      {"not standard", []() -> StepResult { throw 42; }, false, u"{FATAL_PREFIX}: {ERR_UNCAUGHT}"},
  };
  for (const auto& c : cases) {
    const StepResult result = runGuarded(c.routine);
    EXPECT_EQ(result.ok, c.ok) << c.what;
    EXPECT_EQ(result.text, c.text) << c.what;
  }
}

}  // namespace
}  // namespace frostcap
