#!/bin/sh
# Builds the native launcher, lays out the sample application the way a user
# ships one (build/native/sample-app: quenlet, jre/, lib/quenlet-sample.jar)
# and runs it with a couple of arguments. Extra arguments go to the sample.
set -e
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset native >/dev/null
cmake --build --preset native --target sample_app
if [ $# -eq 0 ]; then
  set -- "hello world" second
fi
exec build/native/sample-app/quenlet "$@"
