// The selection-task file "Podbor.db": its creation and the statement texts
// that create and remove one task's tables. A task key is inserted into
// table names unchanged; the registry delete quotes it as a text value.
#pragma once

#include <string>
#include <vector>

namespace vtsd {

// Name of the selection-task file, in TempDir and on the terminal.
inline constexpr const char* kSelectionFileName = "Podbor.db";
// Name of the terminal's order-document file, in TempDir and on the terminal.
inline constexpr const char* kOrdersFileName = "Orders.db";

// Deletes TempDir + "Podbor.db" when present and creates it anew with the
// empty Registry table and its index. Returns true; raises DriverError with
// the deletion, creation or tables message otherwise.
bool CreateSelectionDatabase();

// "CREATE TABLE Registry (...)" and its index, in this order.
std::vector<std::string> RegistryCreationStatements();

// The statements that create one task's four tables, each followed by its
// index: order_K, order_d_K, order_podbor_K, order_sn_K.
std::vector<std::string> TaskTableCreationStatements(const std::string& task_key);

// Whether `suffix` is a table suffix as the driver (a task key, "0000" and
// digits) and the terminal application (its document keys) write it: 1 to
// 64 ASCII letters, digits and underscores. A RealName read from a file
// reaches a statement only when it is one.
bool IsTaskTableSuffix(const std::string& suffix);

// The four "drop  table if exists" statements of one task, in the order
// order_K, order_d_K, order_podbor_K, order_sn_K, each table name a quoted
// identifier (the key may come from the terminal's file).
std::vector<std::string> TaskTableDropStatements(const std::string& task_key);

// "DELETE FROM Registry WHERE RealName = " + the quoted key.
std::string RegistryDeleteStatement(const std::string& task_key);

}  // namespace vtsd
