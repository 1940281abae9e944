#include "app/CommandLine.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <string_view>
#include <utility>

namespace lumarin {

namespace {

std::optional<double> parseSeconds(const std::string& text) {
  if (text.empty()) {
    return std::nullopt;
  }
  errno = 0;
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (errno != 0 || end != text.c_str() + text.size() || !std::isfinite(value) || value < 0) {
    return std::nullopt;
  }
  return value;
}

// A link of the program's own scheme ("lumarin:…", the scheme in any case).
bool isSchemeLink(const std::string& text) {
  constexpr std::string_view kScheme = "lumarin:";
  if (text.size() <= kScheme.size()) {
    return false;
  }
  for (std::size_t i = 0; i < kScheme.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != kScheme[i]) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::string usage() {
  return "usage: lumarin [--scenario FILE] [--headless] [--virtual-time] [--run-for SECONDS]\n"
         "               [--report FILE] [--snapshot DIR] [--story] [--open-url URL | lumarin:…]\n"
         "       lumarin --desktop [--run-for SECONDS] [--report FILE] [--snapshot DIR] [--story]\n"
         "  --desktop           run on this desktop: launcher badges, tray items (default: the\n"
         "                      simulated Mac)\n"
         "  --scenario FILE     run on the simulated Mac this file describes (default: built in)\n"
         "  --headless          run without a display (offscreen windows)\n"
         "  --virtual-time      drive the program in virtual time, as fast as possible\n"
         "  --run-for SECONDS   quit normally after SECONDS of (virtual) time; real seconds on\n"
         "                      the desktop\n"
         "  --report FILE       at the end, write what the simulated desktop saw as JSON\n"
         "  --snapshot DIR      at the end, write the pictures the program drew as PNG files\n"
         "  --story             at the end, tell what happened on the simulated desktop\n"
         "  --open-url URL      hand a link of the lumarin: scheme to the running Lumarin (or\n"
         "                      start it with the link)\n"
         "  --version           print the version and build\n"
         "  --help              show this text\n";
}

Result<Options> parseCommandLine(const std::vector<std::string>& arguments) {
  Options options;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    std::string arg = arguments[i];
    std::optional<std::string> inlineValue;
    if (auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      inlineValue = arg.substr(eq + 1);
      arg.resize(eq);
    }
    auto takeValue = [&](const std::string& name) -> Result<std::string> {
      if (inlineValue) {
        return *inlineValue;
      }
      if (i + 1 >= arguments.size()) {
        return Error{"option " + name + " needs a value", 2};
      }
      return arguments[++i];
    };
    auto noValue = [&](const std::string& name) -> Status {
      if (inlineValue) {
        return Error{"option " + name + " takes no value", 2};
      }
      return success();
    };

    if (arg == "--headless" || arg == "--virtual-time" || arg == "--help" || arg == "-h" ||
        arg == "--version" || arg == "--story" || arg == "--desktop") {
      if (auto ok = noValue(arg); !ok) {
        return ok.error();
      }
      if (arg == "--headless") {
        options.headless = true;
      } else if (arg == "--virtual-time") {
        options.virtualTime = true;
      } else if (arg == "--version") {
        options.version = true;
      } else if (arg == "--story") {
        options.story = true;
      } else if (arg == "--desktop") {
        options.desktop = true;
      } else {
        options.help = true;
      }
    } else if (arg == "--run-for") {
      auto value = takeValue(arg);
      if (!value) {
        return value.error();
      }
      auto secondsValue = parseSeconds(*value);
      if (!secondsValue) {
        return Error{"--run-for needs a number of seconds (0 or more), not \"" + *value + "\"", 2};
      }
      options.runFor = *secondsValue;
    } else if (arg == "--open-url") {
      auto value = takeValue(arg);
      if (!value) {
        return value.error();
      }
      if (value->empty()) {
        return Error{"--open-url needs a URL", 2};
      }
      options.openURL = *value;
    } else if (arg == "--scenario" || arg == "--report" || arg == "--snapshot") {
      auto value = takeValue(arg);
      if (!value) {
        return value.error();
      }
      if (value->empty()) {
        return Error{arg + " needs a file name", 2};
      }
      (arg == "--scenario" ? options.scenario
       : arg == "--report" ? options.report
                           : options.snapshot) = *value;
    } else if (!options.openURL && isSchemeLink(arg)) {
      // The desktop's URL handler passes the link alone.
      options.openURL = arg;
    } else {
      return Error{"unknown option \"" + arguments[i] + "\"", 2};
    }
  }
  if (options.desktop) {
    // These describe the simulated Mac and its clock; the desktop is real and runs in real time.
    for (const auto& [given, name] : {std::pair{options.scenario.has_value(), "--scenario"},
                                      std::pair{options.virtualTime, "--virtual-time"},
                                      std::pair{options.headless, "--headless"}}) {
      if (given) {
        return Error{std::string(name) +
                         " describes the simulated Mac and cannot be used with --desktop, which "
                         "runs on this machine's real desktop",
                     2};
      }
    }
  }
  return options;
}

}  // namespace lumarin
