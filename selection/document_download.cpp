#include "selection/document_download.hpp"

#include <cstdint>

#include "base/temp_dir.hpp"
#include "base/settings.hpp"
#include "store/local_database.hpp"
#include "link/application_version.hpp"
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
const Msg kDamagedPrefix{"№Документ ", "№The document "};
const Msg kDamagedSuffix{" на ТСД повреждён: драйвер не может его прочитать.",
                         " on the TSD is damaged: the driver cannot read it."};
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
  explicit DocumentFile(const std::string& file_name)
      : open_ru_(std::string(text::kOpenPrefix.ru) + file_name + text::kOpenSuffix.ru),
        open_en_(std::string(text::kOpenPrefix.en) + file_name + text::kOpenSuffix.en),
        db_(Open(file_name, Msg{open_ru_.c_str(), open_en_.c_str()})) {
    db_.Begin(text::kQueryFailed);
  }

  LocalDatabase& db() { return db_; }
  void Finish() {
    db_.Commit(text::kQueryFailed);
    db_.Close();
  }

 private:
  static LocalDatabase Open(const std::string& file_name, const Msg& open_failure) {
    if (!platform::FileExists(TempPath(file_name))) {
      const Language language = GetMessageLanguage();
      RaiseText(text::kFileMissingPrefix.Text(language) + file_name + text::kFileMissingSuffix);
    }
    return OpenTerminalDatabase(file_name, open_failure);
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

// The suffix of a document's table: the one Registry row of that name. A
// suffix no terminal writes names no table the driver may read.
std::string RealNameOf(LocalDatabase& db, const std::string& name) {
  LocalQuery rows =
      db.Query("Select RealName From Registry where Name=" + QuoteSqlText(name), text::kQueryFailed);
  if (!rows.Next()) Raise(text::kQueryFailed);
  std::string real_name = rows.Text("RealName");
  if (rows.Next()) {
    const Language language = GetMessageLanguage();
    RaiseText(text::kDuplicatePrefix.Text(language) + QuoteSqlText(name) +
              text::kDuplicateSuffix.Text(language));
  }
  if (!IsTaskTableSuffix(real_name)) db.RaiseDamaged();
  return real_name;
}

// What the texts read from one file may add up to. A file cannot honestly
// hold more text than its own size (UTF-16 stored text grows by at most a
// half as UTF-8); a schema that makes values of nothing (defaults, generated
// columns) could otherwise fill the memory from a few kilobytes.
class TextBudget {
 public:
  explicit TextBudget(const LocalDatabase& db) : left_(2 * db.FileBytes() + 65536) {}
  void Take(LocalDatabase& db, size_t bytes) {
    left_ -= static_cast<int64_t>(bytes);
    if (left_ < 0) db.RaiseDamaged();
  }

 private:
  int64_t left_;
};

// The document's message when its reading fails for the file's damage.
class DamagedDocumentMessage {
 public:
  explicit DamagedDocumentMessage(const std::string& name)
      : ru_(std::string(text::kDamagedPrefix.ru) + QuoteSqlText(name) + text::kDamagedSuffix.ru),
        en_(std::string(text::kDamagedPrefix.en) + QuoteSqlText(name) + text::kDamagedSuffix.en) {}
  Msg msg() const { return Msg{ru_.c_str(), en_.c_str()}; }

 private:
  std::string ru_;
  std::string en_;
};

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

namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

// The length of the well-formed UTF-8 sequence at `at` whose character XML
// 1.0 can carry, or 0.
size_t XmlCharacterLength(const std::string& text, size_t at) {
  const auto byte = [&text](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  size_t n = 0;
  uint32_t cp = 0;
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) {
    n = 2;
    cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    n = 3;
    cp = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    n = 4;
    cp = lead & 0x07;
  } else {
    return 0;
  }
  if (at + n > text.size()) return 0;
  for (size_t k = 1; k < n; ++k) {
    if ((byte(at + k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (byte(at + k) & 0x3F);
  }
  // Overlong forms, surrogates (a lone one, or one written by itself) and
  // the two non-characters XML excludes.
  if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF))) return 0;
  if ((cp >= 0xD800 && cp <= 0xDFFF) || cp == 0xFFFE || cp == 0xFFFF) return 0;
  return n;
}

}  // namespace

