#include "platform/host/CrashCatcher.h"

#include <cxxabi.h>
#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "base/Json.h"
#include "platform/Scheduler.h"

namespace lumarin {

namespace {

// Everything the handler touches is prepared at installation: it may not allocate, lock or
// call anything that is not async-signal-safe.
constexpr std::array<int, 7> kFatalSignals{SIGSEGV, SIGBUS,  SIGILL, SIGFPE,
                                           SIGABRT, SIGTRAP, SIGSYS};
constexpr int kMaxFrames = 128;
constexpr std::size_t kAltStackSize = std::size_t{64} * 1024;
// Bounds on what the next launch reads back. A record the handler wrote is a few hundred
// bytes per frame and at most kMaxFrames frames; anything beyond was not written by it.
constexpr std::size_t kMaxRecordBytes = std::size_t{1024} * 1024;
constexpr std::size_t kMaxLineBytes = std::size_t{8} * 1024;
constexpr std::size_t kMaxDemangledSymbol = 1024;

struct HandlerState {
  std::array<char, 4096> path{};
  std::array<char, 512> header{};
  std::size_t headerLength = 0;
  std::array<struct sigaction, NSIG> previous{};
  volatile sig_atomic_t handling = 0;
};

HandlerState* state() {
  static HandlerState s;
  return &s;
}

void writeAll(int fd, const char* text, std::size_t length) {
  while (length > 0) {
    const ssize_t n = ::write(fd, text, length);
    if (n <= 0) {
      return;
    }
    text += n;
    length -= static_cast<std::size_t>(n);
  }
}

void writeText(int fd, const char* text) { writeAll(fd, text, std::strlen(text)); }

void writeNumber(int fd, long long value) {
  char buffer[32];
  char* end = buffer + sizeof buffer;
  char* p = end;
  const bool negative = value < 0;
  unsigned long long magnitude = negative ? 0ULL - static_cast<unsigned long long>(value)
                                          : static_cast<unsigned long long>(value);
  do {
    *--p = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (negative) {
    *--p = '-';
  }
  writeAll(fd, p, static_cast<std::size_t>(end - p));
}

void onFatalSignal(int signal, siginfo_t* info, void* /*context*/) {
  HandlerState* s = state();
  // A second fault (in here, or another thread crashing at the same time) only ends the
  // process; the first one's record is the one that counts.
  if (s->handling == 0) {
    s->handling = 1;
    const int fd = ::open(s->path.data(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd >= 0) {
      writeText(fd, "lumarin-crash 1\nsignal ");
      writeNumber(fd, signal);
      writeText(fd, "\ncode ");
      writeNumber(fd, info != nullptr ? info->si_code : 0);
      if (info != nullptr && info->si_code <= 0) {
        writeText(fd, "\nsender ");
        writeNumber(fd, info->si_pid);
      }
      writeText(fd, "\n");
      writeAll(fd, s->header.data(), s->headerLength);
      writeText(fd, "frames\n");
      std::array<void*, kMaxFrames> frames{};
      const int count = ::backtrace(frames.data(), kMaxFrames);
      // The first frame is this handler.
      if (count > 1) {
        ::backtrace_symbols_fd(frames.data() + 1, count - 1, fd);
      }
      ::fsync(fd);
      ::close(fd);
    }
  }
  // Then the signal takes the course it would have taken without us.
  ::sigaction(signal, &s->previous[static_cast<std::size_t>(signal)], nullptr);
  ::raise(signal);
}

// Mach exception types the system would report for these signals.
std::optional<std::int64_t> exceptionTypeFor(int signal) {
  switch (signal) {
    case SIGSEGV:
    case SIGBUS:
      return 1;  // EXC_BAD_ACCESS
    case SIGILL:
      return 2;  // EXC_BAD_INSTRUCTION
    case SIGFPE:
      return 3;  // EXC_ARITHMETIC
    case SIGTRAP:
      return 6;  // EXC_BREAKPOINT
    case SIGABRT:
    case SIGSYS:
      return 10;  // EXC_CRASH
    default:
      return std::nullopt;
  }
}

std::string demangle(const std::string& symbol) {
  // The demangler recurses on what it reads: a name longer than any real one stays as written.
  if (symbol.size() > kMaxDemangledSymbol) {
    return symbol;
  }
  int status = 0;
  std::unique_ptr<char, decltype(&std::free)> out(
      abi::__cxa_demangle(symbol.c_str(), nullptr, nullptr, &status), &std::free);
  return status == 0 && out ? std::string(out.get()) : symbol;
}

std::optional<std::uint64_t> hexNumber(std::string_view text) {
  if (text.substr(0, 2) != "0x" || text.size() <= 2 || text.size() > 18) {
    return std::nullopt;
  }
  std::uint64_t value = 0;
  for (char c : text.substr(2)) {
    int digit = -1;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return std::nullopt;
    }
    value = value * 16 + static_cast<std::uint64_t>(digit);
  }
  return value;
}

// One line of the symbol writer: "/usr/bin/lumarin(_ZN3fooEv+0x1a) [0x55d…]",
// "/lib/x86_64-linux-gnu/libc.so.6(+0x3bfd0) [0x7f…]" or "[0x7f…]". Only the binary's file
// name is kept: full paths would tell the user's home directory.
json::Json frameFrom(const std::string& line) {
  json::Json frame = json::Json::object();
  const auto open = line.find('(');
  const auto close = line.find(')', open == std::string::npos ? 0 : open);
  const auto bracket = line.rfind('[');
  std::string binary = line.substr(0, std::min(open, bracket));
  while (!binary.empty() && binary.back() == ' ') {
    binary.pop_back();
  }
  frame["binaryName"] = std::filesystem::path(binary).filename().string();
  if (bracket != std::string::npos) {
    const auto end = line.find(']', bracket);
    if (auto address = hexNumber(line.substr(bracket + 1, end - bracket - 1))) {
      frame["address"] = *address;
    }
  }
  if (open != std::string::npos && close != std::string::npos && close > open) {
    const std::string inner = line.substr(open + 1, close - open - 1);
    const auto plus = inner.rfind('+');
    const std::string symbol = inner.substr(0, plus);
    const std::string offset = plus == std::string::npos ? "" : inner.substr(plus + 1);
    if (symbol.empty()) {
      if (auto value = hexNumber(offset)) {
        frame["offsetIntoBinaryTextSegment"] = *value;
      }
    } else {
      frame["symbol"] = demangle(symbol) + (offset.empty() ? "" : " + " + offset);
    }
  }
  frame["sampleCount"] = 1;
  return frame;
}

}  // namespace

CrashCatcher::CrashCatcher(std::filesystem::path directory, std::string osVersion,
                           std::string architecture)
    : directory_(std::move(directory)),
      osVersion_(std::move(osVersion)),
      architecture_(std::move(architecture)) {}

void CrashCatcher::install() {
  std::error_code error;
  std::filesystem::create_directories(directory_, error);
  HandlerState* s = state();
  const std::string path =
      (directory_ / ("crash-" + std::to_string(::getpid()) + ".record")).string();
  const std::string header = "os " + osVersion_ + "\narch " + architecture_ + "\n";
  if (path.size() >= s->path.size() || header.size() >= s->header.size()) {
    return;
  }
  std::memcpy(s->path.data(), path.c_str(), path.size() + 1);
  std::memcpy(s->header.data(), header.c_str(), header.size() + 1);
  s->headerLength = header.size();
  // The first call of backtrace loads the unwinder; it must not happen inside the handler.
  std::array<void*, 2> warm{};
  (void)::backtrace(warm.data(), static_cast<int>(warm.size()));
  // Room to run on when the main thread's stack is what overflowed.
  static std::array<char, kAltStackSize> alternate{};
  stack_t stack{};
  stack.ss_sp = alternate.data();
  stack.ss_size = alternate.size();
  ::sigaltstack(&stack, nullptr);
  static bool installed = false;
  if (installed) {
    return;
  }
  installed = true;
  for (int signal : kFatalSignals) {
    struct sigaction action {};
    action.sa_sigaction = &onFatalSignal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    ::sigaction(signal, &action, &s->previous[static_cast<std::size_t>(signal)]);
  }
}

std::optional<CrashDiagnostic> CrashCatcher::parseRecord(std::string_view text) {
  if (text.size() > kMaxRecordBytes) {
    return std::nullopt;
  }
  // Lines as views into the text: nothing is copied but the values that are kept.
  std::size_t position = 0;
  auto nextLine = [&text, &position](std::string_view& line) {
    if (position >= text.size()) {
      return false;
    }
    const auto end = std::min(text.find('\n', position), text.size());
    line = text.substr(position, end - position);
    position = end + 1;
    return true;
  };
  std::string_view line;
  if (!nextLine(line) || line != "lumarin-crash 1") {
    return std::nullopt;
  }
  CrashDiagnostic crash;
  std::optional<long long> code;
  std::optional<long long> sender;
  std::vector<json::Json> frames;
  bool inFrames = false;
  while (nextLine(line)) {
    if (line.size() > kMaxLineBytes) {
      return std::nullopt;
    }
    if (inFrames) {
      // The handler writes at most kMaxFrames; more means the record was not its own.
      if (frames.size() == static_cast<std::size_t>(kMaxFrames)) {
        return std::nullopt;
      }
      if (!line.empty()) {
        frames.push_back(frameFrom(std::string(line)));
      }
      continue;
    }
    const auto space = line.find(' ');
    const std::string_view key = line.substr(0, space);
    const std::string value(space == std::string_view::npos ? "" : line.substr(space + 1));
    char* end = nullptr;
    const long long number = std::strtoll(value.c_str(), &end, 10);
    const bool isNumber = !value.empty() && end != nullptr && *end == '\0';
    if (key == "signal" && isNumber) {
      crash.signal = number;
    } else if (key == "code" && isNumber) {
      code = number;
    } else if (key == "sender" && isNumber) {
      sender = number;
    } else if (key == "os") {
      crash.osVersion = value;
    } else if (key == "arch") {
      crash.platformArchitecture = value;
    } else if (key == "frames") {
      inFrames = true;
    }
  }
  if (!crash.signal) {
    return std::nullopt;
  }
  const int signal = static_cast<int>(*crash.signal);
  if (code && *code > 0) {
    // Raised by the processor: the exception and its code (for a bad access, 1 is an
    // address that maps nothing and 2 one without the needed protection, as on the Mac).
    crash.exceptionType = exceptionTypeFor(signal);
    crash.exceptionCode = *code;
  } else {
    const char* name = ::strsignal(signal);
    crash.terminationReason =
        "Namespace SIGNAL, Code " + std::to_string(signal) +
        (name != nullptr ? std::string(" ") + name : std::string()) +
        (sender && *sender > 0 ? ", sent by process " + std::to_string(*sender) : std::string());
    if (signal == SIGABRT) {
      crash.exceptionType = exceptionTypeFor(signal);
    }
  }
  // The shape of the system's call-stack tree: each frame's caller is its sub-frame.
  // Built from the outermost caller inwards, each level moved into the next: no copies.
  json::Json root = json::Json::array();
  for (auto it = frames.rbegin(); it != frames.rend(); ++it) {
    json::Json frame = std::move(*it);
    if (!root.empty()) {
      frame["subFrames"] = std::move(root);
    }
    root = json::Json::array();
    root.push_back(std::move(frame));
  }
  json::Json tree = {
      {"callStackPerThread", true},
      {"callStacks",
       json::Json::array({json::Json{{"threadAttributed", true}, {"callStackRootFrames", root}}})}};
  crash.callStackTree = json::dump(tree);
  return crash;
}

Result<std::string> CrashCatcher::readRecord(const std::filesystem::path& path) {
  // Not through a link, not a device or a pipe, and never more than a record can hold.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    return Error{errno == ELOOP ? "is a symbolic link" : "cannot be opened"};
  }
  std::string text;
  struct stat info {};
  std::optional<std::string> problem;
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    problem = "is not a regular file";
  } else if (info.st_uid != ::geteuid()) {
    problem = "belongs to another user";
  } else if (static_cast<std::uintmax_t>(info.st_size) > kMaxRecordBytes) {
    problem = "is larger than " + std::to_string(kMaxRecordBytes / 1024) + " KB";
  } else {
    text.resize(static_cast<std::size_t>(info.st_size));
    std::size_t done = 0;
    while (done < text.size()) {
      const ssize_t n = ::read(fd, text.data() + done, text.size() - done);
      if (n <= 0) {
        break;
      }
      done += static_cast<std::size_t>(n);
    }
    text.resize(done);
  }
  ::close(fd);
  if (problem) {
    return Error{*problem};
  }
  return text;
}

