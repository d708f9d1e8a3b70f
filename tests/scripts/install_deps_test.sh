#!/bin/bash
# Runs scripts/install-deps.sh with stand-ins for id, dpkg-query and apt-get
# on PATH, as root and as another user, with every package present and with
# one missing. Present packages mean a silent success for anyone; a missing
# one is installed alone as root, and otherwise named with the command that
# installs it, and the script fails.
#
# usage: install_deps_test.sh INSTALL_DEPS_SCRIPT WORK_DIR
set -euo pipefail

script=$1 work=$2
rm -rf "$work"
mkdir -p "$work/bin"
fail() { echo "FAIL: $*" >&2; exit 1; }

cat >"$work/bin/id" <<'STUB'
#!/bin/sh
echo "$FAKE_UID"
STUB
cat >"$work/bin/dpkg-query" <<'STUB'
#!/bin/sh
for pkg; do :; done
case " $FAKE_MISSING " in *" $pkg "*) exit 1 ;; esac
printf 'install ok installed'
STUB
cat >"$work/bin/apt-get" <<'STUB'
#!/bin/sh
echo "apt-get $*" >>"$FAKE_APT_LOG"
STUB
chmod +x "$work/bin/"*

# uid  missing  exit  what apt-get is asked (| separates calls)  stderr holds
cases=(
    "1000 ''    0  ''                                              ''"
    "0    ''    0  ''                                              ''"
    "1000 cmake 1  ''                                              'apt-get install -y cmake'"
    "0    cmake 0  'apt-get update -qq|apt-get install -y -qq --no-install-recommends cmake' ''"
)
for c in "${cases[@]}"; do
    eval "set -- $c"
    uid=$1 missing=$2 want_rc=$3 want_apt=$4 want_err=$5
    name="uid $uid, missing '${missing}'"
    : >"$work/apt.log"
    rc=0
    PATH="$work/bin:$PATH" FAKE_UID=$uid FAKE_MISSING=$missing FAKE_APT_LOG=$work/apt.log \
        bash "$script" >"$work/out" 2>"$work/err" || rc=$?
    [ "$rc" = "$want_rc" ] || fail "$name: exit $rc, not $want_rc"
    apt=$(paste -sd'|' "$work/apt.log")
    [ "$apt" = "$want_apt" ] || fail "$name: apt-get calls '$apt', not '$want_apt'"
    if [ -z "$want_err" ]; then
        [ ! -s "$work/err" ] || fail "$name: printed on stderr: $(cat "$work/err")"
        # Quiet unless it installs something.
        [ -n "$want_apt" ] || [ ! -s "$work/out" ] || fail "$name: printed: $(cat "$work/out")"
    else
        grep -qF "$want_err" "$work/err" || fail "$name: stderr lacks '$want_err': $(cat "$work/err")"
    fi
    echo "ok: $name"
done
rm -rf "$work"
echo "install_deps: all checks passed"
