#!/usr/bin/env bash
# Installs the Debian 12 packages the project needs, when they are missing.
set -euo pipefail

packages=(
  cmake g++ make pkg-config
  qtbase5-dev
  libmosquitto-dev mosquitto mosquitto-clients
  ejabberd
  libssl-dev openssl zlib1g-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  libcpp-httplib-dev chromium chromium-driver
  clang-14 python3   # the interface-table check in the Microsoft ABI
)
if [ "${ORLIN_WITH_FUZZ:-0}" = 1 ]; then
  packages+=(clang libclang-rt-14-dev)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null 2>&1; then
    cat >&2 <<EOF
$0: these Debian packages are missing: ${missing[*]}
Neither root nor sudo is available here. Install them as root, for example:
  su -c 'apt-get update && apt-get install -y --no-install-recommends ${missing[*]}'
then run this command again.
EOF
    exit 1
  fi
  sudo="sudo"
fi
echo "installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
# ejabberd's package starts a system service listening on 1883 on every
# address; the tests start their own nodes, so the service is stopped and
# kept from starting again.
if [[ " ${missing[*]} " == *" ejabberd "* ]]; then
  if [ -d /run/systemd/system ]; then
    $sudo systemctl disable --now ejabberd || true
  else
    $sudo service ejabberd stop >/dev/null 2>&1 || true
    $sudo update-rc.d ejabberd disable >/dev/null 2>&1 || true
  fi
fi
