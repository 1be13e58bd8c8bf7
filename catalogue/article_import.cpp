#include "catalogue/article_import.hpp"

#include <charconv>
#include <cstring>
#include <utility>

#include "addin/messages.hpp"
#include "catalogue/catalogue_database.hpp"
#include "store/local_database.hpp"
#include "catalogue/upload_state.hpp"
#include "store/xml_table.hpp"

namespace vtsd {

namespace {

const Msg kNotXml{"5XML не валидный, проверьте параметр XmlТаблица.", "5Error while unloading table, try again."};
const Msg kOpenFailed{"5Ошибка открытия БД при записи данных.", "5Error while unloading table, try again."};
const Msg kInsertFailed{"5Ошибка при заполнение базы данных,не выполнился инсерт.",
                        "5Error while unloading table, try again."};

// Attribute positions the Articule table has a column for: Articule, then
// Field_2 .. Field_15.
constexpr size_t kArticleColumns = 15;

void AppendDecimal(std::string& out, size_t n) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, n).ptr;
  out.append(digits, static_cast<size_t>(end - digits));
}

}  // namespace

bool ImportArticleTable(std::string table_text) {
  XmlTable table;
  if (!table.Load(std::move(table_text))) Raise(kNotXml);

  LocalDatabase db = OpenLocalDatabase(kCatalogueFileName, kOpenFailed);
  db.Begin(kOpenFailed);

  // The package's effect on the upload state is gathered here and kept only
  // once its rows are committed: a package that fails leaves neither rows nor
  // state behind. (A record with sixteen attributes would otherwise raise
  // HighestFieldIndex to 15 and make the later column squeeze fail.)
  const UploadState& state = CatalogueUploadState();
  int highest_field_index = state.HighestFieldIndex;
  bool packages_present = state.PackagesPresent;
  int coefficient_column = state.CoefficientColumn;

  // Both buffers are reused for every record: after the first few records
  // they have grown to the longest statement and allocate no more.
  std::string statement;
  std::string values;
  table.ForEachRecord([&](const XmlRecord& record) {
    // A record without attributes has no column to insert into; it is
    // skipped rather than inserted with another record's values.
    if (!record.HasAttributes()) return;
    statement.assign("insert into Articule (");
    values.assign(") values(");
    record.ForEachAttribute([&](size_t position, const char* name, const char* value) {
      // An attribute past the last column can never be inserted; failing
      // here keeps a record with a huge number of attributes from growing
      // a statement that the database would take ages to parse and refuse.
      if (position > kArticleColumns) Raise(kInsertFailed);
      if (position == 1) {
        statement.append("Articule");
      } else {
        statement.append(",Field_");
        AppendDecimal(statement, position);
        values.push_back(',');
      }
      AppendSqlText(values, value);
      if (std::strcmp(name, "Coefficient") == 0) {
        packages_present = true;
        coefficient_column = static_cast<int>(position);
      }
      const int field_index = static_cast<int>(position - 1);
      if (field_index > highest_field_index) highest_field_index = field_index;
    });
    statement.append(values);
    statement.push_back(')');
    db.Execute(statement, kInsertFailed);
  });

  db.Commit(kInsertFailed);
  db.Close();

  UploadState& updated = CatalogueUploadState();
  updated.HighestFieldIndex = highest_field_index;
  updated.PackagesPresent = packages_present;
  updated.CoefficientColumn = coefficient_column;
  return true;
}

}  // namespace vtsd
