#!/bin/sh
# Installs the Debian packages the builds and tests need; does nothing when all are present.
set -eu
packages="cmake ninja-build g++ libgtest-dev libgmock-dev libbenchmark-dev clang-format
          g++-mingw-w64-x86-64 wine wine64 xvfb xauth libvterm-dev pkg-config
          telnet rsh-redone-client clang-14 libclang-rt-14-dev libfuzzer-14-dev wixl msitools
          asciinema"
missing=""
for package in $packages; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
        missing="$missing $package"
done
[ -z "$missing" ] && exit 0
echo "installing:$missing"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq $missing >/dev/null
