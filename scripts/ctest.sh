#!/bin/sh
# Runs CTest on build/test (or $OSTREL_BUILD) in private network and mount namespaces, so the
# local update service's port 443 and the tests' small volume belong to this run alone, with one
# Xvfb display for all tests.
# Extra arguments go to ctest.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=${OSTREL_BUILD:-$here/../build/test}
if [ "${OSTREL_IN_NETNS:-}" != 1 ]; then
    OSTREL_IN_NETNS=1 OSTREL_BUILD=$build exec unshare --net --mount "$0" "$@"
fi
ip link set lo up
. "$here/xvfb.sh"
startXvfb
status=0
ctest --test-dir "$build" --output-on-failure --timeout 600 "$@" || status=$?
stopXvfb
exit $status
