// Writes a benchmark site: quorlina_gen_site ROOT N [SEED]
// ROOT must not exist yet or be empty. The same N and SEED give the same
// bytes on every machine.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <string>

#include "site_generator.hpp"

int main(int argc, char **argv) {
    if (argc < 3 || argc > 4) {
        std::fprintf(stderr, "usage: %s ROOT N [SEED]\n", argv[0]);
        return 2;
    }
    try {
        std::string root = argv[1];
        int n = std::atoi(argv[2]);
        std::uint64_t seed = argc == 4 ? std::strtoull(argv[3], nullptr, 10) : 42;
        std::error_code ec;
        if (std::filesystem::exists(root) && !std::filesystem::is_empty(root, ec)) {
            std::fprintf(stderr, "%s exists and is not empty\n", root.c_str());
            return 2;
        }
        qbench::SitePlan p = qbench::writeSite(root, n, seed);
        std::printf("wrote %d snippets, %d posts and %d notes below %s\n", n, n, n, root.c_str());
        std::printf("read keys: snippet %lld, post %s, note %s\n", static_cast<long long>(p.readSnippet),
                    p.readPostSlug.c_str(), p.readNoteId.c_str());
        return 0;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "error: %s\n", e.what());
        return 1;
    }
}
