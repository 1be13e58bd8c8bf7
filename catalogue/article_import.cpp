#include "catalogue/article_import.hpp"

#include <array>
#include <cstring>
#include <optional>
#include <string>
#include <utility>

#include "base/messages.hpp"
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

// "insert into Articule (Articule,Field_2,...,Field_<n>) values(?,...,?)":
// the statement for a record of `n` attributes, its columns those the
// record's positions name.
std::string ArticleInsertStatement(size_t n) {
  std::string statement = "insert into Articule (Articule";
  std::string values = ") values(?";
  for (size_t position = 2; position <= n; ++position) {
    statement += ",Field_" + std::to_string(position);
    values += ",?";
  }
  return statement + values + ")";
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

  // One prepared statement per attribute count, made when a record of that
  // count first comes: a package's records nearly always share one.
  std::array<std::optional<LocalStatement>, kArticleColumns + 1> inserts;
  std::array<const char*, kArticleColumns + 1> values{};
  table.ForEachRecord([&](const XmlRecord& record) {
    // A record without attributes has no column to insert into; it is
    // skipped rather than inserted with another record's values.
    if (!record.HasAttributes()) return;
    size_t count = 0;
    record.ForEachAttribute([&](size_t position, const char* name, const char* value) {
      // An attribute past the last column can never be inserted: the record
      // fails as its statement would.
      if (position > kArticleColumns) Raise(kInsertFailed);
      values[position] = value;
      count = position;
      if (std::strcmp(name, "Coefficient") == 0) {
        packages_present = true;
        coefficient_column = static_cast<int>(position);
      }
      const int field_index = static_cast<int>(position - 1);
      if (field_index > highest_field_index) highest_field_index = field_index;
    });
    std::optional<LocalStatement>& insert = inserts[count];
    if (!insert) insert.emplace(db.Prepare(ArticleInsertStatement(count), kInsertFailed));
    for (size_t position = 1; position <= count; ++position) {
      insert->BindText(static_cast<int>(position), values[position]);
    }
    insert->Run();
  });
  // The statements go before the commit that ends the transaction.
  for (std::optional<LocalStatement>& insert : inserts) insert.reset();

  db.Commit(kInsertFailed);
  db.Close();

  UploadState& updated = CatalogueUploadState();
  updated.HighestFieldIndex = highest_field_index;
  updated.PackagesPresent = packages_present;
  updated.CoefficientColumn = coefficient_column;
  return true;
}

}  // namespace vtsd
