#include "catalogue/catalogue_database.hpp"

#include "base/messages.hpp"
#include "base/temp_dir.hpp"
#include "store/local_database.hpp"
#include "platform/files.hpp"

namespace vtsd {

namespace {

const Msg kDeleteFailed{"5Ошибка при удаление временного Файла Merxa.db.", "5Error while unloading table, try again."};
const Msg kCreateFailed{"5Ошибка при создание файла Merxa.db.", "5Error while unloading table, try again."};
const Msg kTablesFailed{"№Ошибка при создание таблиц в Merxa.db", "№Error when creating tables in Merxa.db"};

// The catalogue schema, executed in this order in one transaction.
const char* const kSchema[] = {
    "CREATE TABLE Articule (N INTEGER PRIMARY KEY AUTOINCREMENT,Articule TEXT,Field_2 TEXT,Field_3 TEXT,"
    "Field_4 TEXT,Field_5 TEXT,Field_6 TEXT,Field_7 TEXT,Field_8 TEXT,Field_9 TEXT,Field_10 TEXT,"
    "Field_11 TEXT,Field_12 TEXT,Field_13 TEXT,Field_14 TEXT,Field_15 TEXT)",
    "CREATE INDEX Articule_index_Articule ON Articule (Articule)",
    "CREATE TABLE Articule_Fields(N INTEGER PRIMARY KEY AUTOINCREMENT, Name TEXT)",
    "CREATE TABLE Barcodes(N INTEGER PRIMARY KEY AUTOINCREMENT, Barcode TEXT, Articule TEXT, Value TEXT)",
    "CREATE INDEX Barcode_index_Barcodes ON Barcodes (Barcode)",
    "CREATE INDEX Articule_index_Barcodes ON Barcodes (Articule);",
};

}  // namespace

bool CreateCatalogueDatabase() {
  // RemoveFile is true when nothing is left at the path, also when there was
  // nothing; anything that stays (a file held open, a directory) stops here.
  if (!platform::RemoveFile(TempPath(kCatalogueFileName))) Raise(kDeleteFailed);

  LocalDatabase db = OpenLocalDatabase(kCatalogueFileName, kCreateFailed);
  db.Begin(kTablesFailed);
  for (const char* statement : kSchema) db.Execute(statement, kTablesFailed);
  db.Commit(kTablesFailed);
  return true;
}

}  // namespace vtsd
