#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when any is missing.
# Sourced by run.sh and test.sh; quiet when everything is already there.
tintwave_packages=(
  build-essential cmake pkg-config
  qt6-base-dev qt6-base-dev-tools
  libasound2-dev libmpg123-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  sox libsox-fmt-all lame mpg123 ffmpeg espeak-ng sndfile-programs clang-14 libclang-rt-14-dev
  xvfb x11-apps imagemagick
  openmpt123 timidity freepats
  libsqlite3-dev libcpp-httplib-dev chromium
  ccache libsndfile1-dev libavformat-dev libavcodec-dev libavutil-dev libswresample-dev
  flac vorbis-tools opus-tools librubberband-dev rubberband-cli xdotool
  libjmac-java openjdk-17-jre-headless
)

tintwave_install_missing() {
  local missing=()
  for p in "${tintwave_packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq >/dev/null
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# tintwave_build DIR [CMAKE ARGS...] [--target T...]: configure and build (everything, or the
# targets named after --target).
tintwave_build() {
  local dir=$1; shift
  local configure=() targets=()
  while [ $# -gt 0 ]; do
    if [ "$1" = "--target" ]; then shift; targets=("$@"); break; fi
    configure+=("$1"); shift
  done
  cmake -S "$TINTWAVE_ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=Release "${configure[@]}" >/dev/null
  if [ ${#targets[@]} -gt 0 ]; then
    cmake --build "$dir" -j "$(nproc)" --target "${targets[@]}"
  else
    cmake --build "$dir" -j "$(nproc)"
  fi
}
