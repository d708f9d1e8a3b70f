# The fuzz targets: fuzz/<name>_fuzz.cpp with its seed corpus in
# fuzz/corpus/<name>/. Shared by fuzz/CMakeLists.txt (libFuzzer builds) and
# tests/reliability/CMakeLists.txt (corpus replay tests).
set(QUORLINA_FUZZ_TARGETS
  snippet_frontmatter
  toml_reader
  post_frontmatter
  note_frontmatter
  escape_json
  tags_csv
  end_to_end)

# Targets that compare the library with toml++, a test-only oracle used as
# a header-only library (Debian's libtomlplusplus-dev). Without its header
# they are not built, and their replay tests report a skip.
set(QUORLINA_FUZZ_TOMLPP_TARGETS toml_reader)
find_path(QUORLINA_TOMLPP_INCLUDE toml++/toml.h)
