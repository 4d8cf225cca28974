#!/usr/bin/env bash
# Installs every Debian 12 package that building, testing and running Tavik needs.
# Idempotent: when everything is present it prints nothing and touches nothing.
set -euo pipefail

packages=(
  # toolchain
  build-essential cmake ninja-build pkg-config git
  clang clang-format libclang-rt-14-dev llvm
  # Qt 6 development packages
  qt6-base-dev qt6-base-dev-tools qt6-base-private-dev
  qt6-declarative-dev qt6-declarative-dev-tools
  qt6-charts-dev qt6-serialport-dev qt6-svg-dev qt6-5compat-dev qt6-httpserver-dev
  qt6-websockets-dev # Qt HTTP Server's CMake package needs it; Debian does not pull it in
  qt6-tools-dev qt6-tools-dev-tools
  libgl-dev libvulkan-dev
  # QML modules of the scene and of the QML tests
  qml6-module-qtqml-workerscript qml6-module-qtquick qml6-module-qtquick-templates
  qml6-module-qtquick-controls qml6-module-qtquick-layouts qml6-module-qtquick-dialogs
  qml6-module-qtquick-shapes qml6-module-qtquick-window qml6-module-qtcharts
  qml6-module-qt-labs-qmlmodels qml6-module-qt-labs-platform
  qml6-module-qt5compat-graphicaleffects qml6-module-qttest
  # what qmllint needs to know the QML and QML models modules
  qml6-module-qtqml qml6-module-qtqml-models
  # the application font compiled into the program (DejaVu Sans)
  fonts-dejavu-core
  # headless screenshots, network namespaces for the tests
  xvfb xauth iproute2 util-linux
  # make demo and the program's benchmark: waiting for a window, saving a screenshot
  x11-utils imagemagick
  # a second web server for the firmware catalogue tests
  python3
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
  sudo=()
elif command -v sudo >/dev/null 2>&1; then
  sudo=(sudo)
else
  echo "install-deps: missing packages (${missing[*]}) and neither root nor sudo" >&2
  exit 1
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
