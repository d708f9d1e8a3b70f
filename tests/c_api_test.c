/* The public header used from C: compiles as C99 and drives the shared
   library through one create / read / update / list / delete round. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include "quorlina/quorlina.h"

static int failures = 0;

#define CHECK(cond)                                                        \
    do {                                                                   \
        if (!(cond)) {                                                     \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            ++failures;                                                    \
        }                                                                  \
    } while (0)

int main(int argc, char **argv) {
    const char *root = argc > 1 ? argv[1] : "c_api_site";
    char cmd[4096];
    snprintf(cmd, sizeof cmd, "rm -rf '%s'", root);
    if (system(cmd) != 0) return 2;
    mkdir(root, 0755);

    char *out = (char *)&failures; /* must be replaced */
    CHECK(quorlina_snippet_list(root, &out) == QUORLINA_OK);
    CHECK(out != NULL && strcmp(out, "[]") == 0);
    quorlina_free(out);

    /* The options structs and their INIT macros, from C. */
    {
        quorlina_check_options check = QUORLINA_CHECK_OPTIONS_INIT;
        quorlina_record_options records = QUORLINA_RECORD_OPTIONS_INIT;
        check.family = "note";
        records.content = 1;
        out = NULL;
        CHECK(quorlina_check(root, &check, &out) == QUORLINA_OK);
        CHECK(out != NULL && strcmp(out, "[]") == 0);
        quorlina_free(out);
        out = NULL;
        CHECK(quorlina_post_list_ext(root, &records, &out) == QUORLINA_OK);
        CHECK(out != NULL && strcmp(out, "[]") == 0);
        quorlina_free(out);
        out = (char *)&failures;
        CHECK(quorlina_note_read_ext(root, "none", &records, &out) == QUORLINA_ENOT_FOUND);
        CHECK(out == NULL);
        check.version = 0;
        CHECK(quorlina_check(root, &check, &out) == QUORLINA_EINTERNAL);
        CHECK(out == NULL);
    }

    out = NULL;
    CHECK(quorlina_snippet_create(root, 1700000000, "Sort a list", "x = 1", "sort.py", &out) == QUORLINA_OK);
    CHECK(out != NULL);
    if (out) {
        char expected[4096];
        snprintf(expected, sizeof expected, "%s/content/snippets/1700000000.py", root);
        CHECK(strcmp(out, expected) == 0);
    }
    quorlina_free(out);

    out = (char *)&failures;
    CHECK(quorlina_snippet_create(root, 1700000000, "Again", "y", "a.py", &out) == QUORLINA_EDUPLICATE);
    CHECK(out == NULL);

    CHECK(quorlina_snippet_read(root, 1700000000, &out) == QUORLINA_OK);
    CHECK(out != NULL &&
          strcmp(out, "{\"id\":\"1700000000\",\"date\":\"2023-11-14\",\"description\":\"Sort a list\","
                      "\"filename\":\"sort.py\",\"code\":\"\\nx = 1\"}") == 0);
    quorlina_free(out);

    CHECK(quorlina_snippet_update(root, 1700000000, "Sorted", NULL, NULL) == QUORLINA_OK);
    CHECK(quorlina_snippet_delete(root, 1700000000) == QUORLINA_OK);
    CHECK(quorlina_snippet_delete(root, 1700000000) == QUORLINA_ENOT_FOUND);

    out = (char *)&failures;
    CHECK(quorlina_snippet_read(root, 1700000000, &out) == QUORLINA_ENOT_FOUND);
    CHECK(out == NULL);

    /* The options structs of the extended functions, from their INIT
     * macros, in plain C. */
    {
        quorlina_post_create_options co = QUORLINA_POST_CREATE_OPTIONS_INIT;
        quorlina_post_update_options uo = QUORLINA_POST_UPDATE_OPTIONS_INIT;
        quorlina_tag_options to = QUORLINA_TAG_OPTIONS_INIT;
        quorlina_note_update_options no = QUORLINA_NOTE_UPDATE_OPTIONS_INIT;
        size_t changed = 99;
        co.body = "Hello.\n";
        co.draft = 1;
        out = NULL;
        CHECK(quorlina_post_create_ext(root, "hello", "Hello", "First", "intro", "2024-05-01", &co, &out) == QUORLINA_OK);
        quorlina_free(out);
        out = NULL;
        CHECK(quorlina_post_read(root, "hello", &out) == QUORLINA_OK);
        CHECK(out != NULL &&
              strcmp(out, "{\"date\":\"2024-05-01\",\"slug\":\"hello\",\"title\":\"Hello\",\"description\":\"First\","
                          "\"tags\":[\"intro\"],\"content\":\"Hello.\\n\"}") == 0);
        quorlina_free(out);
        uo.draft = 0;
        CHECK(quorlina_post_update_ext(root, "hello", &uo) == QUORLINA_OK);
        CHECK(quorlina_post_update_ext(root, "hello", NULL) == QUORLINA_ENO_UPDATES);
        CHECK(quorlina_post_rename_tag(root, "intro", "welcome", &to, &changed) == QUORLINA_OK);
        CHECK(changed == 1);
        out = NULL;
        CHECK(quorlina_note_create(root, 1700000000, NULL, "x", &out) == QUORLINA_OK);
        quorlina_free(out);
        no.text = "+++\nslug = \"n\"\n+++\n\nBody";
        CHECK(quorlina_note_update_ext(root, "1700000000", &no) == QUORLINA_OK);
        no.content = "y";
        CHECK(quorlina_note_update_ext(root, "n", &no) == QUORLINA_EINTERNAL);
    }

    quorlina_free(NULL);

    if (failures == 0) printf("c_api: all checks passed\n");
    return failures == 0 ? 0 : 1;
}
