#!/bin/sh
# Installs the Debian packages named on the command line that are missing.
# As root it runs apt-get; otherwise it prints the one line to run and fails.
missing=""
for p in "$@"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
if [ "$(id -u)" = 0 ]; then
  echo "Installing:$missing"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq && apt-get install -y -qq --no-install-recommends $missing >/dev/null || exit 1
else
  echo "Missing packages. Run as root:"
  echo "  apt-get update && apt-get install -y$missing"
  exit 1
fi
