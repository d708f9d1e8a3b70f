/*
 * quorlina.h - the public C interface of libquorlina_ffi.
 *
 * libquorlina_ffi manages the content of a static web site kept as Markdown
 * files with TOML front matter below a site root directory:
 *
 *   <root>/content/snippets/<timestamp>.<ext>      code snippets
 *   <root>/content/blog/YYYY/MM/DD/<slug>.md       blog posts
 *   <root>/content/notes/<timestamp>.md            short notes
 *
 * Conventions shared by every function:
 *   - Every function except quorlina_free returns 0 on success or one of the
 *     QUORLINA_E* result codes below. New codes may be added in later
 *     versions; treat unknown non-zero values as failures.
 *   - `root` is the site root; it may be relative to the current directory
 *     and may be empty (then it is the current directory).
 *   - String arguments are NUL-terminated byte strings, taken as they are.
 *     Only values written into front matter are checked: they must be
 *     valid UTF-8, as TOML requires. Bodies and code may hold any bytes.
 *   - Where a function has a `char **out` parameter, *out is set to NULL
 *     before anything else and receives a newly allocated string only on
 *     success. The caller owns that string and releases it with
 *     quorlina_free(). On failure *out stays NULL.
 *   - Pointers documented as "may be NULL" are optional; passing NULL for any
 *     other pointer returns QUORLINA_EINTERNAL (100) and touches nothing.
 *   - The library keeps no state between calls, except each thread's last
 *     error text (quorlina_last_error), and may be called from any
 *     thread. It never follows a symbolic link below a family directory,
 *     every write is atomic and flushed to disk (a failed call leaves the
 *     files as they were), and creates, updates and deletes of one family
 *     hold an advisory lock on its directory, so concurrent writers in any
 *     process never lose each other's changes.
 *   - Nothing is written that could not be read back: front-matter values
 *     refuse bytes that are not UTF-8, "+++" and control bytes other than
 *     tab, and a file over 10 MiB returns QUORLINA_EINTERNAL (100).
 *
 * Front matter, in every family, is a TOML block between a "+++" at the
 * very start of the file (no byte-order mark or blank line before it) and
 * the first later "+++" that is not inside a closed TOML string. It is read
 * as TOML 1.0 reads it: strings of all four kinds with their escapes, a
 * comment after a value, quoted keys, arrays over lines; keys after a table
 * header or dotted belong to that table. A line that is not valid TOML is
 * read by the formats' line rules (a bare value `title = Hello` is "Hello").
 * An update rewrites only the values it changes, each in its own span: the
 * key as written, the spacing, comments, other keys, tables and the text
 * after the block stay byte for byte, and an update that changes nothing
 * writes nothing.
 *   - Snippets: `description` (required, non-empty) and `filename`; the
 *     code follows the block after one line break.
 *   - Posts: `title` and `description` (both required; may be empty),
 *     `slug`, and `tags`, an array (a non-string item reads as its TOML
 *     text). Tags are updated item by item, new ones after the last in the
 *     array's own layout. The body follows the block.
 *   - Notes: an optional `slug`; a note may be its body alone. A note
 *     update without a new body keeps the bytes after the block exactly.
 */
#ifndef QUORLINA_QUORLINA_H
#define QUORLINA_QUORLINA_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#  if defined(QUORLINA_BUILDING)
#    define QUORLINA_API __declspec(dllexport)
#  else
#    define QUORLINA_API __declspec(dllimport)
#  endif
#elif defined(__GNUC__)
#  define QUORLINA_API __attribute__((visibility("default")))
#else
#  define QUORLINA_API
#endif

#define QUORLINA_VERSION_MAJOR 0
#define QUORLINA_VERSION_MINOR 3
#define QUORLINA_VERSION_PATCH 0
#define QUORLINA_VERSION "0.3.0"

/* Result codes. Values are stable; new codes may be added. Every function
 * returns them as a plain int. */
