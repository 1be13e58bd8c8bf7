#include "selection/document_download.hpp"

#include "addin/temp_dir.hpp"
#include "addin/settings.hpp"
#include "catalogue/local_database.hpp"
#include "link/terminal_identity.hpp"
#include "link/remote_files.hpp"
#include "platform/files.hpp"
#include "selection/selection_database.hpp"
#include "selection/selection_window.hpp"
#include "selection/task_upload.hpp"

namespace vtsd {

namespace download_text {
const Msg kNotSupportedPrefix{"4Версия Merxa ", "4Version Merxa "};
const Msg kNotSupportedSuffix{" Не поддерживается данным драйвером.",
                              " Is not supported by this driver."};
const Msg kCanceled{"6Загрузка отменена пользователем.", "6Download canceled by user."};
const Msg kWindowError{"6Ошибка в окне выбора.", "6Error in the selection window."};
const Msg kNoData{"6Нет данных для загрузки, выбранное задание пустое.",
                  "6No data to download, empty the selected task."};
const Msg kFileMissingPrefix{"№Ошибка при выборке данных в базе,",
                             "№Error while fetching data in the database,"};
const char kFileMissingSuffix[] = " Файла не существует";
const Msg kOpenPrefix{"№Ошибка открытия ", "№error opening "};
const Msg kOpenSuffix{" при записи данных", " recording data"};
const Msg kDuplicatePrefix{"№На ТСД Существует два одинаковых задания, ",
                           "№At TSD There are two identical job, "};
const Msg kDuplicateSuffix{". Такая ситуация невозможна, удалите одно из заданий",
                           ". Such a situation is not possible, remove one of the tasks"};
const Msg kQueryFailed{"№Ошибка при получение данных из SQL бд",
                       "№An error occurred while retrieving data from SQL database"};
}  // namespace download_text

namespace {

namespace text = download_text;

// The order documents live in the directory the application names.
const TerminalLocation kOrdersOnTerminal{"OrderDir", "", kOrdersFileName};
const Msg kOrdersSource{"Накладные", "Orders"};
const Msg kPodborSource{"Подбор", "Podbor"};

constexpr const char kXmlHeader[] = "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\r\n<Table>";
constexpr const char kXmlClosing[] = "\r\n</Table>";

// A document file fetched into TempDir, opened for the step's queries inside
// one transaction. The open-failure message names the file, so its texts are
// kept here for as long as the connection may raise it.
class DocumentFile {
 public:
  explicit DocumentFile(const std::string& fileName)
      : open_ru_(std::string(text::kOpenPrefix.ru) + fileName + text::kOpenSuffix.ru),
        open_en_(std::string(text::kOpenPrefix.en) + fileName + text::kOpenSuffix.en),
        db_(Open(fileName, Msg{open_ru_.c_str(), open_en_.c_str()})) {
    db_.Begin(text::kQueryFailed);
  }

  LocalDatabase& db() { return db_; }
  void Finish() {
    db_.Commit(text::kQueryFailed);
    db_.Close();
  }

 private:
  static LocalDatabase Open(const std::string& fileName, const Msg& openFailure) {
    if (!platform::FileExists(TempPath(fileName))) {
      const Language language = GetMessageLanguage();
      RaiseText(text::kFileMissingPrefix.Text(language) + fileName + text::kFileMissingSuffix);
    }
    return OpenLocalDatabase(fileName, openFailure);
  }

