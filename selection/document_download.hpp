// The document download: the terminal's order documents ("Orders.db") or
// worked selection tasks ("Podbor.db") are fetched, the user chooses
// documents in the selection window, and their lines go back to 1C as one
// XML text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/messages.hpp"
#include "link/session.hpp"

namespace vtsd {

// The names offered in the document window, then the names chosen.
std::vector<std::string>& DocumentNames();
// The XML text being built.
std::string& DocumentXml();

// The operation behind DownloadTable: checks the terminal application's
// version and runs DownloadSelectedDocuments. Returns the document XML.
std::string DownloadTable(TerminalSession& session);

// Source choice (when the setting asks for it), fetch, document choice and
// XML. `out` is the XML, or empty after any failure.
void DownloadSelectedDocuments(TerminalSession& session, std::string& out);

// The file that a line of the source window names: "Orders.db" for
// "Orders"/"Накладные", "Podbor.db" for "Podbor"/"Подбор", else empty.
std::string SourceFileForChoice(const std::string& choice);
// The source window's lines in the current language.
std::vector<std::string> SourceChoices();

// Fills DocumentNames with the Name values of TempDir + file_name's Registry.
void ListDocumentNames(const std::string& file_name);

// Splits a document-window result into names: each name ends at a separator;
// text after the last separator is not a name.
std::vector<std::string> SplitChosenText(const std::string& chosen_text);

// Rebuilds DocumentNames from `chosen_text` and sets DocumentXml to the lines
// of those documents, in that order, read from TempDir + file_name.
void BuildDocumentXml(const std::string& file_name, const std::string& chosen_text);

// Appends `text` as a single-quoted XML attribute value that any XML 1.0
// parser reads back: "&", "<" and the single quote as entities, tab,
// line feed and carriage return as character references (so they arrive
// unchanged), and every character XML 1.0 cannot carry (other control
// characters, bytes that are no UTF-8, a surrogate on its own) as U+FFFD.
void AppendXmlAttributeValue(std::string& out, const std::string& text);

namespace download_text {
extern const Msg kNotSupportedPrefix;  // version text follows
extern const Msg kNotSupportedSuffix;
extern const Msg kCanceled;
extern const Msg kWindowError;
extern const Msg kNoData;
extern const Msg kFileMissingPrefix;  // file name follows, then kFileMissingSuffix
extern const char kFileMissingSuffix[];
extern const Msg kOpenPrefix;  // file name follows
extern const Msg kOpenSuffix;
extern const Msg kDuplicatePrefix;  // quoted name follows
extern const Msg kDuplicateSuffix;
extern const Msg kQueryFailed;
extern const Msg kDamagedPrefix;  // quoted document name follows
extern const Msg kDamagedSuffix;
}  // namespace download_text

}  // namespace vtsd
