// Replays the saved inputs of one fuzz target without a fuzzing engine:
// every file in the folders (or the files) named on the command line is fed
// to LLVMFuzzerTestOneInput once.
#include <cstdint>
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
    for (int i = 1; i < argc; ++i) {
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
    return 0;
}