enum quorlina_result {
    QUORLINA_OK = 0,                  /* success */
    QUORLINA_EINVALID_TIMESTAMP = 1,  /* negative timestamp, or a file name that is not a timestamp */
    QUORLINA_EDUPLICATE = 2,          /* an item with that key already exists */
    QUORLINA_ENOT_FOUND = 3,          /* no item with that key */
    QUORLINA_EINVALID_EXTENSION = 4,  /* snippet file name without a usable extension */
    QUORLINA_EINVALID_DESCRIPTION = 5,/* snippet description empty or with a forbidden byte */
    QUORLINA_EINVALID_FILENAME = 6,   /* snippet file name empty or with a forbidden byte */
    QUORLINA_EINVALID_CONTENT = 7,    /* missing title/description, a forbidden byte in a post field, or malformed front matter */
    QUORLINA_EFILESYSTEM = 8,         /* file or directory missing, refused, or of the wrong kind */
    QUORLINA_ENOMEM = 9,              /* out of memory */
    QUORLINA_EINVALID_SLUG = 10,      /* slug empty, with a byte outside [A-Za-z0-9_-], or a post slug "index"/"_index" */
    QUORLINA_EINVALID_DATE = 11,      /* date not a valid YYYY-MM-DD */
    /* 12 and 13 are reserved: no function returns them. */
    QUORLINA_ENO_UPDATES = 14,        /* an update given no value to change */
    QUORLINA_EINTERNAL = 100          /* any other failure (path too long, file too big, I/O error, NULL argument, ...) */
};

/**
 * Release a string returned by this library. NULL is ignored.
 * @param s a string from one of the functions below, or NULL
 */
QUORLINA_API void quorlina_free(char *s);

/**
 * The English text of a result code, for messages.
 * @param code a result code; unknown codes give "unknown error"
 * @return a static text, never NULL; do not free it
 */
QUORLINA_API const char *quorlina_strerror(int code);

/**
 * What the last failure of a library call on this thread was. When a file
 * caused it, the text names the file as the caller would write its path
 * (the root joined with the rest) and then the reason, for example
 * "site/content/blog/2024/11/01/raw.md: no front matter"; otherwise it is
 * the text of the result code. After a successful call it is "".
 * @return a text owned by the library, never NULL, valid until the next
 *         library call on the same thread; do not free it
 */
QUORLINA_API const char *quorlina_last_error(void);

/**
 * The library's version, "MAJOR.MINOR.PATCH", which may differ from the
 * QUORLINA_VERSION the caller was compiled with.
 * @return a static text, never NULL; do not free it
 */
QUORLINA_API const char *quorlina_version(void);

/* ------------------------------------------------------------------ snippets */

/**
 * Create a snippet file <root>/content/snippets/<timestamp>.<ext>, where ext
 * is the text after the last '.' of `filename` (case kept).
 * @param root        site root
 * @param timestamp   Unix seconds, must not be negative
 * @param description non-empty UTF-8, without '"', "+++" or a control byte other than tab
 * @param code        the snippet's code, written byte for byte
 * @param filename    the user's file name, for example "sort.py"; UTF-8, without '"',
 *                    '/', '\\', "+++" or a control byte other than tab
 * @param[out] out    on success the full path of the new file; free with quorlina_free()
 * @return 0 or a result code (2 when any entry with that timestamp exists)
 */
QUORLINA_API int quorlina_snippet_create(const char *root, int64_t timestamp,
                                         const char *description, const char *code,
                                         const char *filename, char **out);

/**
 * List all snippets as a JSON array, newest date first:
 * [{"id":..,"date":..,"description":..,"filename":..,"code":..},...]
 * @param root     site root
 * @param[out] out the JSON text; free with quorlina_free()
 * @return 0 or a result code
 */
QUORLINA_API int quorlina_snippet_list(const char *root, char **out);

/**
 * Read the snippet with this timestamp as one JSON object.
 * @param root      site root
 * @param timestamp the snippet's Unix seconds
 * @param[out] out  the JSON text; free with quorlina_free()
 * @return 0, 3 when there is no such snippet, or another result code
 */
