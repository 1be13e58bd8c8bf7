#include "catalogue/finishing.hpp"

#include <string>
#include <vector>

#include "base/temp_dir.hpp"
#include "catalogue/catalogue_database.hpp"
#include "store/local_database.hpp"
#include "catalogue/upload_state.hpp"
#include "platform/files.hpp"

namespace vtsd {

namespace finishing_text {
const Msg kCatalogueOpen{"5Ошибка открытия БД при записи данных.", "5Error while unloading table, try again."};
const Msg kDropEmptyColumns{"5Ошибка при удаление пустых полей в БД.", "5Error while unloading table, try again."};
const Msg kPackagesFileMissing{"5Ошибка при записи справочника упаковок,файл базы данных Merxa.db отсутствует.",
                               "5Error writing directory packages Merxa.db database file is missing."};
const Msg kPackagesOpen{"5Ошибка при записи справочника упаковок,ошибка при подключение к базе Merxa.db.",
                        "5Error writing directory packages error when connecting to database Merxa.db."};
const Msg kPackagesFill{"5Ошибка при записи справочника упаковок,ошибка при заполнение таблицы Barcode",
                        "5Error writing directory packages error while populating a table Barcode."};
const Msg kSettingsMissing{"5Ошибка при записи имен полей,MerxaSetup.db Файла не существует.",
                           "5Error while unloading table, try again."};
const Msg kSettingsOpen{"5Ошибка открытия MerxaSetup.db при записи данных.",
                        "5Error while unloading table, try again."};
const Msg kSettingsUpdate{"5Ошибка при заполнение базы данных,не выполнился инсерт.",
                          "5Error while unloading table, try again."};
}  // namespace finishing_text

using namespace finishing_text;

namespace {


// The captions of Field_2 ... Field_9 as the terminal shows them. They are the
// terminal application's own field names and do not follow the message
// language.
const FieldCaptionTable kDefaultCaptions = {
    "Наименование", "Единица Измерения", "Характеристика", "Серия",
    "Качество",     "Цена",              "Количество",     "Коэффициент",
};
constexpr const char* kPriceCaption = "Цена";

// Column numbers of the Field columns with a caption.
constexpr int kFirstCaptionedColumn = 2;
constexpr int kLastCaptionedColumn = 9;

constexpr const char* kTimeTableColumns =
    "(N INTEGER PRIMARY KEY AUTOINCREMENT,Articule TEXT,Field_2 TEXT,Field_3 TEXT,Field_4 TEXT,"
    "Field_5 TEXT,Field_6 TEXT,Field_7 TEXT,Field_8 TEXT,Field_9 TEXT,Field_10 TEXT,Field_11 TEXT,"
    "Field_12 TEXT,Field_13 TEXT,Field_14 TEXT,Field_15 TEXT)";

// A temporary index that makes the base-record lookups of FillPackageBarcodes
// indexed; it lives only inside that step's transaction, so the committed
// file has exactly the catalogue's own indexes.
constexpr const char* kPackageLookupIndex = "PackageLookup_index_Articule";

std::string FieldColumn(int number) { return "Field_" + std::to_string(number); }

// The UTF-8 text split into its characters (each a run of bytes).
std::vector<std::string> Characters(const std::string& text) {
  std::vector<std::string> out;
  for (size_t i = 0; i < text.size();) {
    size_t n = 1;
    while (i + n < text.size() && (static_cast<unsigned char>(text[i + n]) & 0xC0) == 0x80) ++n;
    out.push_back(text.substr(i, n));
    i += n;
  }
  return out;
}

}  // namespace

FieldCaptionTable& FieldCaptions() {
  static FieldCaptionTable captions;
  return captions;
}

FieldCaptionTable DefaultFieldCaptions() { return kDefaultCaptions; }

std::string ColumnSqueezeStatement(const std::vector<int>& kept_columns) {
  std::string targets = "(Articule";
  std::string sources = ") SELECT Articule";
  int target = 2;
  for (int column : kept_columns) {
    targets += "," + FieldColumn(target++);
    sources += "," + FieldColumn(column);
  }
  return "INSERT INTO TimeTable " + targets + sources + " FROM Articule";
}

std::string SettingUpdateStatement(const std::string& table, const std::string& value,
                                   const std::string& parameter) {
  // The name is made of the version's characters: written as a quoted
  // identifier, any version text gives a statement ("Merxa_5_0.1").
  std::string sql = "UPDATE " + QuoteSqlIdentifier(table) + " SET value=";
  AppendSqlText(sql, value);
  sql += " WHERE parameter =";
  AppendSqlText(sql, parameter);
  return sql;
}

void DropEmptyColumns() {
  FieldCaptionTable captions = kDefaultCaptions;
  UploadState& state = CatalogueUploadState();
  const int highest_column = state.HighestFieldIndex + 1;
  const bool packages = state.PackagesPresent;
  int coefficient_column = state.CoefficientColumn;
  bool coefficient_dropped = false;

  LocalDatabase db = OpenLocalDatabase(kCatalogueFileName, kCatalogueOpen);
  db.Begin(kDropEmptyColumns);
  db.Execute("drop  table if exists TimeTable", kDropEmptyColumns);
  db.Execute(std::string("CREATE TABLE TimeTable ") + kTimeTableColumns, kDropEmptyColumns);

  std::vector<int> kept;
  for (int c = 2; c <= highest_column; ++c) {
    // One row proves the column is used; the rest of the table is not read.
    bool used;
    {
      LocalQuery rows =
          db.Query("select * From Articule where " + FieldColumn(c) + " <>\"\"", kDropEmptyColumns);
      used = rows.Next();
    }
    if (used) {
      kept.push_back(c);
      if (packages && c == coefficient_column) {
        // Kept columns move to Field_2, Field_3, ... in their order.
        coefficient_column = static_cast<int>(kept.size()) + 1;
      }
    } else {
      if (c <= kLastCaptionedColumn) captions[c - kFirstCaptionedColumn].clear();
      if (packages && c == coefficient_column) coefficient_dropped = true;
    }
  }

  db.Execute(ColumnSqueezeStatement(kept), kDropEmptyColumns);
  db.Execute("drop  table if exists Articule", kDropEmptyColumns);
  db.Execute("alter table TimeTable rename to Articule", kDropEmptyColumns);
  db.Execute("CREATE INDEX Articule_index_Articule ON Articule (Articule)", kDropEmptyColumns);
  db.Commit(kDropEmptyColumns);
  db.Close();

  // The state follows the file only once the rebuild is committed, so a
  // failed rebuild can be run again on the unchanged table.
  FieldCaptions() = captions;
  if (coefficient_dropped) {
    // The coefficient column held no value in any row and is gone; its old
    // number now names another column, so the upload has no packages.
    state.PackagesPresent = false;
  } else if (packages) {
    state.CoefficientColumn = coefficient_column;
  }
}

bool FillPackageBarcodes() {
  if (!platform::FileExists(TempPath(kCatalogueFileName))) Raise(kPackagesFileMissing);
  LocalDatabase db = OpenLocalDatabase(kCatalogueFileName, kPackagesOpen);
  db.Begin(kPackagesFill);

  const std::string coefficient = FieldColumn(CatalogueUploadState().CoefficientColumn);
  db.Execute(std::string("CREATE INDEX ") + kPackageLookupIndex + " ON Articule (Field_2," + coefficient + ")",
             kPackagesFill);

  auto require = [](const LocalQuery& row, const char* column) {
    if (row.IsNull(column)) Raise(kPackagesFill);
    return row.Text(column);
  };

  std::string lookup;
  std::string insert;
  {
    LocalQuery packages = db.Query("select * From Articule where " + coefficient + " > 1", kPackagesFill);
    while (packages.Next()) {
      const std::string name = QuoteSqlText(require(packages, "Field_2"));
      std::string base;
      int bases = 0;
      for (const char* tail : {" = 0", " = 1 "}) {
        lookup.assign("select * From Articule where Field_2=");
        lookup += name;
        lookup += " AND ";
        lookup += coefficient;
        lookup += tail;
        LocalQuery candidates = db.Query(lookup, kPackagesFill);
        // Two rows are enough to know the base is not unique.
        while (bases < 2 && candidates.Next()) {
          if (bases == 0) base = require(candidates, "Articule");
          ++bases;
        }
        if (bases > 0) break;
      }
      if (bases != 1) continue;
      insert.assign("INSERT INTO Barcodes(Barcode,Articule,Value) VALUES (");
      AppendSqlText(insert, require(packages, "Articule"));
      insert += ",";
      AppendSqlText(insert, base);
      insert += ",";
      AppendSqlText(insert, require(packages, coefficient.c_str()));
      insert += ")";
      db.Execute(insert, kPackagesFill);
    }
  }

  db.Execute(std::string("DROP INDEX ") + kPackageLookupIndex, kPackagesFill);
  db.Commit(kPackagesFill);
  return true;
}

std::string SettingsTableName(const std::string& app_version) {
  const std::vector<std::string> chars = Characters(app_version);
  if (chars.size() < 5) return std::string();
  // The application's versions are made of digits, letters and points; a
  // version text with anything else (it comes from the terminal) names no
  // table the driver may change.
  for (size_t i : {0, 2, 3, 4}) {
    const char c = chars[i].size() == 1 ? chars[i][0] : '\0';
    const bool ok = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '.' || c == '_';
    if (!ok) return std::string();
  }
  return "Merxa_" + chars[0] + "_" + chars[2] + chars[3] + chars[4];
}

bool UpdateFieldCaptions(const std::string& app_version) {
  if (!platform::FileExists(TempPath(kSettingsFileName))) Raise(kSettingsMissing);
  LocalDatabase db = OpenTerminalDatabase(kSettingsFileName, kSettingsOpen);
  db.Begin(kSettingsUpdate);

  // A version text too short to name the table cannot address any row.
  const std::string table = SettingsTableName(app_version);
  if (table.empty()) Raise(kSettingsUpdate);

  auto update = [&](const std::string& value, const std::string& parameter) {
    db.Execute(SettingUpdateStatement(table, value, parameter), kSettingsUpdate);
  };

  int k = 1;
  int price = 0;
  for (const std::string& caption : FieldCaptions()) {
    if (caption.empty()) continue;
    update(caption, "Merxa.FieldName_00" + std::to_string(k));
    ++k;
    if (caption == kPriceCaption) price = k;
  }
  update(std::to_string(price), "Merxa.PriceAttrNumber");
  update("2", "Merxa.NameAttrNumber");
  db.Commit(kSettingsUpdate);
  return true;
}

}  // namespace vtsd
