#!/usr/bin/env bash
# Installs the Debian packages this project needs to build and test, when
# they are missing. Run as root (as on CI); otherwise it prints the command.
#   scripts/install-deps.sh          everything for the full test suite
#   scripts/install-deps.sh --build  only what building and running the CLI needs
set -euo pipefail

build_pkgs=(cmake ninja-build g++ pkg-config libcli11-dev)
# e2fsprogs, xfsprogs and btrfs-progs make and check the power-loss suite's
# file systems; lld and llvm link and inspect the macOS cross build.
test_pkgs=(clang libclang-rt-14-dev libgtest-dev libbenchmark-dev python3 python3-venv
           mypy hugo binutils zsh fish e2fsprogs xfsprogs btrfs-progs lld llvm libtomlplusplus-dev)

pkgs=("${build_pkgs[@]}")
if [[ "${1:-}" != "--build" ]]; then pkgs+=("${test_pkgs[@]}"); fi

missing=()
for p in "${pkgs[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

if [[ $(id -u) -ne 0 ]]; then
  echo "missing packages: ${missing[*]}" >&2
  echo "install them with: sudo apt-get update && sudo apt-get install -y ${missing[*]}" >&2
  exit 1
fi
echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
