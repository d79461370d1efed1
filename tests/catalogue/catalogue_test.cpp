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
      {u"caf\u00E9 \u65E5\u672C \U0001F4BE", u"caf\u00E9 \u65E5\u672C \U0001F4BE"},
      {u"bad" + std::u16string(1, char16_t{0xD800}), u"bad\uFFFD"},
  };
  for (const auto& [raw, escaped] : cases)
    EXPECT_EQ(escapeCatalogueText(raw), escaped) << utf8(raw);
}

// Writers whose texts need every kind of escape.
std::vector<WriterSpec> awkwardWriters() {
  std::vector<WriterSpec> writers = twoWriters();
  writers[0].components = {
      {1, u"C:\\Program Files\\\"Quoted\"", u"tab\there", true, {}, {}, {}},
      {0, u"", u"", false, {}, {}, {}},  // a type the catalogue has no word for
      {2,
       std::u16string(u"nul\0inside", 10),
       u"caf\u00E9 \u65E5\u672C \U0001F4BE",
       true,
       {},
       {},
       {}},
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

TEST_F(Catalogue, ARebuildReplacesTheLinesAndRewinds) {
  prepareBoth();
  catalogue();
  frostcap_snapshot_loadWriterComponents(handle);
  frostcap_snapshot_loadWriterComponents(handle);
  const std::vector<std::u16string> lines = catalogue();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), u"# Found 2 writer(s) to interrogate"), 1);
  EXPECT_EQ(lines.size(), 6u);
  EXPECT_TRUE(messages().empty());
}

TEST_F(Catalogue, AFailureKeepsWhatWasListedBeforeIt) {
  service.writers.push_back(service.writers[1]);
  service.writers[2].classId = {0xCCCCCCCC, 0, 0, {}};
  frostcap_snapshot_addWriter(handle, host(kDatabaseWriterId));
  frostcap_snapshot_addWriter(handle, host(kFilesWriterId));
  frostcap_snapshot_addWriter(handle, host(u"{CCCCCCCC-0000-0000-0000-000000000000}"));
  ASSERT_EQ(frostcap_snapshot_perform_a(handle), 0);
  service.fail("GetFileCounts", Status(kDenied), 6);  // the third writer, second build
  frostcap_snapshot_loadWriterComponents(handle);
  EXPECT_EQ(catalogue().size(), 1u + 3u + 2u);
  EXPECT_EQ(state().writerCatalogue.size(), 2u);
  EXPECT_EQ(messages(), std::vector<std::u16string>{
                            u"{WARNING_PREFIX} (IVssExamineWriterMetadata::GetFileCounts: " +
                            formatStatus(Status(kDenied)) + u")"});
}

TEST_F(Catalogue, EachCallFailsUnderItsLabelAndReturnsEveryDescription) {
  const std::pair<std::string, std::u16string> steps[] = {
      {"GetWriterMetadataCount", u"IVssBackupComponents::GetWriterMetadataCount"},
      {"GetWriterMetadata", u"IVssBackupComponents::GetWriterMetadata"},
      {"GetComponent", u"IVssExamineWriterMetadata::GetComponent"},
      {"GetComponentInfo", u"IVssWMComponent::GetComponentInfo"},
      {"FreeComponentInfo", u"IVssWMComponent::FreeComponentInfo"},
  };
  prepareBoth();
  messages();
  for (const auto& [op, label] : steps) {
    service.fail(op, Status(kDenied), service.count(op) + 1);
    frostcap_snapshot_loadWriterComponents(handle);
    EXPECT_EQ(messages(), std::vector<std::u16string>{u"{WARNING_PREFIX} (" + label + u": " +
                                                      formatStatus(Status(kDenied)) + u")"});
    EXPECT_EQ(service.ledger().componentInfo, 0) << op;
  }
}

TEST_F(Catalogue, ARecordWhoseDescriptionCouldNotBeHandedBackStaysListed) {
  prepareBoth();
  service.fail("FreeComponentInfo", Status(kDenied), service.count("FreeComponentInfo") + 1);
  frostcap_snapshot_loadWriterComponents(handle);
  EXPECT_EQ(catalogue().size(), 3u);  // header, writer line, the record
  EXPECT_TRUE(state().writerCatalogue.empty());
}

TEST_F(Catalogue, WithoutGatheredMetadataTheServiceAnswers) {
  addVolumes({u"C:\\"});
  ASSERT_EQ(frostcap_snapshot_perform_a(handle), 0);  // volumes only: nothing gathered
  frostcap_snapshot_loadWriterComponents(handle);
  EXPECT_EQ(messages(), std::vector<std::u16string>{
                            u"{WARNING_PREFIX} (IVssBackupComponents::GetWriterMetadataCount: "
                            u"0x80042301: A function call was made when the object was in an "
                            u"incorrect state for that function)"});
}

TEST_F(Catalogue, EachEntryNamesItsOwnWriterOrByPositionWhenTheServiceDoesNotSay) {
  // Two instances of one class answer for a single selected writer.
  for (const bool stated : {true, false}) {
    SCOPED_TRACE(stated ? "identity stated" : "identity not stated");
    ModelService fresh;
    fresh.writers = twoWriters();
    fresh.writers[1].classId = kDatabaseWriterClass;
    if (!stated) fresh.answer("GetIdentity", Status(0x80004001));
    frostcap_snapshot* other = frostcap_snapshot_new();
    frostcap_snapshot_addWriter(other, host(kDatabaseWriterId));
    // Without identities the second entry is a writer nobody selected.
    EXPECT_EQ(frostcap_snapshot_perform_a(other), stated ? 0 : 1);
    frostcap_snapshot_loadWriterComponents(other);
    const std::vector<std::u16string> lines =
        drain(other, frostcap_snapshot_getNextWriterComponent);
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines.back(), u"[\"" + std::u16string(stated ? kDatabaseWriterId : u"") +
                                u"\",\"\",\"Documents\",\"VSS_CT_FILEGROUP\",false]");
    frostcap_snapshot_free(other, 0);
  }
}

}  // namespace
}  // namespace frostcap::test
