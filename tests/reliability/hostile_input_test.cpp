// What a careless or hostile host may pass: null strings and null length
// pointers, a null handle, and strings of a megabyte, with unpaired
// surrogates or control characters, in every string argument. None of it may
// crash or be altered on its way to where the string is used.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "support/scenario.h"

namespace frostcap::test {
namespace {

using Hostile = Scenario;

TEST_F(Hostile, ANullHandleMakesEveryCallDoNothing) {
  const frostcap_char* text = host(u"{AAAAAAAA-0000-0000-0000-000000000001}");
  const std::function<int()> calls[] = {
      [&] { return frostcap_snapshot_addVolumePath(nullptr, text), 0; },
      [&] { return frostcap_snapshot_addWriter(nullptr, text), 0; },
      [&] {
        return frostcap_snapshot_addWriterDatabaseComponentFallback(nullptr, text, text, text,
                                                                    text),
               0;
      },
      [&] {
        return frostcap_snapshot_addWriterFilegroupComponentFallback(nullptr, text, text, text,
                                                                     text),
               0;
      },
      [] { return frostcap_snapshot_setIncrementalMode(nullptr, 5), 0; },
      [] { return frostcap_snapshot_setUseSystemProvider(nullptr), 0; },
      [] { return frostcap_snapshot_perform_a(nullptr) - 1; },
      [] { return frostcap_snapshot_loadWriterComponents(nullptr), 0; },
      [] { return frostcap_snapshot_loadWriterFileInfo(nullptr), 0; },
      [] { return frostcap_snapshot_perform_b(nullptr) - 1; },
      [] { return frostcap_snapshot_free(nullptr, 1), 0; },
      [] { return frostcap_snapshot_free(nullptr, 0), 0; },
  };
  for (std::size_t i = 0; i < std::size(calls); ++i) EXPECT_EQ(calls[i](), 0) << "call " << i;
  for (const GetNext next : kGetNextFunctions) {
    size_t length = 7;
    const frostcap_char* read = next(nullptr, &length);
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read[0], 0);
    EXPECT_EQ(length, 0u);
    read = next(nullptr, nullptr);
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read[0], 0);
  }
  EXPECT_TRUE(service.calls().empty());
}

TEST_F(Hostile, NullLengthPointersAreIgnored) {
  const struct {
    GetNext next;
    StringQueue Snapshot::*queue;
  } queues[] = {
      {frostcap_snapshot_getNextMessage, &Snapshot::messages},
      {frostcap_snapshot_getNextMountPath, &Snapshot::mountPaths},
      {frostcap_snapshot_getNextWriterComponent, &Snapshot::writerComponents},
      {frostcap_snapshot_getNextWriterFileInfo, &Snapshot::writerFileInfo},
      {frostcap_snapshot_getNextWriterExcludedFileInfo, &Snapshot::writerExcludedFileInfo}};
  for (const auto& q : queues) {
    (state().*q.queue).append(u"");
    (state().*q.queue).append(u"entry");
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(q.next(handle, nullptr))), u"entry");
    EXPECT_EQ(q.next(handle, nullptr)[0], 0);
  }
}

TEST_F(Hostile, NullStringsAreTakenAsEmpty) {
  EXPECT_EQ(frostcap_pathIsNetworkPath(nullptr), 1);
  frostcap_snapshot_addVolumePath(handle, nullptr);
  EXPECT_EQ(state().volumePaths, std::vector<std::u16string>{u""});
  frostcap_snapshot_addWriter(handle, nullptr);
  EXPECT_EQ(state().selectedWriters.count(u""), 1u);

  using AddComponent = void (*)(frostcap_snapshot*, const frostcap_char*, const frostcap_char*,
                                const frostcap_char*, const frostcap_char*);
  const struct {
    AddComponent add;
    std::uint32_t type;
  } functions[] = {{frostcap_snapshot_addWriterDatabaseComponentFallback, 1},
                   {frostcap_snapshot_addWriterFilegroupComponentFallback, 2}};
  const std::u16string given[] = {u"{W}", u"Path", u"Name", u"Fallback"};
  for (const auto& function : functions) {
    for (int nulled = 0; nulled < 4; ++nulled) {
      SCOPED_TRACE("type " + std::to_string(function.type) + ", argument " +
                   std::to_string(nulled) + " null");
      std::u16string expected[4];
      const frostcap_char* args[4];
      for (int i = 0; i < 4; ++i) {
        expected[i] = i == nulled ? u"" : given[i];
        args[i] = i == nulled ? nullptr : host(given[i]);
      }
      messages();
      state().selectedWriters.clear();
      function.add(handle, args[0], args[1], args[2], args[3]);
      ASSERT_EQ(state().selectedWriters.size(), 1u);
      EXPECT_EQ(state().selectedWriters.begin()->first, expected[0]);
      EXPECT_EQ(
          selectedComponents(state().selectedWriters.begin()->second),
          (std::vector<ComponentRecord>{{function.type, expected[1], expected[2], expected[3]}}));
      EXPECT_EQ(messages().size(), nulled == 2 ? 1u : 0u) << "a missing name is reported";
    }
  }
}

