// The headers for C and C++ hosts: messages rendered exactly as the frostcap
// command renders them, UTF-16 to UTF-8 with the snprintf contract, and the
// RAII snapshot's verdict as the simulated service records it, and live paths
// found inside the copies by the table every binding shares.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "frostcap.hpp"
#include "frostcap_sim.h"
#include "messages.h"

namespace {

frostcap::string utf16(std::string_view ascii) { return {ascii.begin(), ascii.end()}; }

std::string rendered(const frostcap::string& message) { return frostcap::render(message); }

// In UTF-8, as the frostcap command uses it, and in UTF-16, as hosts do.
TEST(HostHeaders, ALivePathIsFoundInsideTheCopyOfItsVolume) {
  std::ifstream file(FROSTCAP_LISTING_DIR "/copy_paths.json");
  const nlohmann::json table = nlohmann::json::parse(file);
  const auto volumes = table["volumes"].get<std::vector<std::string>>();
  const auto mountPaths = table["mountPaths"].get<std::vector<std::string>>();
  std::vector<frostcap::string> wideVolumes, wideMountPaths;
  for (const std::string& volume : volumes) wideVolumes.push_back(utf16(volume));
  for (const std::string& mountPath : mountPaths) wideMountPaths.push_back(utf16(mountPath));
  for (const auto& row : table["cases"]) {
    const std::string live = row[0];
    const std::optional<std::string> expected =
        row[1].is_null() ? std::nullopt : std::optional(row[1].get<std::string>());
    EXPECT_EQ(frostcap::copyPath(live, volumes, mountPaths), expected) << live;
    std::optional<frostcap::string> wanted;
    if (expected) wanted = utf16(*expected);
    EXPECT_TRUE(frostcap::copyPath(utf16(live), wideVolumes, wideMountPaths) == wanted) << live;
  }
}

TEST(HostHeaders, RenderMessagesAsTheCommandDoes) {
  std::vector<std::string> messages = {
      "{FATAL_PREFIX}{ERR_INIT_VSS} (0x80004001: Not implemented)",
      "{WARNING_PREFIX}{ERR_FILE_SET}",
      "{FATAL_PREFIX}{WARNING_PREFIX}{ERR_BAD_GUID} x",
      "{ERR_UNKNOWN_TOKEN} {ERR_NO_VOLUMES}",
      "unclosed {ERR_INIT_VSS",
      "{{ERR_NOT_READY}}",
      "{FATAL_PREFIX} {ERR_UNCAUGHT}",
      "",
  };
  // Every token of the one table, alone and after a severity.
  for (const auto& entry : frostcap::cli::tokenTexts()) {
    messages.push_back("{" + std::string(entry.token) + "}");
    messages.push_back("{FATAL_PREFIX}{" + std::string(entry.token) + "} (detail)");
  }
  for (const std::string& message : messages)
    EXPECT_EQ(rendered(utf16(message)), frostcap::cli::renderMessage(message)) << message;
}

TEST(HostHeaders, TextsBecomeUtf8AndAreCutAsSnprintfCuts) {
  struct Case {
    frostcap::string text;
    std::string utf8;
  };
  const Case cases[] = {
      {FROSTCAP_TEXT("C:\\Données\\€"),
       "C:\\Donn\xC3\xA9"
       "es\\\xE2\x82\xAC"},
      {frostcap::string{0xD83D, 0xDE00}, "\xF0\x9F\x98\x80"},  // a surrogate pair
      {frostcap::string{0xD83D, 'a', 0xDE00},
       "\xEF\xBF\xBD"
       "a\xEF\xBF\xBD"},  // halves alone
      {frostcap::string{'{', 'E', 'R', 'R', '_', 'N', 'O', 'T', '_', 'R', 'E', 'A', 'D', 'Y', '}'},
       "{ERR_NOT_READY}"},  // frostcap_to_utf8 renders no token
  };
  for (const Case& c : cases) {
    char out[64];
    EXPECT_EQ(frostcap_to_utf8(c.text.data(), c.text.size(), out, sizeof out), c.utf8.size());
    EXPECT_EQ(std::string(out), c.utf8);
  }
  const frostcap::string message = FROSTCAP_TEXT("{FATAL_PREFIX}{ERR_NOT_READY}");
  const std::string whole = frostcap::cli::renderMessage("{FATAL_PREFIX}{ERR_NOT_READY}");
  char small[8] = "xxxxxxx";
  EXPECT_EQ(frostcap_render_message(message.data(), message.size(), small, sizeof small),
            whole.size());
  EXPECT_EQ(std::string(small), whole.substr(0, 7));
  EXPECT_EQ(frostcap_render_message(message.data(), message.size(), nullptr, 0), whole.size());
}

// The verdict the writers were told, from the simulated service's record.
std::vector<std::string> verdicts() {
  std::vector<std::string> told;
  for (std::size_t i = 0; i < frostcap_sim_recordCount(); ++i) {
    const std::string entry = frostcap_sim_recordEntry(i);
    if (entry.find("\"call\":\"SetBackupSucceeded\"") == std::string::npos) continue;
    told.push_back(entry.find("true)") != std::string::npos ? "true" : "false");
  }
  return told;
}

TEST(HostHeaders, SnapshotTellsSuccessOnlyAfterComplete) {
  frostcap::Options options;
  options.volumes = {FROSTCAP_TEXT("C:\\")};
  options.components = {{frostcap::ComponentType::database,
                         FROSTCAP_TEXT("{5D1A2C40-7E3B-4F6A-9C21-0A1B2C3D4E51}"),
                         FROSTCAP_TEXT("Mail"),
                         FROSTCAP_TEXT("Mailbox Database"),
                         {}}};
  struct Case {
    const char* how;
    bool complete;
    bool moved;
    const char* told;
  };
  for (const Case c :
       {Case{"completed", true, false, "true"}, Case{"dropped", false, false, "false"},
        Case{"moved and thrown out of", false, true, "false"},
        Case{"moved, completed, then thrown out of", true, true, "true"}}) {
    ASSERT_EQ(frostcap_sim_loadScenario(FROSTCAP_EXAMPLES_DIR "/two-writers.json"), 0);
    try {
      frostcap::Snapshot first = frostcap::Snapshot::take(options);
      EXPECT_EQ(first.mountPaths().size(), 1u);
      EXPECT_EQ(first.files().size(), 5u);
      if (c.moved) {
        // The moved-from snapshot frees nothing when it goes.
        frostcap::Snapshot second = std::move(first);
        if (c.complete) second.complete();
        throw std::runtime_error("the copy failed");
      }
      if (c.complete) first.complete();
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(verdicts(), std::vector<std::string>{c.told}) << c.how;
  }
  // A phase that fails throws with the messages, and the backup is not told
  // of success.
  options.components[0].writerId = FROSTCAP_TEXT("not a guid");
  ASSERT_EQ(frostcap_sim_loadScenario(FROSTCAP_EXAMPLES_DIR "/two-writers.json"), 0);
  try {
    frostcap::Snapshot::take(options);
    ADD_FAILURE() << "a bad writer id was taken";
  } catch (const frostcap::Error& error) {
    EXPECT_FALSE(error.messages().empty());
    EXPECT_NE(std::string(error.what()).find("a writer id is not a GUID in braces"),
              std::string::npos)
        << error.what();
  }
  EXPECT_EQ(verdicts(), std::vector<std::string>{});
  frostcap_sim_unload();
}

}  // namespace
