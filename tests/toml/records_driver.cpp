// Prints the full post records of a site root, as quorlina_post_list_ext
// gives them, for records_differential.py. Exits 1 with the last error
// when the list fails.
#include <cstdio>

#include "quorlina/quorlina.h"

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: records_driver ROOT\n");
        return 2;
    }
    char *out = nullptr;
    const int code = quorlina_post_list_ext(argv[1], nullptr, &out);
    if (code != QUORLINA_OK) {
        std::fprintf(stderr, "%d: %s\n", code, quorlina_last_error());
        return 1;
    }
    std::fputs(out, stdout);
    quorlina_free(out);
    return 0;
}
