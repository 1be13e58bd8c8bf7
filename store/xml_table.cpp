#include "store/xml_table.hpp"

#include <algorithm>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

namespace vtsd {

namespace {

// Whether an element names one attribute twice, which no well-formed
// document does.
bool HasDuplicateAttribute(const pugi::xml_node& element) {
  size_t count = 0;
  for (pugi::xml_attribute a = element.first_attribute(); a; a = a.next_attribute()) ++count;
  if (count < 2) return false;
  if (count <= 16) {
    for (pugi::xml_attribute a = element.first_attribute(); a; a = a.next_attribute()) {
      for (pugi::xml_attribute b = a.next_attribute(); b; b = b.next_attribute()) {
        if (std::strcmp(a.name(), b.name()) == 0) return true;
      }
    }
    return false;
  }
  std::vector<std::string_view> names;
  names.reserve(count);
  for (pugi::xml_attribute a = element.first_attribute(); a; a = a.next_attribute()) names.emplace_back(a.name());
  std::sort(names.begin(), names.end());
  return std::adjacent_find(names.begin(), names.end()) != names.end();
}

// Depth-first over every element below `root` without recursion, so that a
// deeply nested document cannot exhaust the stack.
bool AnyElementHasDuplicateAttribute(const pugi::xml_node& root) {
  pugi::xml_node n = root;
  while (n) {
    if (n.type() == pugi::node_element && HasDuplicateAttribute(n)) return true;
    if (n.first_child()) {
      n = n.first_child();
      continue;
    }
    while (n && n != root && !n.next_sibling()) n = n.parent();
    if (!n || n == root) break;
    n = n.next_sibling();
  }
  return false;
}

// Reads the character reference whose "&#" ends just before `i` and moves
// `i` past its digits. True when it names a character that no XML document
// may contain: NUL (the parser would cut the value short there), a surrogate
// half or a number beyond Unicode (either would leave bytes that are no UTF-8).
bool ForbiddenReferenceAt(std::string_view text, size_t& i) {
  const bool hex = i < text.size() && (text[i] == 'x' || text[i] == 'X');
  if (hex) ++i;
  uint32_t code = 0;
  bool digits = false;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    uint32_t digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<uint32_t>(c - '0');
    } else if (hex && c >= 'a' && c <= 'f') {
      digit = static_cast<uint32_t>(c - 'a' + 10);
    } else if (hex && c >= 'A' && c <= 'F') {
      digit = static_cast<uint32_t>(c - 'A' + 10);
    } else {
      break;
    }
    digits = true;
    code = code * (hex ? 16 : 10) + digit;
    if (code > 0x10FFFF) return true;
  }
  return digits && (code == 0 || (code >= 0xD800 && code <= 0xDFFF));
}

// Whether the text holds a forbidden character reference anywhere, markup
// sections included: one quick pass from '&' to '&'.
bool AnyForbiddenReference(std::string_view text) {
  for (size_t i = text.find('&'); i != std::string_view::npos; i = text.find('&', i)) {
    ++i;
    if (i < text.size() && text[i] == '#' && ForbiddenReferenceAt(text, ++i)) return true;
  }
  return false;
}

// The same, passing over comments, CDATA sections and processing
// instructions, where a reference means nothing.
bool ForbiddenReferenceInContent(std::string_view text) {
  const auto skip_to = [&text](size_t from, std::string_view end) {
    const size_t at = text.find(end, from);
    return at == std::string_view::npos ? text.size() : at + end.size();
  };
  size_t i = 0;
  while ((i = text.find_first_of("&<", i)) != std::string_view::npos) {
    const std::string_view rest = text.substr(i);
    if (rest.compare(0, 4, "<!--") == 0) {
      i = skip_to(i + 4, "-->");
    } else if (rest.compare(0, 9, "<![CDATA[") == 0) {
      i = skip_to(i + 9, "]]>");
    } else if (rest.compare(0, 2, "<?") == 0) {
      i = skip_to(i + 2, "?>");
    } else if (rest.compare(0, 2, "&#") == 0) {
      i += 2;
      if (ForbiddenReferenceAt(text, i)) return true;
    } else {
      ++i;
    }
  }
  return false;
}

bool HasForbiddenCharacterReference(std::string_view text) {
  return AnyForbiddenReference(text) && ForbiddenReferenceInContent(text);
}

}  // namespace

const char* XmlRecord::AttributeValue(size_t position) const {
  size_t p = 0;
  for (pugi::xml_attribute a = node_.first_attribute(); a; a = a.next_attribute()) {
    if (++p == position) return a.value();
  }
  return nullptr;
}

bool XmlTable::Load(std::string text) {
  document_.reset();
  text_ = std::move(text);
  if (HasForbiddenCharacterReference(text_)) return false;
  // Entities and character references resolved, line ends normalised and
  // literal white space in attribute values turned into blanks, as any XML
  // parser reads a document; attribute values are not trimmed. The document
  // type declaration is parsed only so that it can be refused below, and the
  // document is read as a fragment only so that text beside the root element
  // is kept and refused too (the parser would drop it otherwise).
  const unsigned options = pugi::parse_default | pugi::parse_doctype | pugi::parse_fragment;
  // The text is UTF-8 whatever its XML declaration says: it has already been
  // converted from the host's string.
  const pugi::xml_parse_result result =
      document_.load_buffer_inplace(text_.data(), text_.size(), options, pugi::encoding_utf8);
  if (result.status != pugi::status_ok) {
    document_.reset();
    return false;
  }
  // One root element and nothing at the top level but that element: text
  // or a second element beside the root is no well-formed document.
  size_t elements = 0;
  for (pugi::xml_node n = document_.first_child(); n; n = n.next_sibling()) {
    if (n.type() == pugi::node_element) {
      ++elements;
    } else {
      document_.reset();
      return false;
    }
  }
  if (elements != 1 || AnyElementHasDuplicateAttribute(document_.document_element())) {
    document_.reset();
    return false;
  }
  return true;
}

pugi::xml_node XmlTable::TableRoot() const {
  const pugi::xml_node root = document_.document_element();
  if (root && std::strcmp(root.name(), "Table") == 0) return root;
  return pugi::xml_node();
}

bool XmlTable::HasTableRoot() const { return static_cast<bool>(TableRoot()); }

bool XmlTable::TableFirstAttribute(std::string& name, std::string& value) const {
  const pugi::xml_attribute a = TableRoot().first_attribute();
  if (!a) return false;
  name = a.name();
  value = a.value();
  return true;
}

size_t XmlTable::RecordCount() const {
  size_t count = 0;
  ForEachRecord([&count](const XmlRecord&) { ++count; });
  return count;
}

}  // namespace vtsd
