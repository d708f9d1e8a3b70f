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
#define QUORLINA_VERSION_MINOR 2
#define QUORLINA_VERSION_PATCH 0
#define QUORLINA_VERSION "0.2.0"

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

#ifdef __cplusplus
}
#endif

#endif /* QUORLINA_QUORLINA_H */
