// XML tables from 1C: a root element Table whose Record children carry one
// record each in their attributes. The text is parsed once into a document
// that this object owns; values come back with entities resolved and nothing
// trimmed, attributes in the order in which they are written.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>

#include <pugixml.hpp>

namespace vtsd {

// One Record element of the table.
class XmlRecord {
 public:
  explicit XmlRecord(pugi::xml_node node) : node_(node) {}

  bool HasAttributes() const { return static_cast<bool>(node_.first_attribute()); }

  // Calls visit(position, name, value) for each attribute in written order;
  // positions count from 1, texts are NUL-terminated UTF-8.
  template <class Visit>
  void ForEachAttribute(Visit&& visit) const {
    size_t position = 0;
    for (pugi::xml_attribute a = node_.first_attribute(); a; a = a.next_attribute()) {
      visit(++position, a.name(), a.value());
    }
  }

  // Value of the attribute at `position` (from 1), or nullptr when the
  // record has fewer attributes.
  const char* AttributeValue(size_t position) const;

 private:
  pugi::xml_node node_;
};

class XmlTable {
 public:
  XmlTable() = default;
  XmlTable(const XmlTable&) = delete;
  XmlTable& operator=(const XmlTable&) = delete;

  // Takes the text and parses it in place. False when it is not one
  // well-formed XML document. A document type declaration is refused as
  // well: no DTD is ever read, so no entity of one is ever expanded.
  bool Load(std::string text);

  // The root element is named "Table".
  bool HasTableRoot() const;

  // Name and value of the Table element's first attribute; false when there
  // is no Table root or it has no attribute.
  bool TableFirstAttribute(std::string& name, std::string& value) const;

  // The elements "/Table/Record", in document order.
  template <class Visit>
  void ForEachRecord(Visit&& visit) const {
    const pugi::xml_node table = TableRoot();
    for (pugi::xml_node n = table.first_child(); n; n = n.next_sibling()) {
      if (n.type() == pugi::node_element && std::strcmp(n.name(), "Record") == 0) visit(XmlRecord(n));
    }
  }
  size_t RecordCount() const;

 private:
  pugi::xml_node TableRoot() const;
  std::string text_;  // the parsed text; the document's strings point into it
  pugi::xml_document document_;
};

}  // namespace vtsd
