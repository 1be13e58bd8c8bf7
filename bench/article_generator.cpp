#include "article_generator.hpp"

#include <random>

namespace vtsd::bench {

namespace {

const char* const kNames[] = {
    "Чай 'Лунный сбор'",
    "Молоко \"Лето\" 3,2%",
    "Кофе Jacobs & Co",
    "Хлеб Бородинский",
    "Сыр Российский",
    "Конфеты <Мишка>",
    "Вода O'Keefe",
    "Масло подсолнечное",
    "Печенье Юбилейное",
    "Tea 'Earl Grey'",
};
const char* const kUnits[] = {"шт", "кг", "уп", "л"};
const char* const kCharacteristics[] = {"", "", "", "красный", "синий", "XL", "48-50"};
const char* const kSeries[] = {"", "", "", "", "S-01/2026", "А'17"};
const char* const kQualities[] = {"Норма", "Норма", "Брак", ""};

// Appends an attribute value with the characters that XML reserves written
// as entities.
void AppendEscaped(std::string& out, const char* text) {
  for (const char* p = text; *p; ++p) {
    switch (*p) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += *p;
    }
  }
}

void AppendAttribute(std::string& out, const char* name, const std::string& value) {
  out += ' ';
  out += name;
  out += "=\"";
  AppendEscaped(out, value.c_str());
  out += '"';
}

}  // namespace

std::string GenerateArticleTable(const ArticleTableOptions& options) {
  static const char* const kAttributeNames[] = {"Articule", "Name",  "Unit",        "Feature", "Series",
                                                "Grade",    "Price", "Qty",         "Coefficient", "Extra10",
                                                "Extra11",  "Extra12", "Extra13",   "Extra14", "Extra15"};
  std::mt19937 random(options.seed);
  std::string xml;
  xml.reserve(options.records * (60 + 22 * static_cast<size_t>(options.attributes)));
  xml += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<Table>\r\n";

  std::string base_name;
  size_t since_package = 0;
  uint64_t number = options.first_number;
  for (size_t i = 0; i < options.records; ++i) {
    const bool package = options.package_every != 0 && since_package == options.package_every && !base_name.empty();
    std::string name;
    std::string coefficient;
    if (package) {
      name = base_name;
      coefficient = std::to_string(6 + 6 * (random() % 3));  // 6, 12 or 18
      since_package = 0;
    } else {
      name = std::string(kNames[random() % std::size(kNames)]) + " №" + std::to_string(number);
      coefficient = (random() % 4 == 0) ? "1" : "0";
      base_name = name;
      ++since_package;
    }
    const std::string values[] = {
        "46" + std::to_string(10000000000ULL + number),
        name,
        kUnits[random() % std::size(kUnits)],
        kCharacteristics[random() % std::size(kCharacteristics)],
        kSeries[random() % std::size(kSeries)],
        kQualities[random() % std::size(kQualities)],
        std::to_string(10 + random() % 5000) + "." + std::to_string(10 + random() % 90),
        std::to_string(random() % 200),
        coefficient,
        "x" + std::to_string(random() % 1000),
        "",
        "дополнительно",
        "",
        "y",
        "z",
    };
    xml += "<Record";
    for (int a = 0; a < options.attributes && a < 15; ++a) AppendAttribute(xml, kAttributeNames[a], values[a]);
    xml += "/>\r\n";
    ++number;
  }
  xml += "</Table>";
  return xml;
}

}  // namespace vtsd::bench
