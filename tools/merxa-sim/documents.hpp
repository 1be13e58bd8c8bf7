// What the terminal application does with the document files besides
// storing them: the order documents it offers ("Orders.db" in OrderDir) and
// the operator's work on selection tasks ("Podbor.db" in Merxa5\Order\).
#pragma once

#include <filesystem>
#include <string>

namespace merxa {

// Writes `file` as an order-document database from a JSON description:
//   {"documents": [{"name": "Order 1", "key": "001",
//                   "lines": [["4601234567890", "2"], ["111", null]]}]}
// Each document is one Registry row (Name, RealName = key, Date) and a table
// "order_" + key with the lines (Articule, Value; null stores NULL). Two
// documents may share a name; a key is needed only when the name is no
// usable table suffix. False with `error` set on failure.
bool WriteOrdersDatabase(const std::filesystem::path& file, const std::string& description,
                         std::string& error);

// Plays the operator on a selection-task file: every task whose lines table
// ("order_" + key) is still empty gets the task's lines from
// "order_podbor_" + key, as if each article had been collected in full.
// Returns the number of tasks filled, or -1 with `error` set.
int PickSelectionTasks(const std::filesystem::path& file, std::string& error);

}  // namespace merxa
