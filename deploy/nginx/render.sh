#!/bin/sh
# Renders the launcher's nginx configuration (kwrt.conf.in beside this script) to the standard
# output, for /etc/nginx/conf.d/kwrt.conf.
#
# Usage: render.sh --cdn-root DIR --config-url URL [--notice-listen 8000] [--cdn-listen 80]
#                  [--log-dir /var/log/nginx]
#   --cdn-root DIR     the folder kwrt-pack wrote (its --out)
#   --config-url URL   where launchers fetch the resource config: the CDN's public address and
#                      the config's path below the root, such as
#                      http://cdn.example.com/pyl/v1/res_config.txt
#   --notice-listen    what the notice server listens on (the launcher asks port 8000)
#   --cdn-listen       what the CDN listens on
set -eu
here=$(cd "$(dirname "$0")" && pwd)
cdn_root= config_url= notice_listen=8000 cdn_listen=80 log_dir=/var/log/nginx
while [ $# -gt 0 ]; do
  case $1 in
    --cdn-root) cdn_root=$2; shift 2 ;;
    --config-url) config_url=$2; shift 2 ;;
    --notice-listen) notice_listen=$2; shift 2 ;;
    --cdn-listen) cdn_listen=$2; shift 2 ;;
    --log-dir) log_dir=$2; shift 2 ;;
    *) echo "render.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
if [ -z "$cdn_root" ] || [ -z "$config_url" ]; then
  echo "usage: render.sh --cdn-root DIR --config-url URL [--notice-listen 8000] [--cdn-listen 80] [--log-dir DIR]" >&2
  exit 2
fi
case $config_url in
  *[\'\"\\\ ]*) echo "render.sh: the config URL may not hold quotes, backslashes or blanks" >&2; exit 2 ;;
esac
# The config's file name, whatever it is, is what the CDN serves uncached; a name that could not
# be written into the location's pattern as it stands is refused rather than left unserved.
config_name=${config_url%%\?*}
config_name=${config_name##*/}
case $config_name in
  ''|*[!A-Za-z0-9._-]*|vd_game.vdpkg|*.release|*.release.sig)
    echo "render.sh: the config URL must end in a file name of letters, digits, '.', '_' and '-' (not \"$config_name\")" >&2
    exit 2 ;;
esac
config_pattern=$(printf '%s' "$config_name" | sed 's/\./\\./g')
# "|" cannot appear in the values' places of sed below without being escaped.
escape() { printf '%s' "$1" | sed 's/[|&\\]/\\&/g'; }
sed -e "s|@NOTICE_LISTEN@|$(escape "$notice_listen")|g" \
    -e "s|@CDN_LISTEN@|$(escape "$cdn_listen")|g" \
    -e "s|@CDN_ROOT@|$(escape "$cdn_root")|g" \
    -e "s|@CONFIG_URL@|$(escape "$config_url")|g" \
    -e "s|@CONFIG_NAME_PATTERN@|$(escape "$config_pattern")|g" \
    -e "s|@LOG_DIR@|$(escape "$log_dir")|g" \
    "$here/kwrt.conf.in"
