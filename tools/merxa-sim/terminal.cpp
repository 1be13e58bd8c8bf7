#include "terminal.hpp"

#include <sqlite3.h>

#include <system_error>
#include <vector>

#include "documents.hpp"
#include "os.hpp"

namespace fs = std::filesystem;

namespace merxa {
namespace {

// More open files than this is a driver that never closes its handles.
constexpr size_t kMaxOpenFiles = 64;

std::string QuoteIdentifier(const std::string& name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

fs::path Utf8Path(const std::string& text) { return fs::u8path(text); }

std::string PathText(const fs::path& path) { return path.u8string(); }

}  // namespace

std::string InDirectory(const std::string& directory, const std::string& name) {
  const char last = directory.empty() ? '\\' : directory.back();
  return last == '\\' || last == '/' ? directory + name : directory + "\\" + name;
}

bool ResolveTerminalPath(const fs::path& root, const std::string& utf8_path, fs::path& out) {
  std::vector<std::string> parts;
  std::string part;
  auto flush = [&]() {
    if (part.empty() || part == ".") {
      // "\\" and "." add nothing
    } else if (part == "..") {
      if (parts.empty()) return false;
      parts.pop_back();
    } else {
      if (part.find(':') != std::string::npos) return false;
      parts.push_back(part);
    }
    part.clear();
    return true;
  };
  for (char c : utf8_path) {
    if (c == '\\' || c == '/') {
      if (!flush()) return false;
    } else if (c == '\0') {
      return false;
    } else {
      part += c;
    }
  }
  if (!flush() || parts.empty()) return false;
  out = root;
  for (const auto& p : parts) out /= Utf8Path(p);
  return true;
}

std::string SettingsTableName(const std::string& version) {
  if (version.size() < 5) return {};
  return std::string("Merxa_") + version[0] + "_" + version[2] + version[3] + version[4];
}

bool CreateSettingsDatabase(const fs::path& file, const std::string& version, std::string& error) {
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(PathText(file).c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  std::unique_ptr<sqlite3, int (*)(sqlite3*)> db(raw, sqlite3_close);
  if (rc != SQLITE_OK) {
    error = "cannot create " + PathText(file) + ": " + (raw ? sqlite3_errmsg(raw) : sqlite3_errstr(rc));
    return false;
  }
  const std::string table = SettingsTableName(version);
  std::string sql = "BEGIN;";
  if (!table.empty()) {
    const std::string t = QuoteIdentifier(table);
    sql += "CREATE TABLE " + t + " (parameter TEXT, value TEXT);";
    for (int k = 1; k <= 8; ++k) {
      sql += "INSERT INTO " + t + " (parameter, value) VALUES ('Merxa.FieldName_00" + std::to_string(k) + "', '');";
    }
    sql += "INSERT INTO " + t + " (parameter, value) VALUES ('Merxa.PriceAttrNumber', '0');";
    sql += "INSERT INTO " + t + " (parameter, value) VALUES ('Merxa.NameAttrNumber', '2');";
  }
  sql += "COMMIT;";
  char* message = nullptr;
  if (sqlite3_exec(db.get(), sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    error = "cannot fill " + PathText(file) + ": " + (message ? message : "unknown error");
    sqlite3_free(message);
    db.reset();
    std::error_code ec;
    fs::remove(file, ec);
    return false;
  }
  return true;
}

Terminal::Terminal(const Options& options) : options_(options), root_(Utf8Path(options.root)) {}

Terminal::~Terminal() { CloseAll(); }

bool Terminal::Prepare(std::string& error) {
  std::error_code ec;
  fs::create_directories(root_, ec);
  if (!fs::is_directory(root_)) {
    error = "cannot use the root directory " + options_.root;
    return false;
  }
  for (const std::string& dir : {options_.Value("MerxaDir"), options_.Value("OrderDir"), std::string("Merxa5\\Order\\")}) {
    fs::path local;
    // A directory answer such as "\" names the root itself: nothing to make.
    if (!ResolveTerminalPath(root_, dir, local)) continue;
    fs::create_directories(local, ec);
    if (!fs::is_directory(local)) {
      error = "cannot make the terminal directory " + dir + " in " + options_.root;
      return false;
    }
  }
  const fs::path setup = root_ / "MerxaSetup.db";
  if (options_.create_setup && !fs::exists(setup, ec)) {
    if (!CreateSettingsDatabase(setup, options_.Value("ProgrammVersion"), error)) return false;
  }
  return PrepareOrders(error);
}

bool Terminal::PrepareOrders(std::string& error) {
  if (options_.orders_file.empty() && options_.documents_file.empty()) return true;
  fs::path orders;
  if (!ResolveTerminalPath(root_, InDirectory(options_.Value("OrderDir"), "Orders.db"), orders)) {
    error = "OrderDir names no directory under the root";
    return false;
  }
  std::error_code ec;
  if (!options_.orders_file.empty()) {
    fs::copy_file(options_.orders_file, orders, fs::copy_options::overwrite_existing, ec);
    if (ec) {
      error = "cannot copy " + options_.orders_file + ": " + ec.message();
      return false;
    }
  }
  if (!options_.documents_file.empty()) {
    // The description itself, or the file that holds it.
    std::string description = options_.documents_file;
    if (description[0] != '{') {
      std::ifstream in(options_.documents_file, std::ios::binary);
      if (!in) {
        error = "cannot read " + options_.documents_file;
        return false;
      }
      description.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    if (!WriteOrdersDatabase(orders, description, error)) return false;
  }
  return true;
}

bool Terminal::Zeroed(const Request& request, const std::string& argument) const {
  for (const auto& rule : options_.zero) {
    if (rule.command == request.command && (rule.any_argument || rule.argument == argument)) return true;
  }
  return false;
}

Terminal::OpenFile* Terminal::Find(int32_t handle) {
  const auto it = files_.find(handle);
  return it == files_.end() ? nullptr : it->second.get();
}

void Terminal::CloseAll() { files_.clear(); }

Bytes Terminal::Answer(const Request& request, bool& disconnect, std::string& note) {
  disconnect = false;
  const std::string argument = os::Cp1251ToUtf8(request.text);
  if (Zeroed(request, argument)) {
    note = "answered 0 on request";
    return Number(0);
  }
  std::error_code ec;
  fs::path local;
  const bool has_path = ResolveTerminalPath(root_, argument, local);
  switch (request.command) {
    case Command::GetFuture: {
      return TextReply(options_.Value(argument));
    }
    case Command::GetTerminalVersion:
      return TextReply(options_.model);
    case Command::GetHrpMaxBuffer:
      return Number(options_.max_packet);
    case Command::Disconnect:
      disconnect = true;
      return Number(1);
    case Command::ExistFile:
      return Number(has_path && fs::is_regular_file(local, ec) ? 1 : 0);
    case Command::DeleteFile: {
      if (!has_path || !fs::is_regular_file(local, ec)) {
        note = "no such file";
        return Number(0);
      }
      for (const auto& [handle, file] : files_) {
        if (file->path == local) {
          note = "file is open";
          return Number(0);
        }
      }
      return Number(fs::remove(local, ec) ? 1 : 0);
    }
    case Command::CreateFile: {
      if (!has_path) {
        note = "path refused";
        return Number(0);
      }
      std::ofstream created(local, std::ios::binary | std::ios::trunc);
      return Number(created.good() ? 1 : 0);
    }
    case Command::OpenFile: {
      if (!has_path || !fs::is_regular_file(local, ec)) {
        note = "no such file";
        return Number(0);
      }
      if (files_.size() >= kMaxOpenFiles) {
        note = "too many open files";
        return Number(0);
      }
      auto file = std::make_unique<OpenFile>();
      file->path = local;
      file->stream.open(local, std::ios::in | std::ios::binary);
      if (!file->stream.is_open()) {
        note = "cannot open";
        return Number(0);
      }
      const int32_t handle = next_handle_;
      next_handle_ = next_handle_ == INT32_MAX ? 1 : next_handle_ + 1;
      files_[handle] = std::move(file);
      return Number(handle);
    }
    case Command::WriteFile: {
      OpenFile* file = Find(request.handle);
      if (file == nullptr) {
        note = "unknown handle";
        return Number(0);
      }
      if (options_.max_packet <= 0 || request.size > static_cast<size_t>(options_.max_packet)) {
        note = "request longer than MaxPacketSize";
        return Number(0);
      }
      if (file->written < 0) {
        // The first write replaces whatever the file held.
        file->stream.close();
        file->stream.clear();
        file->stream.open(file->path, std::ios::in | std::ios::out | std::ios::binary | std::ios::trunc);
        file->written = 0;
      }
      file->stream.seekp(file->written);
      file->stream.write(reinterpret_cast<const char*>(request.data), request.count);
      file->stream.flush();
      if (!file->stream.good()) {
        file->stream.clear();
        note = "write failed";
        return Number(0);
      }
      file->written += request.count;
      return Number(request.count);
    }
    case Command::LengthFile: {
      OpenFile* file = Find(request.handle);
      if (file == nullptr) {
        note = "unknown handle";
        return Number(0);
      }
      file->stream.flush();
      const auto size = fs::file_size(file->path, ec);
      if (ec || size > static_cast<uintmax_t>(INT32_MAX)) {
        note = "size unknown or beyond 2 GiB";
        return Number(0);
      }
      return Number(static_cast<int32_t>(size));
    }
    case Command::ReadFile: {
      OpenFile* file = Find(request.handle);
      if (file == nullptr) {
        note = "unknown handle";
        return Number(0);
      }
      if (request.count <= 0 || request.count > options_.max_packet) {
        note = "byte count outside 1..MaxPacketSize";
        return Number(0);
      }
      read_buffer_.resize(static_cast<size_t>(request.count));
      file->stream.clear();
      file->stream.seekg(file->read_pos);
      file->stream.read(reinterpret_cast<char*>(read_buffer_.data()), request.count);
      const auto got = file->stream.gcount();
      file->stream.clear();
      file->read_pos += got;
      if (got < request.count) note = "end of file: " + std::to_string(got) + " bytes";
      return DataReply(read_buffer_.data(), static_cast<size_t>(got));
    }
    case Command::CloseFile: {
      OpenFile* file = Find(request.handle);
      if (file == nullptr) {
        note = "unknown handle";
        return Number(0);
      }
      const fs::path path = file->path;
      const bool written = file->written >= 0;
      files_.erase(request.handle);
      if (options_.pick && written && path.filename() == "Podbor.db") {
        std::string error;
        const int picked = PickSelectionTasks(path, error);
        note = picked < 0 ? "picking failed: " + error : "picked " + std::to_string(picked) + " task(s)";
      }
      return Number(1);
    }
    case Command::Unknown:
      break;
  }
  note = "unknown command";
  return Number(0);
}

}  // namespace merxa
