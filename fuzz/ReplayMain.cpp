// Replays fuzz inputs without libFuzzer: every file named on the command line (or found in a
// directory named there) and every prefix of it, which covers files cut off at any byte.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

void replay(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream buffer;
  buffer << in.rdbuf();
  const std::string bytes = buffer.str();
  for (std::size_t cut = 0; cut <= bytes.size(); ++cut) {
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), cut);
  }
}

}  // namespace

int main(int argc, char** argv) {
  int files = 0;
  for (int i = 1; i < argc; ++i) {
    const std::filesystem::path path = argv[i];
    if (std::filesystem::is_directory(path)) {
      for (const auto& entry : std::filesystem::directory_iterator(path)) {
        replay(entry.path());
        ++files;
      }
    } else {
      replay(path);
      ++files;
    }
  }
  std::printf("replayed %d file(s) and all their prefixes\n", files);
  return files > 0 ? 0 : 1;
}
