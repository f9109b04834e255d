#!/usr/bin/env bash
# npm_ci.sh DIR: installs the web tests' npm packages in DIR exactly as its lockfile
# pins them, unless they are already there from that same lockfile.
set -euo pipefail
dir=$1
cd "$dir"
if [ -f node_modules/.zarvelin-lock ] && cmp -s package-lock.json node_modules/.zarvelin-lock; then
  echo "npm packages already installed from this lockfile"
  exit 0
fi
npm ci --no-audit --no-fund --ignore-scripts
cp package-lock.json node_modules/.zarvelin-lock