QUORLINA_API int quorlina_snippet_read(const char *root, int64_t timestamp, char **out);

/**
 * Rewrite a snippet. Each of description, code and filename may be NULL to
 * keep the stored value. A new file name with another extension renames the
 * file; an existing file of the new name is never replaced. Only the values
 * that change are rewritten, each in its span of the front matter.
 * @param root        site root
 * @param timestamp   the snippet's Unix seconds
 * @param description a new description, or NULL to keep it
 * @param code        new code, or NULL to keep it
 * @param filename    a new file name, or NULL to keep it
 * @return 0, 2 when the new name is taken, 3 when there is no such snippet,
 *         or another result code
 */
QUORLINA_API int quorlina_snippet_update(const char *root, int64_t timestamp,
                                         const char *description, const char *code,
                                         const char *filename);

/**
 * Delete the snippet file with this timestamp.
 * @param root      site root
 * @param timestamp the snippet's Unix seconds
 * @return 0, 3 when there is no such snippet, or another result code
 */
QUORLINA_API int quorlina_snippet_delete(const char *root, int64_t timestamp);

/* --------------------------------------------------------------------- posts */

/**
 * Create a post <root>/content/blog/YYYY/MM/DD/<slug>.md with an empty body.
 * @param root        site root
 * @param slug        [A-Za-z0-9_-]+, but not "index" or "_index"
 * @param title       non-empty UTF-8, without "+++" or a control byte other than tab
 * @param description non-empty UTF-8, without "+++" or a control byte other than tab
 * @param tags        comma-separated tags; may be NULL for none
 * @param date        "YYYY-MM-DD"; may be NULL for today (UTC)
 * @param[out] out_path on success the full path of the new file; free with quorlina_free()
 * @return 0 or a result code (2 when that date already has that slug)
 */
QUORLINA_API int quorlina_post_create(const char *root, const char *slug, const char *title,
                                      const char *description, const char *tags,
                                      const char *date, char **out_path);

/**
 * List all posts as a JSON array, newest first:
 * [{"date":..,"slug":..,"title":..,"tags":[..]},...]
 * @param root     site root
 * @param[out] out the JSON text; free with quorlina_free()
 * @return 0 or a result code
 */
QUORLINA_API int quorlina_post_list(const char *root, char **out);

/**
 * Read the post with this slug:
 * {"date":..,"slug":..,"title":..,"description":..,"tags":[..],"content":..}
 * @param root     site root
 * @param slug     the post's slug
 * @param[out] out the JSON text; free with quorlina_free()
 * @return 0, 3 when there is no such post, or another result code
 */
QUORLINA_API int quorlina_post_read(const char *root, const char *slug, char **out);

/**
 * Change a post's front matter; only the values that change are rewritten,
 * each in its span (tags item by item), and the rest of the file is kept
 * byte for byte. Values must be UTF-8, without "+++" or control bytes.
 * @param root        site root
 * @param slug        the post's slug
 * @param title       a new title, or NULL to keep it
 * @param description a new description, or NULL to keep it
 * @param tags        comma-separated tags replacing all, "" for none, or NULL to keep them
 * @param add_tags    comma-separated tags to add, or NULL
 * @param remove_tags comma-separated tags to remove, or NULL
 * @return 0, 14 when nothing is to change, or another result code
 */
QUORLINA_API int quorlina_post_update(const char *root, const char *slug, const char *title,
                                      const char *description, const char *tags,
                                      const char *add_tags, const char *remove_tags);

/**
 * Delete the post with this slug and prune its empty date directories.
 * @param root site root
 * @param slug the post's slug
 * @return 0, 3 when there is no such post, or another result code
 */
QUORLINA_API int quorlina_post_delete(const char *root, const char *slug);

/* --------------------------------------------------------------------- notes */

