#!/bin/sh
# Installs what the build, the tests and the demo need, when it is missing (idempotent, quiet).
set -eu
packages="cmake make g++-mingw-w64-x86-64-posix wine64 wine xvfb xauth xdotool libz-mingw-w64-dev
 fonts-noto-cjk fonts-liberation imagemagick zip unzip openssl python3 googletest iproute2 util-linux
 clang-format curl postgresql python3-psycopg2 osslsigncode nginx wrk"
missing=""
for p in $packages; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
echo "installing:$missing" >&2
export DEBIAN_FRONTEND=noninteractive
# Installing nginx would start it as a system service on port 80; the update service starts its
# own (backend/service.sh). Where no policy says otherwise, services stay down during the install.
policy=/usr/sbin/policy-rc.d
if [ ! -e $policy ]; then
    printf '#!/bin/sh\nexit 101\n' >$policy && chmod 755 $policy
    trap 'rm -f $policy' EXIT
fi
apt-get install -y -qq $missing >/dev/null 2>&1 ||
    { apt-get update -qq >/dev/null && apt-get install -y -qq $missing >/dev/null; }
