// Runs a fuzz target over files without libFuzzer: every argument is a file
// or a directory whose files (sorted by name, not recursive) are fed to
// LLVMFuzzerTestOneInput one by one. A failing check aborts, naming the
// input that was running.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);

namespace {

std::vector<std::string> inputsOf(const std::string &path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return {};
    if (!S_ISDIR(st.st_mode)) return {path};
    std::vector<std::string> files;
    if (DIR *d = ::opendir(path.c_str())) {
        while (dirent *e = ::readdir(d)) {
            std::string name = e->d_name;
            if (name == "." || name == "..") continue;
            std::string full = path + "/" + name;
            if (::stat(full.c_str(), &st) == 0 && S_ISREG(st.st_mode)) files.push_back(full);
        }
        ::closedir(d);
    }
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace

int main(int argc, char **argv) {
    std::size_t count = 0;
    for (int i = 1; i < argc; ++i) {
        std::vector<std::string> files = inputsOf(argv[i]);
        if (files.empty()) {
            std::fprintf(stderr, "replay: no inputs in %s\n", argv[i]);
            return 1;
        }
        for (const std::string &f : files) {
            std::ifstream in(f, std::ios::binary);
            std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            std::fprintf(stderr, "replay: %s\n", f.c_str());
            // A copy of exactly the input's size, so that reading past its
            // end is caught by the sanitizers as it is under libFuzzer.
            std::vector<std::uint8_t> buf(bytes.begin(), bytes.end());
            LLVMFuzzerTestOneInput(buf.empty() ? nullptr : buf.data(), buf.size());
            ++count;
        }
    }
    std::printf("replayed %zu inputs\n", count);
    return 0;
}
