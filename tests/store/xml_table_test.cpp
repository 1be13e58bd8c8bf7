#include "store/xml_table.hpp"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace vtsd {
namespace {

using Attributes = std::vector<std::pair<std::string, std::string>>;

std::vector<Attributes> RecordsOf(const XmlTable& table) {
  std::vector<Attributes> records;
  table.ForEachRecord([&](const XmlRecord& record) {
    Attributes attributes;
    record.ForEachAttribute([&](size_t position, const char* name, const char* value) {
      EXPECT_EQ(position, attributes.size() + 1);
      attributes.emplace_back(name, value);
    });
    records.push_back(std::move(attributes));
  });
  return records;
}

TEST(XmlTable, RecordsKeepWrittenOrderResolvedEntitiesAndUntrimmedValues) {
  XmlTable table;
  ASSERT_TRUE(table.Load(
      "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\r\n"
      "<Table PodborName=\"Заказ &quot;7&quot;\" id=\"2\">\r\n"
      "  <Record Z=\"  K12 \" A=\"Tom &amp; Jerry's &lt;best&gt;\" M=\"&#1063;&#x430;&#x0439;\" E=\"\"/>\r\n"
      "  <Other Z=\"not a record\"/>\r\n"
      "  <Record Articule='a\"b' line=\"one&#10;two\">text<Record inner=\"nested, not selected\"/></Record>\r\n"
      "  <Record/>\r\n"
      "</Table>"));
  ASSERT_TRUE(table.HasTableRoot());
  std::string name, value;
  ASSERT_TRUE(table.TableFirstAttribute(name, value));
  EXPECT_EQ(name, "PodborName");
  EXPECT_EQ(value, "Заказ \"7\"");
  EXPECT_EQ(table.RecordCount(), 3u);
  const std::vector<Attributes> expected = {
      {{"Z", "  K12 "}, {"A", "Tom & Jerry's <best>"}, {"M", "Чай"}, {"E", ""}},
      {{"Articule", "a\"b"}, {"line", "one\ntwo"}},
      {},
  };
  EXPECT_EQ(RecordsOf(table), expected);
}

TEST(XmlTable, AttributeValueByPosition) {
  XmlTable table;
  ASSERT_TRUE(table.Load("<Table><Record a=\"1\" b=\"2\"/></Table>"));
  table.ForEachRecord([](const XmlRecord& record) {
    EXPECT_TRUE(record.HasAttributes());
    EXPECT_STREQ(record.AttributeValue(1), "1");
    EXPECT_STREQ(record.AttributeValue(2), "2");
    EXPECT_EQ(record.AttributeValue(3), nullptr);
  });
}

TEST(XmlTable, ReferencesOutsideMarkupAreNotCheckedInCommentsAndCdata) {
  XmlTable table;
  ASSERT_TRUE(table.Load("<!-- &#0; --><Table><![CDATA[&#0;]]><Record a=\"&#x10FFFF;&#65;\"/></Table>"));
  std::vector<Attributes> expected = {{{"a", "\xF4\x8F\xBF\xBF" "A"}}};
  EXPECT_EQ(RecordsOf(table), expected);
}

TEST(XmlTable, OtherRootsHaveNoRecords) {
  for (const char* text : {"<Tables><Record a=\"1\"/></Tables>", "<table><Record a=\"1\"/></table>",
                           "<Root><Table><Record a=\"1\"/></Table></Root>"}) {
    XmlTable table;
    ASSERT_TRUE(table.Load(text)) << text;
    EXPECT_FALSE(table.HasTableRoot()) << text;
    EXPECT_EQ(table.RecordCount(), 0u) << text;
    std::string name, value;
    EXPECT_FALSE(table.TableFirstAttribute(name, value)) << text;
  }
  XmlTable bare;
  ASSERT_TRUE(bare.Load("<Table/>"));
  std::string name, value;
  EXPECT_FALSE(bare.TableFirstAttribute(name, value));
}

TEST(XmlTable, RefusesWhatIsNotOneWellFormedDocument) {
  const char* refused[] = {
      "",
      "Record",
      "not xml at all",
      "<Table><Record a=\"1\"></Table>",
      "<Table><Record a=\"1\" b=\"2\" a=\"3\"/></Table>",
      "<Table><Other><Deep x=\"1\" x=\"1\"/></Other></Table>",
      "<Table><Record a=1/></Table>",
      "<Table/><Table/>",
      "<Table/>trailing text",
      "<!DOCTYPE Table [<!ENTITY x \"expanded\">]><Table><Record a=\"&x;\"/></Table>",
      "<!DOCTYPE Table SYSTEM \"file:///etc/passwd\"><Table><Record a=\"1\"/></Table>",
      // Characters no document may hold: the value would be cut short at the
      // NUL or carry bytes that are no UTF-8.
      "<Table><Record a=\"cut&#0;here\"/></Table>",
      "<Table><Record a=\"&#x0000;\"/></Table>",
      "<Table><Record a=\"&#xD800;\"/></Table>",
      "<Table><Record a=\"&#1114112;\"/></Table>",
      "<Table><Record a=\"&#x99999999999;\"/></Table>",
  };
  for (const char* text : refused) {
    XmlTable table;
    EXPECT_FALSE(table.Load(text)) << text;
    EXPECT_EQ(table.RecordCount(), 0u) << text;
  }
}

}  // namespace
}  // namespace vtsd