  std::string open_ru_;
  std::string open_en_;
  LocalDatabase db_;
};

void AppendRecord(std::string& xml, const std::string& articule, const std::string& value) {
  xml += "\r\n<Record BarCode=";
  AppendXmlAttributeValue(xml, articule);
  xml += " Quantity=";
  AppendXmlAttributeValue(xml, value);
  xml += "/>";
}

// The suffix of a document's table: the one Registry row of that name.
std::string RealNameOf(LocalDatabase& db, const std::string& name) {
  LocalQuery rows =
      db.Query("Select RealName From Registry where Name=" + QuoteSqlText(name), text::kQueryFailed);
  if (!rows.Next()) Raise(text::kQueryFailed);
  std::string realName = rows.Text("RealName");
  if (rows.Next()) {
    const Language language = GetMessageLanguage();
    RaiseText(text::kDuplicatePrefix.Text(language) + QuoteSqlText(name) +
              text::kDuplicateSuffix.Text(language));
  }
  return realName;
}

}  // namespace

std::vector<std::string>& DocumentNames() {
  static std::vector<std::string> names;
  return names;
}

std::string& DocumentXml() {
  static std::string xml;
  return xml;
}

std::vector<std::string> SourceChoices() {
  return {kOrdersSource.Text(), kPodborSource.Text()};
}

std::string SourceFileForChoice(const std::string& choice) {
  for (Language language : {Language::Russian, Language::English}) {
    if (choice == kOrdersSource.Text(language)) return kOrdersFileName;
    if (choice == kPodborSource.Text(language)) return kSelectionFileName;
  }
  return std::string();
}

void AppendXmlAttributeValue(std::string& out, const std::string& value) {
  out += '\'';
  size_t plain = 0;  // start of the run not yet copied
  for (size_t i = 0; i < value.size(); ++i) {
    const char* entity = nullptr;
    switch (value[i]) {
      case '&': entity = "&amp;"; break;
      case '<': entity = "&lt;"; break;
      case '\'': entity = "&apos;"; break;
      default: continue;
    }
    out.append(value, plain, i - plain);
    out += entity;
    plain = i + 1;
  }
  out.append(value, plain, std::string::npos);
  out += '\'';
}

void ListDocumentNames(const std::string& fileName) {
  std::vector<std::string>& names = DocumentNames();
  names.clear();
  DocumentFile file(fileName);
  LocalQuery rows = file.db().Query("Select Name From Registry", text::kQueryFailed);
  while (rows.Next()) names.push_back(rows.Text("Name"));
  file.Finish();
}

std::vector<std::string> SplitChosenText(const std::string& chosenText) {
  std::vector<std::string> names;
  const std::string separator = kChoiceSeparator;
  size_t start = 0;
  for (;;) {
    const size_t end = chosenText.find(separator, start);
    if (end == std::string::npos) break;
    names.push_back(chosenText.substr(start, end - start));
    start = end + separator.size();
  }
  return names;
}

void BuildDocumentXml(const std::string& fileName, const std::string& chosenText) {
  std::vector<std::string>& names = DocumentNames();
  std::string& xml = DocumentXml();
  names = SplitChosenText(chosenText);
  xml = kXmlHeader;
  try {
    DocumentFile file(fileName);
    for (const std::string& name : names) {
      const std::string realName = RealNameOf(file.db(), name);
      LocalQuery lines =
          file.db().Query("Select Articule,Value From order_" + realName, text::kQueryFailed);
      while (lines.Next()) AppendRecord(xml, lines.Text("Articule"), lines.Text("Value"));
    }
    file.Finish();
  } catch (...) {
    xml.clear();
    throw;
  }
  xml += kXmlClosing;
}

std::string DownloadTable(TerminalSession& session) {
  const std::string version = QueryAppVersion(session);
  if (version.empty() || version[0] != '5') {
    const Language language = GetMessageLanguage();
    RaiseText(text::kNotSupportedPrefix.Text(language) + version +
              text::kNotSupportedSuffix.Text(language));
  }
  std::string out;
  DownloadSelectedDocuments(session, out);
  return out;
}

void DownloadSelectedDocuments(TerminalSession& session, std::string& out) {
  out.clear();
  SelectionWindowStateRecord& window = SelectionWindowState();
  window.isCancelled = false;

  std::string fileName = kOrdersFileName;
  if (ConnectionSettings().ChooseDownloadSource) {
    std::string source;
    ShowSelectionWindow(true, SourceChoices(), source);
    if (window.isCancelled) Raise(text::kCanceled);
    fileName = SourceFileForChoice(source);
    if (fileName.empty()) Raise(text::kWindowError);
  }

  if (fileName == kSelectionFileName)
    FetchSelectionDatabase(session);
  else
    DownloadDatabaseFile(session, kOrdersOnTerminal, kOrdersFileName);
  ListDocumentNames(fileName);

  std::string chosen;
  ShowSelectionWindow(false, DocumentNames(), chosen);
  if (window.isCancelled) Raise(text::kCanceled);

  BuildDocumentXml(fileName, chosen);
  if (DocumentXml().find("BarCode") == std::string::npos) Raise(text::kNoData);
  out = DocumentXml();
}

}  // namespace vtsd
