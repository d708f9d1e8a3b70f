/* A minimal host program: creates a snippet in a site and lists the site's
   snippets through the C interface. Usage: quorlina_example SITE_ROOT */
#include <stdio.h>
#include <time.h>

#include "quorlina/quorlina.h"

int main(int argc, char **argv) {
    const char *root = argc > 1 ? argv[1] : ".";
    char *path = NULL;
    int rc = quorlina_snippet_create(root, (int64_t)time(NULL), "Print a greeting",
                                     "print(\"hello\")\n", "hello.py", &path);
    if (rc == 0) {
        printf("created %s\n", path);
        quorlina_free(path);
    } else if (rc != QUORLINA_EDUPLICATE) {
        fprintf(stderr, "snippet create failed: %d\n", rc);
        return rc;
    }
    char *json = NULL;
    rc = quorlina_snippet_list(root, &json);
    if (rc != 0) {
        fprintf(stderr, "snippet list failed: %d\n", rc);
        return rc;
    }
    printf("%s\n", json);
    quorlina_free(json);
    return 0;
}
