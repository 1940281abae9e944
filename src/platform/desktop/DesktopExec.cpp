#include "platform/desktop/DesktopExec.h"

namespace lumarin {
namespace {

struct Word {
  std::string text;
  bool quoted = false;
};

std::optional<std::vector<Word>> splitExec(std::string_view exec) {
  std::vector<Word> words;
  Word current;
  bool inWord = false;
  for (std::size_t i = 0; i < exec.size(); ++i) {
    const char c = exec[i];
    if (c == '"') {
      inWord = true;
      current.quoted = true;
      bool closed = false;
      for (++i; i < exec.size(); ++i) {
        const char q = exec[i];
        if (q == '\\' && i + 1 < exec.size() &&
            (exec[i + 1] == '"' || exec[i + 1] == '`' || exec[i + 1] == '$' ||
             exec[i + 1] == '\\')) {
          current.text += exec[++i];
        } else if (q == '"') {
          closed = true;
          break;
        } else {
          current.text += q;
        }
      }
      if (!closed) {
        return std::nullopt;
      }
    } else if (c == ' ' || c == '\t' || c == '\n') {
      if (inWord) {
        words.push_back(std::move(current));
      }
      current = {};
      inWord = false;
    } else {
      inWord = true;
      current.text += c;
    }
  }
  if (inWord) {
    words.push_back(std::move(current));
  }
  return words;
}

}  // namespace

std::optional<std::vector<std::string>> expandDesktopExec(std::string_view exec,
                                                          const DesktopExecContext& context) {
  auto words = splitExec(exec);
  if (!words || words->empty()) {
    return std::nullopt;
  }
  std::vector<std::string> args;
  for (const auto& word : *words) {
    // Codes never expand inside quotes: a quoted "%" is the program's own text.
    if (word.quoted) {
      args.push_back(word.text);
      continue;
    }
    if (word.text == "%i") {
      if (!context.icon.empty()) {
        args.emplace_back("--icon");
        args.push_back(context.icon);
      }
      continue;
    }
    std::string out;
    bool onlyCodes = true;  // an argument that was nothing but removed codes disappears
    for (std::size_t i = 0; i < word.text.size(); ++i) {
      const char c = word.text[i];
      if (c != '%' || i + 1 >= word.text.size()) {
        out += c;
        onlyCodes = false;
        continue;
      }
      switch (word.text[++i]) {
        case '%':
          out += '%';
          onlyCodes = false;
          break;
        case 'c':
          out += context.name;
          onlyCodes = false;
          break;
        case 'k':
          out += context.entryPath;
          onlyCodes = false;
          break;
        case 'i':
          out += context.icon;
          onlyCodes = false;
          break;
        // %f %F %u %U with no files, the deprecated %d %D %n %N %v %m, and unknown codes: removed.
        default:
          break;
      }
    }
    if (!onlyCodes) {
      args.push_back(std::move(out));
    }
  }
  if (args.empty() || args.front().empty()) {
    return std::nullopt;
  }
  return args;
}

}  // namespace lumarin