void CrashCatcher::note(const std::string& line) const {
  if (log_) {
    log_(line);
  }
}

void CrashCatcher::addSubscriber(Subscriber subscriber) {
  std::vector<std::filesystem::path> files;
  std::vector<DiagnosticPayload> payloads;
  std::error_code error;
  for (std::filesystem::directory_iterator it(directory_, error), end; !error && it != end;
       it.increment(error)) {
    const auto& path = it->path();
    if (path.extension() != ".record") {
      continue;
    }
    auto text = readRecord(path);
    std::optional<CrashDiagnostic> crash;
    if (text) {
      crash = parseRecord(*text);
    }
    if (!crash) {
      // Kept for the user under another name, so no later launch reads it again.
      std::filesystem::path aside = path;
      aside.replace_extension(".unreadable");
      std::error_code renameError;
      std::filesystem::rename(path, aside, renameError);
      note("crash reports: the crash record " + path.filename().string() + " " +
           (text ? std::string("is not a crash record") : text.error().message) + "; " +
           (renameError ? std::string("it was removed")
                        : "it was kept as " + aside.filename().string()));
      if (renameError) {
        std::filesystem::remove(path, renameError);
      }
      continue;
    }
    files.push_back(path);
    payloads.push_back(DiagnosticPayload{{std::move(*crash)}});
  }
  if (files.empty()) {
    return;
  }
  auto deliver = [subscriber = std::move(subscriber), payloads = std::move(payloads),
                  files = std::move(files)] {
    if (!payloads.empty()) {
      subscriber(payloads);
    }
    for (const auto& file : files) {
      std::error_code ignored;
      std::filesystem::remove(file, ignored);
    }
  };
  if (queue_ != nullptr) {
    queue_->post(std::move(deliver));
  } else {
    deliver();
  }
}

}  // namespace lumarin
