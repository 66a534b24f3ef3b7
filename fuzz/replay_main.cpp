// Replays the saved inputs of one fuzz target without a fuzzing engine:
// every file in the folders (or the files) named on the command line is fed
// to LLVMFuzzerTestOneInput once. With --expect=N it fails when it replayed
// fewer than N inputs (a corpus folder missing or moved), and always when
// it replayed none.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);

static int replay(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    return 1;
}

int main(int argc, char** argv) {
    LLVMFuzzerInitialize(&argc, &argv);
    int count = 0;
    long expected = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--expect=", 9) == 0) {
            expected = std::max(1L, std::strtol(argv[i] + 9, nullptr, 10));
            continue;
        }
        std::filesystem::path p(argv[i]);
        std::error_code ec;
        if (std::filesystem::is_directory(p, ec)) {
            for (auto& e : std::filesystem::recursive_directory_iterator(p, ec))
                if (e.is_regular_file()) count += replay(e.path());
        } else if (std::filesystem::is_regular_file(p, ec)) {
            count += replay(p);
        }
    }
    std::printf("replayed %d inputs\n", count);
    if (count < expected) {
        std::fprintf(stderr, "replayed %d inputs, expected at least %ld\n", count, expected);
        return 1;
    }
    return 0;
}
