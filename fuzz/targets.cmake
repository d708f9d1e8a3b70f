# The fuzz targets: fuzz/<name>_fuzz.cpp with its seed corpus in
# fuzz/corpus/<name>/. Shared by fuzz/CMakeLists.txt (libFuzzer builds) and
# tests/reliability/CMakeLists.txt (corpus replay tests).
set(QUORLINA_FUZZ_TARGETS
  snippet_frontmatter
  toml_string
  post_frontmatter
  note_frontmatter
  escape_json
  tags_csv
  end_to_end)
