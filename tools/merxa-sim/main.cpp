// merxa-sim: the terminal application simulator (see --help).
#include <iostream>

#include "options.hpp"
#include "os.hpp"
#include "simulator.hpp"

int main(int argc, char** argv) {
  const std::vector<std::string> all = merxa::os::Utf8Arguments(argc, argv);
  const std::vector<std::string> args(all.empty() ? all.begin() : all.begin() + 1, all.end());
  merxa::Options options;
  std::string error;
  if (!merxa::ParseOptions(args, options, error)) {
    std::cerr << "merxa-sim: " << error << "\n(see merxa-sim --help)\n";
    return merxa::kExitSetupFailed;
  }
  if (options.help) {
    std::cout << merxa::HelpText();
    return 0;
  }
  return merxa::RunSimulator(options, std::cerr);
}
