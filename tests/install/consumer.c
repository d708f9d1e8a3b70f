/* A program that uses an installed libquorlina_ffi, built once through
   pkg-config and once through find_package(quorlina). It creates a snippet
   in the site root given as its argument and reads it back.
   Usage: quorlina_consumer SITE_ROOT */
#include <stdio.h>
#include <string.h>

#include <quorlina/quorlina.h>

int main(int argc, char **argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s SITE_ROOT\n", argv[0]);
        return 2;
    }
    const char *root = argv[1];
    char *out = NULL;
    int rc = quorlina_snippet_create(root, 1700000000, "Sort a list", "x = 1", "sort.py", &out);
    if (rc != QUORLINA_OK) {
        fprintf(stderr, "quorlina_snippet_create returned %d\n", rc);
        return 1;
    }
    quorlina_free(out);

    rc = quorlina_snippet_read(root, 1700000000, &out);
    if (rc != QUORLINA_OK) {
        fprintf(stderr, "quorlina_snippet_read returned %d\n", rc);
        return 1;
    }
    const int same = strstr(out, "\"id\":\"1700000000\",\"date\":\"2023-11-14\",\"description\":\"Sort a list\"") != NULL;
    printf("quorlina %s: %s\n", QUORLINA_VERSION, out);
    quorlina_free(out);
    return same ? 0 : 1;
}
