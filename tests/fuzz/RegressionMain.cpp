// Replays fuzz inputs without libFuzzer: every file of each folder given (in
// name order), or each file given, goes once through LLVMFuzzerTestOneInput.
// An invariant that fails traps; a run that replays nothing fails too, so an
// empty or missing corpus cannot pass.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> InputsOf(const fs::path& path) {
  std::vector<fs::path> inputs;
  if (fs::is_directory(path)) {
    for (const auto& entry : fs::directory_iterator(path))
      if (entry.is_regular_file()) inputs.push_back(entry.path());
    std::sort(inputs.begin(), inputs.end());
  } else if (fs::is_regular_file(path)) {
    inputs.push_back(path);
  }
  return inputs;
}

void Replay(const fs::path& input) {
  std::ifstream file(input, std::ios::binary);
  const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(file),
                                        std::istreambuf_iterator<char>()};
  LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t replayed = 0;
  for (int i = 1; i < argc; ++i) {
    const auto inputs = InputsOf(argv[i]);
    if (inputs.empty()) std::fprintf(stderr, "no inputs in %s\n", argv[i]);
    for (const auto& input : inputs) {
      Replay(input);
      ++replayed;
    }
  }
  std::printf("%zu fuzz inputs replayed\n", replayed);
  return replayed > 0 ? 0 : 1;
}