struct HostileText {
  const char* name;
  std::u16string text;
};

const std::vector<HostileText>& hostileTexts() {
  static const std::vector<HostileText> texts = [] {
    std::u16string megabyte = u"C:\\Dir\u00e9\u4e2d\\";
    while (megabyte.size() < (1u << 20)) megabyte += u"x\\";
    return std::vector<HostileText>{
        {"Megabyte", megabyte},
        {"LoneHighSurrogate", u"a\xD800z"},
        {"LoneLowSurrogate", u"\xDC00"},
        {"ReversedPair", u"\xDE00\xD83D"},
        {"HighSurrogateAtTheEnd", u"path\xD83D"},
        {"ControlCharacters", u"\x01\t\n\r\x1b\x7f\x1f tail"},
    };
  }();
  return texts;
}

enum class Argument { kVolumePath, kWriterId, kLogicalPath, kComponentName, kFallback, kNetwork };

const char* const kArgumentNames[] = {
    "VolumePath", "WriterId", "LogicalPath", "ComponentName", "FallbackLogicalPath", "NetworkPath"};

class HostileString : public Scenario,
                      public testing::WithParamInterface<std::tuple<Argument, std::size_t>> {};

std::u16string takeSnapshotFailed(const std::u16string& detail) {
  return u"{FATAL_PREFIX}{ERR_TAKE_SNAPSHOT} (" + detail + u")";
}

TEST_P(HostileString, ReachesItsUseUnchanged) {
  const auto [argument, index] = GetParam();
  const std::u16string& text = hostileTexts()[index].text;
  switch (argument) {
    case Argument::kVolumePath:
      service.volumes = ModelService::volumesNamed({text});
      frostcap_snapshot_addVolumePath(handle, host(text));
      ASSERT_EQ(frostcap_snapshot_perform_a(handle), 0);
      ASSERT_EQ(frostcap_snapshot_perform_b(handle), 0);
      EXPECT_EQ(state().volumePaths, std::vector<std::u16string>{text});
      EXPECT_EQ(service.count("AddToSnapshotSet"), 1);
      EXPECT_EQ(mountPaths().size(), 1u);
      break;
    case Argument::kWriterId:
      frostcap_snapshot_addWriter(handle, host(text));
      EXPECT_EQ(frostcap_snapshot_perform_a(handle), 1);
      EXPECT_EQ(messages(),
                std::vector<std::u16string>{takeSnapshotFailed(u"{WARNING_PREFIX}{ERR_BAD_GUID}")});
      EXPECT_EQ(state().selectedWriters.begin()->first, text);
      break;
    case Argument::kLogicalPath:
    case Argument::kComponentName: {
      // Not among the writer's components, so both come back in the message.
      const bool isPath = argument == Argument::kLogicalPath;
      const std::u16string path = isPath ? text : u"Store";
      const std::u16string name = isPath ? u"Logs" : text;
      frostcap_snapshot_addWriterDatabaseComponentFallback(handle, host(kDatabaseWriterId),
                                                           host(path), host(name), host(u""));
      EXPECT_EQ(frostcap_snapshot_perform_a(handle), 1);
      EXPECT_EQ(messages(),
                std::vector<std::u16string>{takeSnapshotFailed(
                    u"{FATAL_PREFIX}{ERR_NO_COMPONENT} (Path=" + path + u" Name=" + name + u")")});
      break;
    }
    case Argument::kFallback:
      frostcap_snapshot_addWriterFilegroupComponentFallback(
          handle, host(kDatabaseWriterId), host(u"Old"), host(u"Logs"), host(text));
      EXPECT_EQ(frostcap_snapshot_perform_a(handle), 1);
      EXPECT_EQ(messages(), std::vector<std::u16string>{takeSnapshotFailed(
                                u"{FATAL_PREFIX}{ERR_NO_COMPONENT} (Path=Old Name=Logs)")});
      EXPECT_EQ(state()
                    .selectedWriters.at(kDatabaseWriterId)
                    .selections.at(0)
                    .component.fallbackLogicalPath,
                text);
      break;
    case Argument::kNetwork:
      EXPECT_EQ(frostcap_pathIsNetworkPath(host(text)), 1);
      break;
  }
}

INSTANTIATE_TEST_SUITE_P(
    EveryArgument, HostileString,
    testing::Combine(testing::Values(Argument::kVolumePath, Argument::kWriterId,
                                     Argument::kLogicalPath, Argument::kComponentName,
                                     Argument::kFallback, Argument::kNetwork),
                     testing::Range<std::size_t>(0, hostileTexts().size())),
    [](const auto& info) {
      return std::string(kArgumentNames[static_cast<int>(std::get<0>(info.param))]) +
             hostileTexts()[std::get<1>(info.param)].name;
    });

}  // namespace
}  // namespace frostcap::test
