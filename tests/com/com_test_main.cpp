// The COM test run: every scenario of the scripted service, with the real COM
// adapter and a COM shim between the library and the fake, and after every
// test a check that the library gave back whatever the shim handed out.

#include "platform/windows/windows_support.h"
// windows_support.h first: it fixes the Windows version for what follows.
#include <objbase.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <utility>

#include "com/com_shim.h"
#include "com/task_allocations.h"
#include "support/fake_service.h"
#include "vss/com/com_adapter.h"

namespace {

using namespace frostcap;

class ShimBalance : public testing::EmptyTestEventListener {
  // Runs after the fixture is destroyed, so everything must be back by then.
  void OnTestEnd(const testing::TestInfo& /*test*/) override {
    const test::shim::Outstanding left = test::shim::outstanding();
    EXPECT_EQ(left.objects, 0) << "COM objects the library obtained still hold references";
    EXPECT_EQ(left.componentInfo, 0) << "component descriptions not handed back";
    EXPECT_EQ(left.allocations, 0u) << "strings the service handed out were not freed";
    test::shim::endTest();
  }
};

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (!test::shim::watchTaskAllocator()) {
    std::fprintf(stderr, "cannot watch the COM task allocator\n");
    return 1;
  }
  test::FakeService::wrapper = [](std::unique_ptr<vss::BackupComponents> fake) {
    return vss::com::adaptBackupComponents(test::shim::wrap(std::move(fake)));
  };
  testing::UnitTest::GetInstance()->listeners().Append(new ShimBalance);
  return RUN_ALL_TESTS();
}
