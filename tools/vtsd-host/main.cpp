// vtsd-host: drives the driver component the way the 1C host does.
//
//   vtsd-host [--temp-dir DIR]          JSON lines on standard input, one JSON
//                                       line answered per input line
//   vtsd-host [--temp-dir DIR] VERB ... one exchange with a terminal (verbs.hpp)
//
// Options come before the verb. Command-line verbs (each a small program over
// the same backend) are listed in kVerbs; with no verb the harness reads the
// script from standard input.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "tools/vtsd-host/backend.hpp"
#include "tools/vtsd-host/session.hpp"
#include "tools/vtsd-host/verbs.hpp"

namespace {

using vtsd::host::Backend;
using vtsd::host::DialogScript;

struct Options {
  std::string temp_dir;
  bool offer_host_interfaces = true;  // the COM backend's connection object
  std::string native_library;         // --native: drive this Native API library
  std::vector<std::string> args;  // the verb and its arguments
};

struct Verb {
  const char* name;
  const char* usage;
  int (*run)(Backend& backend, DialogScript& dialogs, const std::vector<std::string>& args);
};

int RunScript(Backend& backend, DialogScript& dialogs, const std::vector<std::string>&) {
  // Lines of megabytes (an article table) are read in blocks, not one
  // character at a time through C's stdio.
  std::ios::sync_with_stdio(false);
  std::cin.tie(nullptr);
  vtsd::host::Session session(backend, dialogs);
  session.Run(std::cin, std::cout);
  return 0;
}

const Verb kVerbs[] = {
    {"script", "script                 JSON lines on standard input (the default)", RunScript},
    {"test", "test [OPTIONS]         the device test: application, version, model", vtsd::host::RunTestVerb},
    {"upload", "upload FILE.xml [--package-size N] [OPTIONS]\n"
               "                         send an article table as the terminal's catalogue",
     vtsd::host::RunUploadVerb},
    {"task", "task FILE.xml [--replace] [OPTIONS]\n"
             "                         add a selection task (--replace: replace one of that name)",
     vtsd::host::RunTaskVerb},
    {"download", "download [--source orders|tasks] [--all | --choose NAME[,NAME...]] [OPTIONS]\n"
                 "                         documents' lines as XML on standard output (default --all)",
     vtsd::host::RunDownloadVerb},
    {"clear", "clear [OPTIONS]        replace the terminal's catalogue by an empty one", vtsd::host::RunClearVerb},
};

void Usage(std::FILE* to) {
  std::fprintf(to, "usage: vtsd-host [--temp-dir DIR] [--native LIBRARY] [verb ...]\n\nverbs:\n");
  for (const Verb& v : kVerbs) std::fprintf(to, "  %s\n", v.usage);
  std::fprintf(to,
               "\noptions:\n"
               "  --temp-dir DIR         the component's temporary directory (sets TMPDIR,\n"
               "                         TMP and TEMP before Init)\n"
               "  --native LIBRARY       drive a Native API library (libVemlarTSDNative.so,\n"
               "                         VemlarTSDNative.dll) as the 1C platform loads it; the\n"
               "                         memory it hands back is checked at the end (exit 3)\n"
               "  --refuse-host-interfaces  (Windows) the connection object given to Init\n"
               "                         refuses the four host interfaces\n"
               "\nverb OPTIONS (after the verb):\n"
               "  --address IP           address the driver listens on (default 0.0.0.0)\n"
               "  --port PORT            TCP port (default 2000)\n"
               "  --timeout S            seconds to wait for the terminal (default 30)\n"
               "  --lang ru|en           language of the driver's messages (default en)\n"
               "\nA verb exits with the driver's error code of the first failure (0 for\n"
               "success), 64 for a command line it cannot use, 65 for an unreadable file.\n");
}

// Sets a variable of this process's environment, which the component reads
// for its temporary directory at Init.
void SetEnv(const char* name, const std::string& value) {
#ifdef _WIN32
  _putenv_s(name, value.c_str());
#else
  setenv(name, value.c_str(), 1);
#endif
}

bool ParseOptions(int argc, char** argv, Options& options) {
  int i = 1;
  for (; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--temp-dir") {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "vtsd-host: --temp-dir needs a directory\n");
        return false;
      }
      options.temp_dir = argv[++i];
    } else if (a.rfind("--temp-dir=", 0) == 0) {
      options.temp_dir = a.substr(std::strlen("--temp-dir="));
    } else if (a == "--native" && i + 1 < argc) {
      options.native_library = argv[++i];
    } else if (a.rfind("--native=", 0) == 0) {
      options.native_library = a.substr(std::strlen("--native="));
    } else if (a == "--refuse-host-interfaces") {
      options.offer_host_interfaces = false;
    } else if (a == "--help" || a == "-h") {
      Usage(stdout);
      std::exit(0);
    } else if (a.rfind("--", 0) == 0) {
      std::fprintf(stderr, "vtsd-host: unknown option %s\n", a.c_str());
      return false;
    } else {
      break;
    }
  }
  for (; i < argc; ++i) options.args.push_back(argv[i]);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    Usage(stderr);
    return 2;
  }
  if (!options.temp_dir.empty()) {
    for (const char* name : {"TMPDIR", "TMP", "TEMP"}) SetEnv(name, options.temp_dir);
  }

  const Verb* verb = &kVerbs[0];
  std::vector<std::string> verb_args;
  if (!options.args.empty()) {
    verb = nullptr;
    for (const Verb& v : kVerbs)
      if (options.args[0] == v.name) verb = &v;
    if (!verb) {
      std::fprintf(stderr, "vtsd-host: unknown verb %s\n", options.args[0].c_str());
      Usage(stderr);
      return 2;
    }
    verb_args.assign(options.args.begin() + 1, options.args.end());
  }

  try {
    DialogScript dialogs;
    std::unique_ptr<Backend> backend;
    if (!options.native_library.empty()) {
      backend = vtsd::host::MakeNativeBackend(dialogs, options.native_library);
    } else {
#ifdef _WIN32
      backend = vtsd::host::MakeComBackend(dialogs, options.offer_host_interfaces);
#else
      backend = vtsd::host::MakePortableBackend(dialogs);
#endif
    }
    int status = verb->run(*backend, dialogs, verb_args);
    const std::string summary = backend->Summary();
    const std::string problems = backend->Problems();
    backend.reset();
    if (!summary.empty()) std::fprintf(stderr, "vtsd-host: %s\n", summary.c_str());
    if (!problems.empty()) {
      std::fprintf(stderr, "vtsd-host: %s\n", problems.c_str());
      if (status == 0) status = 3;
    }
    return status;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vtsd-host: %s\n", e.what());
    return 1;
  }
}
