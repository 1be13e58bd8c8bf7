#include "tools/vtsd-host/verbs.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <sstream>

#include <pugixml.hpp>

#include "base/progress.hpp"
#include "platform/dialogs.hpp"

namespace vtsd::host {

namespace {

// ------------------------------------------------------------------ options

struct Options {
  std::string address = "0.0.0.0";
  int port = 2000;
  int timeout = 30;
  bool russian = false;
  std::vector<std::string> positional;
  // upload
  int package_size = 0;  // 0: the whole table in one package
  // task
  bool replace = false;
  // download
  int source = -1;  // -1: no source window; 0 orders; 1 selection tasks
  bool choose_all = false;
  std::vector<std::string> names;
};

// What a verb accepts besides the common options.
enum Extra { kNone = 0, kPackageSize = 1, kReplace = 2, kDownloadChoice = 4 };

bool ParseNumber(const std::string& text, int min, int& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (*end != '\0' || v < min || v > 2147483647L) return false;
  out = static_cast<int>(v);
  return true;
}

void SplitNames(const std::string& text, std::vector<std::string>& names) {
  std::string::size_type start = 0;
  for (;;) {
    const std::string::size_type comma = text.find(',', start);
    names.push_back(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (comma == std::string::npos) return;
    start = comma + 1;
  }
}

// Parses the verb's arguments; false (with the reason on stderr) for a
// command line the verb cannot use.
bool ParseVerbOptions(const char* verb, const std::vector<std::string>& args, int extras,
                      size_t positional_count, Options& o) {
  auto fail = [verb](const std::string& why) {
    std::fprintf(stderr, "vtsd-host %s: %s\n", verb, why.c_str());
    return false;
  };
  for (size_t i = 0; i < args.size(); ++i) {
    std::string a = args[i];
    std::string value;
    bool has_value = false;
    if (a.rfind("--", 0) == 0) {
      const std::string::size_type eq = a.find('=');
      if (eq != std::string::npos) {
        value = a.substr(eq + 1);
        a = a.substr(0, eq);
        has_value = true;
      }
    }
    auto take = [&](std::string& out) {
      if (has_value) {
        out = value;
        return true;
      }
      if (i + 1 >= args.size()) return false;
      out = args[++i];
      return true;
    };
    std::string v;
    if (a == "--address") {
      if (!take(o.address)) return fail("--address needs an IPv4 address");
    } else if (a == "--port") {
      if (!take(v) || !ParseNumber(v, 0, o.port)) return fail("--port needs a number");
    } else if (a == "--timeout") {
      if (!take(v) || !ParseNumber(v, 0, o.timeout)) return fail("--timeout needs seconds");
    } else if (a == "--lang") {
      if (!take(v) || (v != "ru" && v != "en")) return fail("--lang is ru or en");
      o.russian = v == "ru";
    } else if (a == "--package-size" && (extras & kPackageSize)) {
      if (!take(v) || !ParseNumber(v, 1, o.package_size))
        return fail("--package-size needs a number of records, 1 or more");
    } else if (a == "--replace" && (extras & kReplace) && !has_value) {
      o.replace = true;
    } else if (a == "--source" && (extras & kDownloadChoice)) {
      if (!take(v) || (v != "orders" && v != "tasks")) return fail("--source is orders or tasks");
      o.source = v == "orders" ? 0 : 1;
    } else if (a == "--all" && (extras & kDownloadChoice) && !has_value) {
      o.choose_all = true;
    } else if (a == "--choose" && (extras & kDownloadChoice)) {
      if (!take(v)) return fail("--choose needs document names");
      SplitNames(v, o.names);
    } else if (a.rfind("--", 0) == 0) {
      return fail("unknown option " + a);
    } else {
      o.positional.push_back(a);
    }
  }
  if (o.choose_all && !o.names.empty()) return fail("--all and --choose exclude each other");
  if (o.positional.size() != positional_count)
    return fail(positional_count == 0 ? "takes no file" : "needs one file");
  if (o.names.empty()) o.choose_all = true;
  return true;
}

// The verb's input file, whole; false (with the reason on stderr) when it
// cannot be read.
bool ReadInputFile(const char* verb, const std::string& path, std::string& text) {
  std::ifstream in(path, std::ios::binary);
  if (in) text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (!in || in.bad()) {
    std::fprintf(stderr, "vtsd-host %s: cannot read %s\n", verb, path.c_str());
    return false;
  }
  return true;
}

// ------------------------------------------------------------------ dialogs

// Answers the driver's dialogs as the command line asks, in front of the
// harness's scripted provider (which records them and takes the answers
// queued here): the terminal-wait box is confirmed, the task replacement
// question answered by --replace, the selection windows by --source, --all
// and --choose. Each dialog is mentioned on stderr.
class CommandLineDialogs : public platform::DialogProvider {
 public:
  CommandLineDialogs(DialogScript& script, const Options& options)
      : script_(script), options_(options), inner_(platform::Dialogs()) {
    platform::InstallDialogProvider(this);
  }
  ~CommandLineDialogs() override { platform::InstallDialogProvider(&inner_); }

  platform::BoxAnswer ShowMessageBox(const platform::MessageBoxRequest& request,
                                     platform::BoxCloser* closer) override {
    DialogAction action;
    if (request.kind == platform::BoxKind::Info) {
      std::fprintf(stderr, "waiting for the terminal on %s:%d (%d s): %s\n", options_.address.c_str(),
                   options_.port, options_.timeout, request.text.c_str());
      action.press = DialogAction::Press::Ok;
    } else if (request.kind == platform::BoxKind::Question && exit_answer_queued_) {
      // The exit question after a Cancel of ours: its Yes is queued already.
      exit_answer_queued_ = false;
      std::fprintf(stderr, "question: %s\nanswer: yes\n", request.text.c_str());
      return inner_.ShowMessageBox(request, closer);
    } else if (request.kind == platform::BoxKind::Question) {
      action.press = options_.replace ? DialogAction::Press::Yes : DialogAction::Press::No;
      std::fprintf(stderr, "question: %s\nanswer: %s%s\n", request.text.c_str(),
                   options_.replace ? "yes" : "no", options_.replace ? "" : " (give --replace to replace)");
    } else {
      std::fprintf(stderr, "notice: %s\n", request.text.c_str());
      action.press = DialogAction::Press::Ok;
    }
    script_.Queue({action});
    return inner_.ShowMessageBox(request, closer);
  }

  platform::SelectionWindowEvent WaitSelectionWindow(
      const platform::SelectionWindowRequest& request) override {
    if (request.choose_source) {
      QueueChoice({request.items.at(static_cast<size_t>(std::max(options_.source, 0)))});
    } else {
      std::fprintf(stderr, "documents on the terminal:");
      for (const std::string& item : request.items) std::fprintf(stderr, " [%s]", item.c_str());
      std::fprintf(stderr, "%s\n", request.items.empty() ? " none" : "");
      if (options_.choose_all) {
        if (request.items.empty()) {
          QueueCancel();
        } else {
          QueueChoice(request.items);
        }
      } else {
        std::vector<std::string> missing;
        for (const std::string& name : options_.names)
          if (std::find(request.items.begin(), request.items.end(), name) == request.items.end())
            missing.push_back(name);
        for (const std::string& name : missing)
          std::fprintf(stderr, "no document named [%s] on the terminal\n", name.c_str());
        if (missing.empty()) {
          QueueChoice(options_.names);
        } else {
          QueueCancel();
        }
      }
    }
    return inner_.WaitSelectionWindow(request);
  }

  void CloseSelectionWindow() override { inner_.CloseSelectionWindow(); }

 private:
  void QueueChoice(const std::vector<std::string>& lines) {
    DialogAction action;
    action.press = DialogAction::Press::Ok;
    action.choose = lines;
    action.has_choose = true;
    script_.Queue({action});
  }
  // Cancel, and Yes to the exit question that follows.
  void QueueCancel() {
    DialogAction cancel;
    cancel.press = DialogAction::Press::Cancel;
    DialogAction yes;
    yes.press = DialogAction::Press::Yes;
    script_.Queue({cancel, yes});
    exit_answer_queued_ = true;
  }

  DialogScript& script_;
  const Options& options_;
  platform::DialogProvider& inner_;
  bool exit_answer_queued_ = false;
};

// On Windows the harness drives the registered DLL, whose real windows the
// harness answers from its queue without calling the provider above: there
// the answers are queued before each call, from the options alone.
#ifdef _WIN32
constexpr bool kAnswersAhead = true;
#else
constexpr bool kAnswersAhead = false;
#endif

void QueueAhead(DialogScript& script, DialogAction::Press press, std::vector<std::string> choose = {}) {
  DialogAction action;
  action.press = press;
  action.has_choose = !choose.empty();
  action.choose = std::move(choose);
  script.Queue({action});
}

// ------------------------------------------------------------------ progress

// Shows each transfer as one line on stderr, rewritten in place while the
// file moves and ended when it is complete.
class ProgressLine {
 public:
  ProgressLine() {
    SetProgressHook([this](const TransferProgress& p) { Show(p); });
  }
  ~ProgressLine() {
    SetProgressHook(nullptr);
    End();
  }

  void Package(int number, int count, const std::string& status) {
    End();
    std::fprintf(stderr, "package %d of %d (%s)\n", number, count, status.c_str());
  }

 private:
  void Show(const TransferProgress& p) {
    const int percent = p.total > 0 ? static_cast<int>(p.done * 100 / p.total) : 100;
    std::fprintf(stderr, "\r%s %s: %lld of %lld bytes (%d%%)",
                 p.direction == TransferProgress::Direction::ToTerminal ? "sending" : "receiving",
                 p.file.c_str(), static_cast<long long>(p.done), static_cast<long long>(p.total),
                 percent);
    open_ = true;
    if (p.done >= p.total) End();
  }
  void End() {
    if (open_) std::fputc('\n', stderr);
    open_ = false;
  }

  bool open_ = false;
};

// ------------------------------------------------------------------ calls

// The driver as the command line uses it: methods by name, the failure's code
// and message from GetLastError.
class Driver {
 public:
  explicit Driver(Backend& backend) : backend_(backend) {}

  // Calls the method with `params` (sized to what the method takes); returns
  // the return value.
  Value Call(const char* method, Values& params) {
    long number = -1;
    if (backend_.FindMethod(method, number) != 0) throw BackendError(std::string("no method ") + method);
    long count = 0;
    backend_.GetNParams(number, count);
    if (params.size() < static_cast<size_t>(count)) params.resize(static_cast<size_t>(count));
    Value ret;
    backend_.CallAsFunc(number, ret, params);
    return ret;
  }

  // True when the method succeeded (returned 1); otherwise the failure is
  // printed and `code` is the exit status: the driver's error code, or
  // `area` when the method failed without a new message.
  bool Succeeded(const char* method, const Value& ret, int area, int& code) {
    if (ret.kind() == Value::Kind::Int && ret.ToInt32() == 1) return true;
    Values params;
    const Value error = Call("GetLastError", params);
    code = error.kind() == Value::Kind::Int ? error.ToInt32() : 0;
    const std::string text = params.empty() || params[0].IsEmpty() ? "" : params[0].ToText();
    if (code == 0 || !reported_.insert_if_new(code, text)) {
      std::fprintf(stderr, "vtsd-host: %s failed without a message\n", method);
      code = area;
    } else {
      std::fprintf(stderr, "vtsd-host: %s failed: code %d: %s\n", method, code, text.c_str());
    }
    return false;
  }

  bool Set(const char* name, const Value& value, int& code) {
    Values params{Value::Text(name), value};
    return Succeeded("SetParameter", Call("SetParameter", params), 8, code);
  }

 private:
  // The last failure reported, so that a method failing silently after an
  // earlier failure is not blamed with that failure's message.
  struct LastReport {
    int code = 0;
    std::string text;
    bool insert_if_new(int c, const std::string& t) {
      if (c == code && t == text) return false;
      code = c;
      text = t;
      return true;
    }
  } reported_;
  Backend& backend_;
};

// Initialises the component and sets its settings; 0 or the failure's code.
int Prepare(Backend& backend, Driver& driver, const Options& o, bool choose_source) {
  backend.Init();
  backend.SetLocale(o.russian ? "ru_RU" : "en_US");
  int code = 0;
  if (!driver.Set("propIpAdress", Value::Text(o.address), code)) return code;
  if (!driver.Set("propPortNumber", Value::Int(o.port), code)) return code;
  if (!driver.Set("propTimeOut", Value::Int(o.timeout), code)) return code;
  if (!driver.Set("propChooseDownloadSource", Value::Bool(choose_source), code)) return code;
  return 0;
}

// Open, the body, Close. The exit status is the first failure's code; Close
// runs whenever Open succeeded, and its own failure counts only when the body
// succeeded.
int WithConnection(Backend& backend, const Options& o, bool choose_source,
                   const std::function<int(Driver&, const Value& device)>& body) {
  Driver driver(backend);
  int code = Prepare(backend, driver, o, choose_source);
  if (code == 0) {
    Values open;
    const Value ret = driver.Call("Open", open);
    if (driver.Succeeded("Open", ret, 1, code)) {
      const Value device = open[0];
      code = body(driver, device);
      Values close{device};
      int close_code = 0;
      if (!driver.Succeeded("Close", driver.Call("Close", close), 2, close_code) && code == 0)
        code = close_code;
    }
  }
  backend.Done();
  return code;
}

}  // namespace

// ------------------------------------------------------------------ verbs

bool SplitArticleTable(const std::string& xml, int size, std::vector<std::string>& packages,
                       std::string& error) {
  pugi::xml_document doc;
  const pugi::xml_parse_result parsed = doc.load_buffer(xml.data(), xml.size());
  if (!parsed) {
    error = std::string("not well-formed XML: ") + parsed.description();
    return false;
  }
  const pugi::xml_node table = doc.child("Table");
  if (!table) {
    error = "no root element Table";
    return false;
  }
  std::vector<pugi::xml_node> records;
  for (pugi::xml_node r = table.child("Record"); r; r = r.next_sibling("Record")) records.push_back(r);
  if (records.empty()) {
    error = "no Record element";
    return false;
  }
  packages.clear();
  for (size_t start = 0; start < records.size(); start += static_cast<size_t>(size)) {
    std::ostringstream out;
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Table>\n";
    const size_t end = std::min(records.size(), start + static_cast<size_t>(size));
    for (size_t i = start; i < end; ++i) records[i].print(out, "", pugi::format_raw);
    out << "\n</Table>\n";
    packages.push_back(out.str());
  }
  return true;
}

int RunTestVerb(Backend& backend, DialogScript& dialogs, const std::vector<std::string>& args) {
  Options o;
  if (!ParseVerbOptions("test", args, kNone, 0, o)) return kExitUsage;
  CommandLineDialogs answers(dialogs, o);
  Driver driver(backend);
  int code = Prepare(backend, driver, o, false);
  if (code == 0) {
    Values params;
    const Value ret = driver.Call("DeviceTest", params);
    if (driver.Succeeded("DeviceTest", ret, 3, code)) {
      // The description is three labelled lines, each after a carriage return.
      std::string text = params[0].ToText();
      std::replace(text.begin(), text.end(), '\r', '\n');
      if (!text.empty() && text[0] == '\n') text.erase(0, 1);
      std::cout << text << "\n";
    }
  }
  backend.Done();
  return code;
}

int RunUploadVerb(Backend& backend, DialogScript& dialogs, const std::vector<std::string>& args) {
  Options o;
  if (!ParseVerbOptions("upload", args, kPackageSize, 1, o)) return kExitUsage;
  std::string xml;
  if (!ReadInputFile("upload", o.positional[0], xml)) return kExitInput;
  std::vector<std::string> packages;
  if (o.package_size == 0) {
    packages.push_back(xml);  // as it is: the driver judges it
  } else {
    std::string error;
    if (!SplitArticleTable(xml, o.package_size, packages, error)) {
      std::fprintf(stderr, "vtsd-host upload: %s: %s\n", o.positional[0].c_str(), error.c_str());
      return kExitInput;
    }
  }
  CommandLineDialogs answers(dialogs, o);
  ProgressLine progress;
  return WithConnection(backend, o, false, [&](Driver& driver, const Value& device) {
    const int count = static_cast<int>(packages.size());
    for (int i = 0; i < count; ++i) {
      const std::string status = i + 1 == count ? "last" : i == 0 ? "first" : "regular";
      progress.Package(i + 1, count, status);
      Values params{device, Value::Text(packages[static_cast<size_t>(i)]), Value::Text(status)};
      int code = 0;
      if (!driver.Succeeded("UploadTable", driver.Call("UploadTable", params), 5, code)) return code;
    }
    std::fprintf(stderr, "catalogue sent: %d package%s\n", count, count == 1 ? "" : "s");
    return 0;
  });
}

int RunTaskVerb(Backend& backend, DialogScript& dialogs, const std::vector<std::string>& args) {
  Options o;
  if (!ParseVerbOptions("task", args, kReplace, 1, o)) return kExitUsage;
  std::string xml;
  if (!ReadInputFile("task", o.positional[0], xml)) return kExitInput;
  CommandLineDialogs answers(dialogs, o);
  ProgressLine progress;
  return WithConnection(backend, o, false, [&](Driver& driver, const Value& device) {
    if (kAnswersAhead) QueueAhead(dialogs, o.replace ? DialogAction::Press::Yes : DialogAction::Press::No);
    Values params{device, Value::Text(xml)};
    int code = 0;
    if (!driver.Succeeded("UnloadTaskForSelection", driver.Call("UnloadTaskForSelection", params), 7,
                          code))
      return code;
    std::fprintf(stderr, "task sent\n");
    return 0;
  });
}

int RunDownloadVerb(Backend& backend, DialogScript& dialogs, const std::vector<std::string>& args) {
  Options o;
  if (!ParseVerbOptions("download", args, kDownloadChoice, 0, o)) return kExitUsage;
  if (kAnswersAhead && o.names.empty()) {
    // The document window's lines are not known before it opens.
    std::fprintf(stderr, "vtsd-host download: here the documents must be named with --choose\n");
    return kExitUsage;
  }
  CommandLineDialogs answers(dialogs, o);
  ProgressLine progress;
  return WithConnection(backend, o, o.source >= 0, [&](Driver& driver, const Value& device) {
    if (kAnswersAhead) {
      if (o.source >= 0) {
        static const char* const kSources[2][2] = {{"Orders", "Podbor"}, {"Накладные", "Подбор"}};
        QueueAhead(dialogs, DialogAction::Press::Ok, {kSources[o.russian ? 1 : 0][o.source]});
      }
      QueueAhead(dialogs, DialogAction::Press::Ok, o.names);
    }
    Values params{device, Value()};
    int code = 0;
    if (!driver.Succeeded("DownloadTable", driver.Call("DownloadTable", params), 6, code)) return code;
    std::cout << params[1].ToText() << std::flush;
    return 0;
  });
}

int RunClearVerb(Backend& backend, DialogScript& dialogs, const std::vector<std::string>& args) {
  Options o;
  if (!ParseVerbOptions("clear", args, kNone, 0, o)) return kExitUsage;
  CommandLineDialogs answers(dialogs, o);
  ProgressLine progress;
  return WithConnection(backend, o, false, [&](Driver& driver, const Value& device) {
    Values params{device};
    int code = 0;
    if (!driver.Succeeded("ClearTable", driver.Call("ClearTable", params), 11, code)) return code;
    std::fprintf(stderr, "catalogue cleared\n");
    return 0;
  });
}

}  // namespace vtsd::host
