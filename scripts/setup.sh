#!/usr/bin/env bash
# Installs, through apt-get, exactly the Debian packages the build, the tests and the demo use.
# Idempotent: packages already present are not touched and apt is not called at all when nothing is missing.
set -euo pipefail

packages=(
  cmake make g++ pkg-config
  googletest libgtest-dev
  zlib1g-dev libcurl4-openssl-dev libssl-dev
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  libz-mingw-w64-dev
  wine wine64 xvfb xdotool x11-apps imagemagick fonts-nanum
  python3 python3-pil curl zip unzip libarchive-tools
  nginx-light iproute2 bc
  clang libclang-rt-14-dev
  g++-multilib qemu-user zlib1g-dev:i386 libcurl4-openssl-dev:i386 libssl-dev:i386
  nginx-light
)

# The 32-bit Linux build's libraries come from Debian's i386 architecture, which must be known to
# dpkg (and its package lists fetched) before any :i386 package can be found.
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "setup: adding the i386 architecture"
  $SUDO dpkg --add-architecture i386
  $SUDO apt-get update -qq
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all packages present"
  exit 0
fi

echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
