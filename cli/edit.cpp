// The edit verb of posts and notes: the item's file is copied to a private
// temporary file, the user's editor opens the copy, and the edited text is
// published through the library, which takes it only when it reads as an
// item of the family. When it is refused, the file stays as it was and the
// copy is kept for another try, as visudo and crontab -e do.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <CLI/CLI.hpp>

#include "family_verbs.hpp"
#include "messages.hpp"
#include "quorlina/quorlina.h"
#include "strings.hpp"

extern char **environ;

namespace qcli {

namespace {

// A whole file's bytes, or nothing when it cannot be read.
std::optional<std::string> readFile(const std::string &path) {
    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return std::nullopt;
    std::string data;
    char buf[65536];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) data.append(buf, n);
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed) return std::nullopt;
    return data;
}

bool writeAll(int fd, const std::string &data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// The editor the user chose: $VISUAL, else $EDITOR, else vi.
std::string editorCommand() {
    for (const char *name : {"VISUAL", "EDITOR"}) {
        const char *value = std::getenv(name);
        if (value != nullptr && *value != '\0') return value;
    }
    return "vi";
}

// Runs the editor on `path` and waits for it. The variable is a shell
// command, as for other tools ("code --wait", "emacs -nw"); the path goes
// to it as an argument, never as text of the command. Returns the editor's
// exit status, or -1 when it could not run or was killed.
//
// As system() does, the tool ignores SIGINT and SIGQUIT while it waits:
// a Ctrl-C typed in the editor is the editor's, and the tool is still there
// to say where the copy is. The editor gets their default actions.
int runEditor(const std::string &editor, const std::string &path) {
    const std::string script = cat({editor, " \"$@\""});
    const char *argv[] = {"sh", "-c", script.c_str(), "sh", path.c_str(), nullptr};
    struct sigaction ignore {}, oldInt {}, oldQuit {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGINT, &ignore, &oldInt);
    sigaction(SIGQUIT, &ignore, &oldQuit);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGQUIT);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, "/bin/sh", nullptr, &attr, const_cast<char **>(argv), environ);
    posix_spawnattr_destroy(&attr);
    int status = 0;
    bool waited = spawned == 0;
    while (waited && waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) waited = false;
    }
    sigaction(SIGINT, &oldInt, nullptr);
    sigaction(SIGQUIT, &oldQuit, nullptr);
    if (!waited) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The private copy: a new file only the user can read, in $TMPDIR (else
// /tmp), named after the item, with the file's extension so that the
// editor knows the format.
std::string makeCopy(const std::string &key, const std::string &text) {
    const char *dir = std::getenv("TMPDIR");
    std::string name = key;
    for (char &c : name) {
        if (c == '/' || static_cast<unsigned char>(c) < 0x20) c = '_';
    }
    std::string path = cat({dir != nullptr && *dir != '\0' ? dir : "/tmp", "/quorlina-", name, "-XXXXXX.md"});
    const int fd = mkstemps(path.data(), 3);  // mode 0600
    if (fd < 0) throw ToolError{kExitCantCreate, cat({"cannot create a temporary copy: ", std::strerror(errno)})};
    const bool written = writeAll(fd, text) && ::fsync(fd) == 0;
    const int saved = errno;
    ::close(fd);
    if (!written) {
        ::unlink(path.c_str());
        throw ToolError{kExitCantCreate, cat({"cannot write the temporary copy: ", std::strerror(saved)})};
    }
    return path;
}

std::string runEdit(const ItemOptions &o, const Tool &tool) {
    const FamilyInfo &f = *o.family;
    const std::string root = tool.siteRoot();
    const Target target{f.family, Target::Kind::Key, o.key, root};
    const std::string file = recordPath(f, root, o.key);
    const std::optional<std::string> before = readFile(file);
    if (!before) throw ToolError{kExitNoInput, cat({"cannot read '", oneLine(file), "': ", std::strerror(errno)})};
    const std::string copy = makeCopy(o.key, *before);
    const auto kept = [&](const std::string &why, int status) {
        return ToolError{status, cat({why, "; the file is unchanged and the edited copy is kept at ", copy})};
    };

    const std::string editor = editorCommand();
    const int status = runEditor(editor, copy);
    if (status != 0) {
        throw kept(status < 0 ? cat({"the editor '", oneLine(editor), "' did not run or was stopped"})
                              : cat({"the editor '", oneLine(editor), "' exited with status ", std::to_string(status)}),
                   QUORLINA_EINTERNAL);
    }
    const std::optional<std::string> after = readFile(copy);
    if (!after) throw kept(cat({"cannot read the edited copy: ", std::strerror(errno)}), kExitNoInput);
    if (*after == *before) {
        ::unlink(copy.c_str());
        return tool.wantJson() ? "{\"ok\":true,\"changed\":false}\n" : "no changes\n";
    }
    if (after->find('\0') != std::string::npos) {
        throw kept("the edited copy holds a NUL byte, which the library cannot store", kExitData);
    }
    // Someone else's change while the editor was open is not overwritten.
    const std::optional<std::string> now = readFile(file);
    if (!now || *now != *before) throw kept(cat({"'", oneLine(file), "' changed while it was being edited"}), QUORLINA_EINTERNAL);

    const int code = f.updateText(root.c_str(), o.key, after->c_str());
    if (code != QUORLINA_OK) throw kept(failureText(target, code, false), code);
    ::unlink(copy.c_str());
    return tool.wantJson() ? "{\"ok\":true,\"changed\":true}\n" : "";
}

}  // namespace

void addEdit(CLI::App &verb, const FamilyInfo &family, Tool &tool) {
    bindItemCommand<ItemOptions>(verb, family, tool, runEdit);
}

}  // namespace qcli
