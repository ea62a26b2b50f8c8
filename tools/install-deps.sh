#!/bin/sh
# Installs the Debian packages the build and the tests need, when missing.
set -e
packages="cmake make g++ clang libclang-rt-dev googletest nlohmann-json3-dev libbenchmark-dev g++-mingw-w64-x86-64-posix wine wine64 xvfb xauth x11-apps imagemagick fio libfuse3-dev fuse3 pkg-config prometheus prometheus-node-exporter"
missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
echo "installing:$missing"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends $missing
