#!/usr/bin/env bash
# Installs every Debian package that the build, the tests, the benchmarks and
# the main job need. Idempotent; run as root (or through sudo). Nothing is
# fetched from anywhere but Debian's archive.
set -euo pipefail

packages=(
  # build
  g++ cmake ninja-build pkg-config make git
  # tests and benchmarks
  googletest libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev
  imagemagick
  # libraries the system calls
  libsqlite3-dev sqlite3 zlib1g-dev libprotobuf-c-dev protobuf-c-compiler
  libcurl4-openssl-dev libssl-dev libplist-dev nlohmann-json3-dev libcpp-httplib-dev
  libcairo2-dev libpango1.0-dev fonts-dejavu-core libpng-dev libjpeg62-turbo-dev
  # the crash engine: Mach-O fixtures and the 64-bit ARM build run under qemu
  lld-16 llvm-16 qemu-user g++-aarch64-linux-gnu
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all ${#packages[@]} packages present"
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