/**
 * Create a note <root>/content/notes/<timestamp>.md.
 * @param root      site root
 * @param timestamp Unix seconds; 0 means now; negative is refused
 * @param slug      [A-Za-z0-9_-]+, or NULL for a note without slug
 * @param content   the body; may be NULL for an empty note
 * @param[out] out  on success the full path of the new file; free with quorlina_free()
 * @return 0 or a result code (2 when a note with that timestamp exists)
 */
QUORLINA_API int quorlina_note_create(const char *root, int64_t timestamp, const char *slug,
                                      const char *content, char **out);

/**
 * List all notes as a JSON array, newest first:
 * [{"date":..,"id":..,"slug":..|null},...]
 * @param root     site root
 * @param[out] out the JSON text; free with quorlina_free()
 * @return 0 or a result code
 */
QUORLINA_API int quorlina_note_list(const char *root, char **out);

/**
 * Read the note whose slug or file stem is `id`:
 * {"date":..,"id":..,"slug":..|null,"content":..}
 * @param root     site root
 * @param id       the note's slug or file stem
 * @param[out] out the JSON text; free with quorlina_free()
 * @return 0, 3 when there is no such note, or another result code
 */
QUORLINA_API int quorlina_note_read(const char *root, const char *id, char **out);

/**
 * Rewrite a note in place; only the slug's value (or its line, when it is
 * cleared) changes in its front matter.
 * @param root       site root
 * @param id         the note's slug or file stem
 * @param slug       a new slug, or NULL to keep it
 * @param clear_slug non-zero removes the slug (then slug must be NULL)
 * @param content    a new body, or NULL to keep it
 * @return 0, 14 when nothing is to change, or another result code
 */
QUORLINA_API int quorlina_note_update(const char *root, const char *id, const char *slug,
                                      int clear_slug, const char *content);

/**
 * Delete the note whose slug or file stem is `id`.
 * @param root site root
 * @param id   the note's slug or file stem
 * @return 0, 3 when there is no such note, or another result code
 */
QUORLINA_API int quorlina_note_delete(const char *root, const char *id);

/* ------------------------------------------------------ extended functions
 *
 * Functions added since 0.3.0 follow one convention, so that later fields
 * never break a caller compiled against an older header:
 *   - Their optional arguments are gathered in an options struct whose
 *     first field is `unsigned int version`. Initialise it with its
 *     QUORLINA_..._OPTIONS_INIT macro, which sets `version` to the struct's
 *     QUORLINA_..._OPTIONS_VERSION and every other field to its default,
 *     then set the fields you need:
 *
 *         quorlina_post_create_options o = QUORLINA_POST_CREATE_OPTIONS_INIT;
 *         o.body = "Hello.\n";
 *         o.draft = 1;
 *
 *   - A NULL options pointer means the defaults of the INIT macro.
 *   - A later version only appends fields. A struct whose `version` is 0 or
 *     newer than the library knows returns QUORLINA_EINTERNAL (100) and
 *     touches nothing.
 *   - The library reads the struct during the call only and keeps no
 *     pointer to it or its strings.
 * The conventions at the top of this file hold for them as for the rest.
 */

/* -------------------------------------------------------------------- check */

typedef struct quorlina_check_options {
    unsigned int version;
    /* "snippet", "post" or "note" to check one family; NULL for all three
     * (snippets, then posts, then notes). Anything else returns 100. */
    const char *family;
} quorlina_check_options;

#define QUORLINA_CHECK_OPTIONS_VERSION 1
#define QUORLINA_CHECK_OPTIONS_INIT {QUORLINA_CHECK_OPTIONS_VERSION, NULL}

/**
 * Find every file that the family functions would fail on, in one scan per
 * family, instead of stopping at the first as a list does. The result is a
 * JSON array in list order (for posts, the order of the directory walk):
 * [{"family":"post","path":..,"code":7,"reason":"description is missing"},...]
 * where "path" names the file as the caller would write it (the root joined
 * with the rest), "code" is the result code a list or read of it gives and
 * "reason" the text after the path in quorlina_last_error. A snippet whose
 * file name is not a timestamp is reported with code 1. A clean site, or
 * one without the family's directory, gives "[]". The call itself fails
 * only when a family's directory cannot be read.
 * @param root     site root
 * @param options  may be NULL for all families
 * @param[out] out the JSON text; free with quorlina_free()
 * @return 0 or a result code
 */
QUORLINA_API int quorlina_check(const char *root, const quorlina_check_options *options, char **out);

/* --------------------------------------------------- posts, extended */

typedef struct quorlina_post_create_options {
    unsigned int version;
    /* The body after the front matter, written byte for byte; NULL for an
     * empty body. */
    const char *body;
    /* Non-zero writes `draft = true`. Default 0. */
    int draft;
    /* Non-zero writes the date as a TOML local date, `date = 2024-05-01`,
     * which site generators read as the post's date. Default 1. */
    int date_key;
} quorlina_post_create_options;

#define QUORLINA_POST_CREATE_OPTIONS_VERSION 1
#define QUORLINA_POST_CREATE_OPTIONS_INIT {QUORLINA_POST_CREATE_OPTIONS_VERSION, NULL, 0, 1}

/**
 * quorlina_post_create with a body, a draft flag and a `date` key.
 * The block holds, in this order: title, description, date (when
 * date_key), draft (when draft), tags.
 * @param options may be NULL for the defaults of the INIT macro
 * Other parameters and results as quorlina_post_create.
 */
QUORLINA_API int quorlina_post_create_ext(const char *root, const char *slug, const char *title,
                                          const char *description, const char *tags,
                                          const char *date,
                                          const quorlina_post_create_options *options,
                                          char **out_path);

typedef struct quorlina_post_update_options {
    unsigned int version;
    /* As in quorlina_post_update: NULL keeps the value. */
    const char *title;
    const char *description;
    const char *tags;
    const char *add_tags;
    const char *remove_tags;
    /* A new body; the front matter and its closing line stay byte for
     * byte. NULL keeps the body. */
    const char *body;
    /* 1 sets the draft flag (`draft = true`, written after the last
     * top-level key when the file has none), 0 clears it (an existing
     * `draft` value becomes `false`; nothing is written when there is
     * none), -1 (the default) keeps it. */
    int draft;
    /* The whole new text of the file, as an editor saved it. It replaces
     * the file only when it reads as a post does (front matter, title,
     * description, valid values); a "slug" key it gives must be valid and
     * not answer for another post of that date. It cannot be combined with
     * any other field (100). NULL: not used. */
    const char *text;
} quorlina_post_update_options;

#define QUORLINA_POST_UPDATE_OPTIONS_VERSION 1
#define QUORLINA_POST_UPDATE_OPTIONS_INIT \
    {QUORLINA_POST_UPDATE_OPTIONS_VERSION, NULL, NULL, NULL, NULL, NULL, NULL, -1, NULL}

/**
 * Change a post: its front-matter values as quorlina_post_update does, its
 * body, its draft flag, or the whole file. Atomic, under the family lock;
 * what is not asked to change stays byte for byte, and a change that
 * changes nothing writes nothing.
 * @param root    site root
 * @param slug    the post's slug
 * @param options what to change; NULL changes nothing (14)
 * @return 0, 3 when there is no such post, 7 when `text` does not read as a
 *         post, 14 when no field is given, or another result code
 */
QUORLINA_API int quorlina_post_update_ext(const char *root, const char *slug,
                                          const quorlina_post_update_options *options);

typedef struct quorlina_record_options {
    unsigned int version;
    /* Non-zero adds each record's "content" (the body). Default 0, so that
     * a list reads only the front matter. */
    int content;
} quorlina_record_options;

#define QUORLINA_RECORD_OPTIONS_VERSION 1
#define QUORLINA_RECORD_OPTIONS_INIT {QUORLINA_RECORD_OPTIONS_VERSION, 0}