void AppendXmlAttributeValue(std::string& out, const std::string& value) {
  out += '\'';
  size_t plain = 0;  // start of the run not yet copied
  for (size_t i = 0; i < value.size();) {
    const unsigned char c = static_cast<unsigned char>(value[i]);
    const char* entity = nullptr;
    size_t length = 1;
    switch (c) {
      case '&': entity = "&amp;"; break;
      case '<': entity = "&lt;"; break;
      case '\'': entity = "&apos;"; break;
      // An attribute value's tab and line ends would reach 1C as blanks;
      // as character references they arrive unchanged.
      case '\t': entity = "&#9;"; break;
      case '\n': entity = "&#10;"; break;
      case '\r': entity = "&#13;"; break;
      default:
        if (c < 0x20) {
          entity = kReplacement;  // no XML 1.0 document can hold it
        } else if (c >= 0x80) {
          length = XmlCharacterLength(value, i);
          if (length == 0) {
            entity = kReplacement;
            length = 1;
          }
        }
        break;
    }
    if (entity == nullptr) {
      i += length;
      continue;
    }
    out.append(value, plain, i - plain);
    out += entity;
    i += length;
    plain = i;
  }
  out.append(value, plain, std::string::npos);
  out += '\'';
}

void ListDocumentNames(const std::string& file_name) {
  std::vector<std::string>& names = DocumentNames();
  names.clear();
  DocumentFile file(file_name);
  TextBudget budget(file.db());
  LocalQuery rows = file.db().Query("Select Name From Registry", text::kQueryFailed);
  while (rows.Next()) {
    names.push_back(rows.Text("Name"));
    budget.Take(file.db(), names.back().size());
  }
  file.Finish();
}

std::vector<std::string> SplitChosenText(const std::string& chosen_text) {
  std::vector<std::string> names;
  const std::string separator = kChoiceSeparator;
  size_t start = 0;
  for (;;) {
    const size_t end = chosen_text.find(separator, start);
    if (end == std::string::npos) break;
    names.push_back(chosen_text.substr(start, end - start));
    start = end + separator.size();
  }
  return names;
}

void BuildDocumentXml(const std::string& file_name, const std::string& chosen_text) {
  std::vector<std::string>& names = DocumentNames();
  std::string& xml = DocumentXml();
  names = SplitChosenText(chosen_text);
  xml = kXmlHeader;
  try {
    DocumentFile file(file_name);
    TextBudget budget(file.db());
    for (const std::string& name : names) {
      const DamagedDocumentMessage damaged(name);
      file.db().SetDamagedFailure(damaged.msg());
      const std::string real_name = RealNameOf(file.db(), name);
      LocalQuery lines = file.db().Query("Select Articule,Value From " + QuoteSqlIdentifier("order_" + real_name),
                                         text::kQueryFailed);
      while (lines.Next()) {
        const std::string articule = lines.Text("Articule");
        const std::string value = lines.Text("Value");
        budget.Take(file.db(), articule.size() + value.size());
        AppendRecord(xml, articule, value);
      }
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

  std::string file_name = kOrdersFileName;
  if (ConnectionSettings().ChooseDownloadSource) {
    std::string source;
    ShowSelectionWindow(true, SourceChoices(), source);
    if (window.isCancelled) Raise(text::kCanceled);
    file_name = SourceFileForChoice(source);
    if (file_name.empty()) Raise(text::kWindowError);
  }

  if (file_name == kSelectionFileName)
    FetchSelectionDatabase(session);
  else
    DownloadDatabaseFile(session, kOrdersOnTerminal, kOrdersFileName);
  ListDocumentNames(file_name);

  std::string chosen;
  ShowSelectionWindow(false, DocumentNames(), chosen);
  if (window.isCancelled) Raise(text::kCanceled);

  BuildDocumentXml(file_name, chosen);
  if (DocumentXml().find("BarCode") == std::string::npos) Raise(text::kNoData);
  out = DocumentXml();
}

}  // namespace vtsd
