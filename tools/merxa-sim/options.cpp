#include "options.hpp"

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace merxa {
namespace {

const char kHelp[] = R"(merxa-sim: a Merxa 5 terminal application for testing the VemlarTSD driver.

It connects as a TCP client to the driver's listening address and port,
answers every request of the terminal protocol against a directory that
stands for the terminal's file system, and ends when the driver sends
"Disconnect" (or, with --reconnect, connects again).

Usage: merxa-sim --port PORT --root DIR [options]

Connection:
  --address IP            driver's IPv4 address (default 127.0.0.1)
  --port PORT             driver's TCP port (required)
  --connect-timeout S     keep trying to connect for S seconds (default 30);
                          the driver listens only after its Open call
  --idle-timeout S        end the connection when no request comes for S
                          seconds, also while stalled (default 0: wait
                          without end)
  --once                  serve one connection and exit (the default)
  --reconnect N           after a connection ends, connect again, N times

Terminal:
  --root DIR              directory standing for the terminal's file system
                          (required); "\" is its root, paths arrive in
                          Windows-1251 and may not leave it through ".."
  --name TEXT             answer to GetFuture "ProgrammName" (default Merxa)
  --version TEXT          answer to GetFuture "ProgrammVersion" (default 5.123)
  --model TEXT            answer to GetTerminalVersion (default Vemlar VT-500)
  --merxa-dir TEXT        answer to GetFuture "MerxaDir" (default \Merxa5\)
  --order-dir TEXT        answer to GetFuture "OrderDir" (default \Merxa5\Order\)
  --value KEY=TEXT        answer TEXT to GetFuture KEY (any key); other
                          unknown keys get the empty text
  --max-packet N          answer to GetHrpMaxBuffer (default 4096); ReadFile
                          counts and WriteFile requests above it are refused
  --numbers 4|8           numeric replies as one 4-byte value, or as an 8-byte
                          status and value (status 0 for the value 0)
  --no-setup              do not create \MerxaSetup.db when it is missing
  --orders FILE           copy FILE to Orders.db in OrderDir at start
  --documents FILE|JSON   write Orders.db in OrderDir at start from a JSON
                          description (given as it is when it starts with
                          "{", else read from FILE): {"documents": [{"name":
                          N, "key": K, "lines": [[article, quantity], ...]}]}
  --pick                  play the operator: after each completed write of a
                          Podbor.db, every task whose order_ table is empty
                          gets the lines of its order_podbor_ table

  Texts are answered in UTF-8 and may be at most 45 bytes long (a text of
  exactly 3 bytes reaches the driver as a number, as on the real terminal).
  The directories named by MerxaDir and OrderDir and \Merxa5\Order\ are made
  in the root at start. When \MerxaSetup.db is missing it is created with the
  settings table Merxa_<a>_<b><c><d> (the 1st, 3rd, 4th and 5th characters of
  the version; none for a version shorter than 5 characters) holding the rows
  Merxa.FieldName_001 .. Merxa.FieldName_008, Merxa.PriceAttrNumber and
  Merxa.NameAttrNumber in its text columns parameter and value.

  Files: CreateFile makes an empty file (1, or 0 when it cannot); OpenFile
  answers a handle (0 when the file is missing); the first WriteFile through a
  handle empties the file, later ones append; ReadFile answers a data reply of
  an 8-byte header and the next bytes (only those left at the end of the
  file); LengthFile answers the size; ExistFile and DeleteFile answer 1 or 0 (a
  file still open under a handle is not deleted). Handles are forgotten when
  a connection ends.
  A malformed or unknown request is answered with the number 0.

Log:
  --log FILE              write every request received as one JSON line
                          (request number, command, path or key, handle, byte
                          count, payload bytes, reply bytes, fault, error);
                          the file is emptied at start and flushed per line

Faults (K counts requests from the start of the run, the first being 1):
  --close-at K            close the connection instead of answering request K
  --stall-at K            stop answering at request K; keep the socket open
                          until the driver closes it (or --idle-timeout ends it)
  --bad-length-at K       answer request K with only a reply length of
                          --bad-length N (default 2147483647), then go on
  --garbage-at K          answer request K with 64 bytes that are no frame
  --late-at K             answer request K only after --late-ms N
                          (default 35000, longer than the driver waits), then
                          go on as if nothing had happened
  --zero-at K             answer request K with 0 without doing it (a
                          "WriteFile" of a full storage, a "LengthFile" of an
                          empty file, a "GetHrpMaxBuffer" without room)
  --zero CMD[=ARG]        answer 0 to command CMD (for GetFuture, a path
                          command: only for that key or path), without doing it
  --refuse-delete         the same as --zero DeleteFile: deletes fail and the
                          file stays

Exit status: 0 after "Disconnect" ended the last connection; 3 when the last
connection ended otherwise (closed by the driver, a fault, an idle time-out);
1 when no connection could be made in time; 2 for bad arguments or a root
that cannot be prepared.
)";

bool ParseInt(const std::string& text, long long min, long long max, long long& out) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const long long v = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || v < min || v > max) return false;
  out = v;
  return true;
}

}  // namespace

const std::string& Options::Value(const std::string& key) const {
  static const std::string empty;
  const auto it = values.find(key);
  return it == values.end() ? empty : it->second;
}

std::string HelpText() { return kHelp; }

