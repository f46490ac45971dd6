#!/usr/bin/env bash
# Installs the Debian packages the library, its tests, benchmarks and fuzzers
# need; dpkg-dev and file are for CPack's Debian packages (dpkg-shlibdeps).
# Packages that are already installed are skipped, so a developer machine with
# everything in place never touches apt.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config git
    clang libclang-rt-14-dev llvm
    libicu-dev libxml2-dev libyajl-dev libsimdjson-dev libsqlite3-dev libcurl4-openssl-dev
    libssl-dev openssl libplist-dev libzip-dev libgeos-dev libgeographiclib-dev
    libvips-dev
    libgtest-dev libgmock-dev libbenchmark-dev libcpp-httplib-dev libbotan-2-dev libmuparser-dev
    python3 sqlite3 clang-format
    dpkg-dev file
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "Installing: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends \
    "${missing[@]}"
