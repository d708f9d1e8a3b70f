// Python's tomllib as a reference reader for the tests: what a TOML 1.0
// reader makes of a front-matter block the library wrote or edited.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "support/test_support.hpp"

namespace qtoml {

// Whether `python3` with tomllib (Python 3.11 or later) can be run.
inline bool available() {
    static const bool ok = [] {
        int rc = std::system("python3 -c 'import tomllib' >/dev/null 2>&1");
        return rc != -1 && WIFEXITED(rc) && WEXITSTATUS(rc) == 0;
    }();
    return ok;
}

// Runs `script` with python3, giving it the files `args` (written below
// `dir` first, one per text) as its arguments; returns its standard output
// and standard error.
inline std::string run(const std::string &dir, const std::string &script, const std::vector<std::string> &args) {
    std::string command = "python3 " + dir + "/check.py";
    qtest::writeFile(dir + "/check.py", script);
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string path = dir + "/arg" + std::to_string(i);
        qtest::writeFile(path, args[i]);
        command += " " + path;
    }
    command += " 2>&1";
    std::string out;
    if (FILE *p = ::popen(command.c_str(), "r")) {
        char buf[4096];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
        ::pclose(p);
    }
    return out;
}

// The block as tomllib reads it, as JSON with sorted keys (dates and times
// as Python writes them, "2024-05-01", "2024-05-01 10:00:00+00:00").
inline std::string asJson(const std::string &dir, const std::string &block) {
    static const char *kScript =
        "import json, sys, tomllib\n"
        "with open(sys.argv[1], 'rb') as f:\n"
        "    d = tomllib.load(f)\n"
        "sys.stdout.write(json.dumps(d, sort_keys=True, default=str, ensure_ascii=False))\n";
    return run(dir, kScript, {block});
}

// "ok" when tomllib reads `after` as `before` with the top-level keys of
// the JSON object `changed` set to its values (null: removed); else what
// differs.
inline std::string changedOnly(const std::string &dir, const std::string &before, const std::string &after,
                               const std::string &changed) {
    static const char *kScript =
        "import json, sys, tomllib\n"
        "def load(p):\n"
        "    with open(p, 'rb') as f:\n"
        "        return tomllib.load(f)\n"
        "b, a = load(sys.argv[1]), load(sys.argv[2])\n"
        "with open(sys.argv[3]) as f:\n"
        "    changed = json.load(f)\n"
        "for k, v in changed.items():\n"
        "    if v is None:\n"
        "        b.pop(k, None)\n"
        "    else:\n"
        "        b[k] = v\n"
        "enc = lambda x: json.dumps(x, sort_keys=True, default=str, ensure_ascii=False)\n"
        "sys.stdout.write('ok' if enc(a) == enc(b) else 'expected ' + enc(b) + '\\n     got ' + enc(a))\n";
    return run(dir, kScript, {before, after, changed});
}

}  // namespace qtoml
