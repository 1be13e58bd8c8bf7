#include "catalogue/xml_table.hpp"

#include <algorithm>
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