/**
 * List all posts with full records, in the order of quorlina_post_list:
 * [{"date":..,"slug":..,"title":..,"description":..,"tags":[..],
 *   "path":..,"draft":false,"date_key":..|null,"content":..},...]
 * "path" is the file's path as the caller would write it; "draft" is true
 * when the top-level `draft` key is the boolean true; "date_key" is the
 * top-level `date` value: a string's value, or any other value's TOML text
 * as written (2024-05-01, 2024-05-01T10:00:00Z); null when there is none.
 * "content" only when options->content is set.
 * @param root     site root
 * @param options  may be NULL for the defaults
 * @param[out] out the JSON text; free with quorlina_free()
 * @return 0 or a result code
 */
QUORLINA_API int quorlina_post_list_ext(const char *root, const quorlina_record_options *options,
                                        char **out);

/**
 * Read the post with this slug as one record of quorlina_post_list_ext.
 * @return 0, 3 when there is no such post, or another result code
 */
QUORLINA_API int quorlina_post_read_ext(const char *root, const char *slug,
                                        const quorlina_record_options *options, char **out);

typedef struct quorlina_tag_options {
    unsigned int version;
} quorlina_tag_options;

#define QUORLINA_TAG_OPTIONS_VERSION 1
#define QUORLINA_TAG_OPTIONS_INIT {QUORLINA_TAG_OPTIONS_VERSION}

/**
 * Rename a tag in every post that has it, or remove it, in one scan under
 * the family lock. Each changed file is rewritten as quorlina_post_update
 * rewrites tags (item by item, format-preserving) and atomically; a post
 * that already has `new_tag` loses `old_tag` and keeps one `new_tag`. All
 * posts are read first: a broken file fails the call before any change.
 * A failure while writing leaves the posts changed so far changed, and
 * *out_changed counts them.
 * @param root        site root
 * @param old_tag     the tag to rename or remove
 * @param new_tag     the new name (checked as a post_update tag), or NULL to remove old_tag
 * @param options     may be NULL
 * @param[out] out_changed the number of posts rewritten; may be NULL
 * @return 0 (also when no post has the tag) or a result code
 */
QUORLINA_API int quorlina_post_rename_tag(const char *root, const char *old_tag,
                                          const char *new_tag,
                                          const quorlina_tag_options *options,
                                          size_t *out_changed);

/* --------------------------------------------------- notes, extended */

/**
 * List all notes with full records, in the order of quorlina_note_list:
 * [{"date":..,"id":..,"slug":..|null,"path":..,"content":..},...]
 * "content" only when options->content is set.
 * @return 0 or a result code
 */
QUORLINA_API int quorlina_note_list_ext(const char *root, const quorlina_record_options *options,
                                        char **out);

/**
 * Read the note whose slug or file stem is `id` as one record of
 * quorlina_note_list_ext.
 * @return 0, 3 when there is no such note, or another result code
 */
QUORLINA_API int quorlina_note_read_ext(const char *root, const char *id,
                                        const quorlina_record_options *options, char **out);

typedef struct quorlina_note_update_options {
    unsigned int version;
    /* As in quorlina_note_update. */
    const char *slug;
    int clear_slug;
    const char *content;
    /* The whole new text of the file, as an editor saved it. It replaces
     * the file only when it reads as a note does; a "slug" key it gives
     * must be valid and not answer for another note. It cannot be
     * combined with any other field (100). NULL: not used. */
    const char *text;
} quorlina_note_update_options;

#define QUORLINA_NOTE_UPDATE_OPTIONS_VERSION 1
#define QUORLINA_NOTE_UPDATE_OPTIONS_INIT {QUORLINA_NOTE_UPDATE_OPTIONS_VERSION, NULL, 0, NULL, NULL}

/**
 * Change a note as quorlina_note_update does, or replace its whole text.
 * @return 0, 3 when there is no such note, 7 or 10 when `text` does not read
 *         as a note, 14 when no field is given, or another result code
 */
QUORLINA_API int quorlina_note_update_ext(const char *root, const char *id,
                                          const quorlina_note_update_options *options);

#ifdef __cplusplus
}
#endif

#endif /* QUORLINA_QUORLINA_H */
