// The component catalogue: its lines as the host reads them, checked with a
// real JSON parser, and what a failure leaves behind.

#include "catalogue/catalogue.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "support/scenario.h"

namespace frostcap::test {
namespace {

constexpr std::uint32_t kDenied = 0x80070005;

TEST(EscapeCatalogueText, EscapesQuotesBackslashesAndControlCharactersOnly) {
  const std::pair<std::u16string, std::u16string> cases[] = {
      {u"", u""},
      {u"plain", u"plain"},
      {u"App\\Data", u"App\\u005cData"},
      {u"say \"hi\"", u"say \\u0022hi\\u0022"},
      {u"tab\there\nline", u"tab\\u0009here\\u000aline"},
      {std::u16string(u"nul\0in", 6), u"nul\\u0000in"},
      {u"\u001F\u007F", u"\\u001f\u007F"},
      {u"caf\u00E9 \u65E5\u672C \U0001F4BE \U0010FFFF",
       u"caf\u00E9 \u65E5\u672C \U0001F4BE \U0010FFFF"},
      {u"bad" + std::u16string(1, char16_t{0xD800}), u"bad\uFFFD"},
  };
  for (const auto& [raw, escaped] : cases)
    EXPECT_EQ(escapeCatalogueText(raw), escaped) << utf8(raw);
}

// Writers whose texts need every kind of escape.
std::vector<WriterSpec> awkwardWriters() {
  std::vector<WriterSpec> writers = twoWriters();
  const std::u16string nul(u"nul\0inside", 10);
  writers[0].components = {
      {1, u"C:\\Program Files\\\"Quoted\"", u"tab\there", true, {}, {}, {}},
      {0, u"", u"", false, {}, {}, {}},  // a type the catalogue has no word for
      {2, nul, u"caf\u00E9 \u65E5\u672C \U0001F4BE", true, {}, {}, {}},
  };
  writers[1].components = {};
  return writers;
}

class Catalogue : public Scenario {
 protected:
  void prepareBoth() {
    frostcap_snapshot_addWriter(handle, host(kDatabaseWriterId));
    frostcap_snapshot_addWriter(handle, host(kFilesWriterId));
    ASSERT_EQ(frostcap_snapshot_perform_a(handle), 0);
  }
};

TEST_F(Catalogue, EveryRecordIsJsonThatDecodesToTheReportedTexts) {
  service.writers = awkwardWriters();
  prepareBoth();
  const std::vector<std::u16string> lines = catalogue();
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0], u"# Found 2 writer(s) to interrogate");
  EXPECT_EQ(lines[1], u"# Writer 0 has 3 component(s)");
  EXPECT_EQ(lines[5], u"# Writer 1 has 0 component(s)");
  const char* kTypes[] = {"VSS_CT_DATABASE", "", "VSS_CT_FILEGROUP"};
  for (std::size_t i = 0; i < 3; ++i) {
    const ComponentSpec& component = service.writers[0].components[i];
    const nlohmann::json record = nlohmann::json::parse(utf8(lines[2 + i]));
    ASSERT_TRUE(record.is_array());
    ASSERT_EQ(record.size(), 5u);
    EXPECT_EQ(record[0], "{AAAAAAAA-0000-0000-0000-000000000001}");
    EXPECT_EQ(record[1].get<std::string>(), utf8(component.logicalPath));
    EXPECT_EQ(record[2].get<std::string>(), utf8(component.name));
    EXPECT_EQ(record[3], kTypes[i]);
    EXPECT_EQ(record[4], component.selectable);
  }
  // The records for matching keep the texts as reported, and the type too.
  EXPECT_EQ(state().writerCatalogue.at(0)[2].logicalPath, std::u16string(u"nul\0inside", 10));
  EXPECT_EQ(state().writerCatalogue.at(0)[1].componentType, 0u);
  EXPECT_TRUE(state().writerCatalogue.at(1).empty());
}

// A rebuild replaces what the preparation listed. A failure keeps the lines
// listed before it, the record whose description could not be handed back
// included, but not the writer it stopped at for matching.
TEST_F(Catalogue, ARebuildThatFailsKeepsWhatItListedBeforeTheFailure) {
  service.writers.push_back(service.writers[1]);
  service.writers[2].classId = {0xCCCCCCCC, 0, 0, {}};
  frostcap_snapshot_addWriter(handle, host(kDatabaseWriterId));
  frostcap_snapshot_addWriter(handle, host(kFilesWriterId));
  frostcap_snapshot_addWriter(handle, host(u"{CCCCCCCC-0000-0000-0000-000000000000}"));
  ASSERT_EQ(frostcap_snapshot_perform_a(handle), 0);
  const struct {
    std::string op;
    int inRebuild;  // which of the rebuild's calls fails
    std::size_t lines, writers;
  } cases[] = {{"GetFileCounts", 3, 1 + 3 + 2, 2}, {"FreeComponentInfo", 1, 3, 0}};
  for (const auto& c : cases) {
    service.fail(c.op, Status(kDenied), service.count(c.op) + c.inRebuild);
    frostcap_snapshot_loadWriterComponents(handle);
    EXPECT_EQ(catalogue().size(), c.lines) << c.op;
    EXPECT_EQ(state().writerCatalogue.size(), c.writers) << c.op;
    EXPECT_EQ(messages().size(), 1u) << c.op;  // its text: the fault sweep's
  }
}

TEST_F(Catalogue, EachEntryNamesItsOwnWriterOrByPositionWhenTheServiceDoesNotSay) {
  // Two instances of one class answer for a single selected writer.
  for (const bool stated : {true, false}) {
    SCOPED_TRACE(stated ? "identity stated" : "identity not stated");
    Session session;
    session.service.writers[1].classId = kDatabaseWriterClass;
    if (!stated) session.service.answer("GetIdentity", Status(0x80004001));
    frostcap_snapshot_addWriter(session.handle, host(kDatabaseWriterId));
    // Without identities the second entry is a writer nobody selected.
    EXPECT_EQ(frostcap_snapshot_perform_a(session.handle), stated ? 0 : 1);
    frostcap_snapshot_loadWriterComponents(session.handle);
    const std::vector<std::u16string> lines = session.catalogue();
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines.back(), u"[\"" + std::u16string(stated ? kDatabaseWriterId : u"") +
                                u"\",\"\",\"Documents\",\"VSS_CT_FILEGROUP\",false]");
  }
}

}  // namespace
}  // namespace frostcap::test