bool ParseOptions(const std::vector<std::string>& args, Options& o, std::string& error) {
  o.values["ProgrammName"] = "Merxa";
  o.values["ProgrammVersion"] = "5.123";
  o.values["MerxaDir"] = "\\Merxa5\\";
  o.values["OrderDir"] = "\\Merxa5\\Order\\";

  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= args.size()) {
        error = arg + " needs a value";
        return false;
      }
      out = args[++i];
      return true;
    };
    auto number = [&](long long min, long long max, long long& out) {
      std::string text;
      if (!value(text)) return false;
      if (!ParseInt(text, min, max, out)) {
        error = arg + ": not a number from " + std::to_string(min) + " to " + std::to_string(max) + ": " + text;
        return false;
      }
      return true;
    };
    long long n = 0;
    std::string text;
    if (arg == "--help" || arg == "-h") {
      o.help = true;
    } else if (arg == "--address") {
      if (!value(o.address)) return false;
    } else if (arg == "--port") {
      if (!number(1, 65535, n)) return false;
      o.port = static_cast<int>(n);
    } else if (arg == "--connect-timeout") {
      if (!number(0, 86400, n)) return false;
      o.connect_timeout_s = static_cast<int>(n);
    } else if (arg == "--idle-timeout") {
      if (!number(0, 86400, n)) return false;
      o.idle_timeout_s = static_cast<int>(n);
    } else if (arg == "--once") {
      o.reconnects = 0;
    } else if (arg == "--reconnect") {
      if (!number(0, INT_MAX, n)) return false;
      o.reconnects = static_cast<int>(n);
    } else if (arg == "--root") {
      if (!value(o.root)) return false;
    } else if (arg == "--name") {
      if (!value(o.values["ProgrammName"])) return false;
    } else if (arg == "--version") {
      if (!value(o.values["ProgrammVersion"])) return false;
    } else if (arg == "--model") {
      if (!value(o.model)) return false;
    } else if (arg == "--merxa-dir") {
      if (!value(o.values["MerxaDir"])) return false;
    } else if (arg == "--order-dir") {
      if (!value(o.values["OrderDir"])) return false;
    } else if (arg == "--value") {
      if (!value(text)) return false;
      const size_t eq = text.find('=');
      if (eq == std::string::npos || eq == 0) {
        error = "--value needs KEY=TEXT: " + text;
        return false;
      }
      o.values[text.substr(0, eq)] = text.substr(eq + 1);
    } else if (arg == "--max-packet") {
      if (!number(INT32_MIN, 16 * 1024 * 1024, n)) return false;
      o.max_packet = static_cast<int32_t>(n);
    } else if (arg == "--numbers") {
      if (!value(text)) return false;
      if (text == "4") {
        o.numbers = NumberShape::Four;
      } else if (text == "8") {
        o.numbers = NumberShape::Eight;
      } else {
        error = "--numbers takes 4 or 8: " + text;
        return false;
      }
    } else if (arg == "--no-setup") {
      o.create_setup = false;
    } else if (arg == "--orders") {
      if (!value(o.orders_file)) return false;
    } else if (arg == "--documents") {
      if (!value(o.documents_file)) return false;
    } else if (arg == "--pick") {
      o.pick = true;
    } else if (arg == "--log") {
      if (!value(o.log_path)) return false;
    } else if (arg == "--close-at") {
      if (!number(1, LLONG_MAX, n)) return false;
      o.close_at = n;
    } else if (arg == "--stall-at") {
      if (!number(1, LLONG_MAX, n)) return false;
      o.stall_at = n;
    } else if (arg == "--bad-length-at") {
      if (!number(1, LLONG_MAX, n)) return false;
      o.bad_length_at = n;
    } else if (arg == "--bad-length") {
      if (!number(INT32_MIN, INT32_MAX, n)) return false;
      o.bad_length = static_cast<int32_t>(n);
    } else if (arg == "--garbage-at") {
      if (!number(1, LLONG_MAX, n)) return false;
      o.garbage_at = n;
    } else if (arg == "--late-at") {
      if (!number(1, LLONG_MAX, n)) return false;
      o.late_at = n;
    } else if (arg == "--late-ms") {
      if (!number(0, INT32_MAX, n)) return false;
      o.late_ms = static_cast<int>(n);
    } else if (arg == "--zero-at") {
      if (!number(1, LLONG_MAX, n)) return false;
      o.zero_at = n;
    } else if (arg == "--zero" || arg == "--refuse-delete") {
      if (arg == "--refuse-delete") {
        text = "DeleteFile";
      } else if (!value(text)) {
        return false;
      }
      ZeroRule rule;
      const size_t eq = text.find('=');
      rule.command = CommandFromName(text.substr(0, eq));
      if (rule.command == Command::Unknown) {
        error = "--zero: unknown command: " + text.substr(0, eq);
        return false;
      }
      if (eq != std::string::npos) {
        rule.any_argument = false;
        rule.argument = text.substr(eq + 1);
      }
      o.zero.push_back(rule);
    } else {
      error = "unknown argument: " + arg;
      return false;
    }
  }
  if (o.help) return true;
  if (o.port == 0) {
    error = "--port is required";
    return false;
  }
  if (o.root.empty()) {
    error = "--root is required";
    return false;
  }
  for (const auto& [key, text] : o.values) {
    if (text.size() > kMaxTextBytes) {
      error = "the answer to " + key + " is longer than 45 bytes";
      return false;
    }
  }
  if (o.model.size() > kMaxTextBytes) {
    error = "--model is longer than 45 bytes";
    return false;
  }
  return true;
}

}  // namespace merxa
