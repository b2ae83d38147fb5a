#!/usr/bin/env bash
# Installs the Debian packages the project needs, when any is missing (Debian 12).
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev pkg-config binutils
  libicu-dev libxml2-dev nettle-dev uuid-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev doxygen
  systemtap-sdt-dev bpftrace
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo=""
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi
