#!/usr/bin/env bash
# The TLS servers of the tests: a test CA made now with openssl, and on port 443 of the loopback
# addresses NET.1 to NET.4 a TLS front (socat) that hands each connection, decrypted, to port 8443
# of the same address, where the test's own recording HTTP server listens:
#   NET.1  a certificate of the test CA for NET.1, NET.5 ... NET.9
#   NET.2  a certificate of another CA, which nobody trusts
#   NET.3  a certificate of the test CA for another host
#   NET.4  a certificate of the test CA that expired in 2020
#   NET.5  like NET.1 (one address per test, so parallel tests never meet)
# The test CA is trusted only by the tests: libcurl is handed DIR/ca.pem, and with a Wine loader
# as the last argument (or KWRT_WINE when KWRT_WINDOWS_BIN says that a host test runs the windows
# programs) it goes into the current-user root store of the Wine prefix ($WINEPREFIX), which
# "stop" removes again. The machine's store is never touched.
#
# Usage: tls_servers.sh start DIR NET [WINE] | tls_servers.sh stop DIR [WINE]
set -euo pipefail
action=$1 dir=$2
if [ "$action" = start ]; then
  net=$3 wine=${4:-}
else
  wine=${3:-}
fi
if [ -z "$wine" ] && [ -n "${KWRT_WINDOWS_BIN:-}" ]; then
  wine=${KWRT_WINE:-}
fi
root_store='HKCU\Software\Microsoft\SystemCertificates\Root\Certificates'

stop() {
  if [ -f "$dir/pids" ]; then
    while read -r pid; do kill "$pid" 2>/dev/null || true; done <"$dir/pids"
    rm -f "$dir/pids"
  fi
  if [ -n "$wine" ] && [ -f "$dir/thumbprint" ]; then
    "$wine" reg delete "$root_store\\$(cat "$dir/thumbprint")" /f >/dev/null 2>&1 || true
    rm -f "$dir/thumbprint"
  fi
}

if [ "$action" = stop ]; then
  stop
  exit 0
fi

stop
rm -rf "$dir/pki"
mkdir -p "$dir/pki"
cd "$dir/pki"

# A CA: no CRL or OCSP address anywhere, so no client ever goes looking for one.
make_ca() {
  local name=$1 subject=$2
  openssl req -x509 -newkey rsa:2048 -nodes -keyout "$name.key" -out "$name.pem" -days 30 \
    -subj "/CN=$subject" -addext basicConstraints=critical,CA:TRUE \
    -addext keyUsage=critical,keyCertSign,cRLSign 2>/dev/null
}

# A server certificate for the addresses given, signed by CA, valid from START to END.
# Wine's crypt32 matches host names against DNS entries only: each address is both.
make_server() {
  local name=$1 ca=$2 start=$3 end=$4; shift 4
  local san= address
  for address in "$@"; do
    san+="${san:+,}DNS:$address"
    [[ $address =~ ^[0-9.]+$ ]] && san+=",IP:$address"
  done
  openssl req -newkey rsa:2048 -nodes -keyout "$name.key" -out "$name.csr" \
    -subj "/CN=$1" 2>/dev/null
  cat >"$name.ext" <<EOF
basicConstraints=CA:FALSE
keyUsage=critical,digitalSignature,keyEncipherment
extendedKeyUsage=serverAuth
subjectAltName=$san
EOF
  mkdir -p "ca-$name"
  : >"ca-$name/index.txt"
  cat >"ca-$name/ca.cnf" <<EOF
[ca]
default_ca=test
[test]
dir=$PWD/ca-$name
database=\$dir/index.txt
new_certs_dir=\$dir
serial=\$dir/serial
default_md=sha256
policy=any
unique_subject=no
[any]
commonName=supplied
EOF
  openssl rand -hex 8 >"ca-$name/serial"
  openssl ca -batch -notext -config "ca-$name/ca.cnf" -cert "$ca.pem" -keyfile "$ca.key" \
    -startdate "$start" -enddate "$end" -extfile "$name.ext" -in "$name.csr" \
    -out "$name.pem" 2>/dev/null
}

now=$(date -u -d '-1 day' +%Y%m%d%H%M%SZ)
later=$(date -u -d '+30 days' +%Y%m%d%H%M%SZ)
make_ca ca "KWRT Test CA"
make_ca rogue "KWRT Rogue CA"
make_server good ca "$now" "$later" "$net.1" "$net.5" "$net.6" "$net.7" "$net.8" "$net.9"
make_server unknown rogue "$now" "$later" "$net.2"
make_server wronghost ca "$now" "$later" "other.invalid" "127.0.0.99"
make_server expired ca 20200101000000Z 20200102000000Z "$net.4"
cp ca.pem "$dir/ca.pem"

front() {
  local address=$1 name=$2
  setsid socat "OPENSSL-LISTEN:443,bind=$address,reuseaddr,fork,cert=$PWD/$name.pem,key=$PWD/$name.key,verify=0" \
    "TCP:$address:8443" </dev/null >/dev/null 2>&1 &
  echo $! >>"$dir/pids"
}
front "$net.1" good
front "$net.2" unknown
front "$net.3" wronghost
front "$net.4" expired
front "$net.5" good

for address in "$net.1" "$net.2" "$net.3" "$net.4" "$net.5"; do
  for _ in $(seq 100); do
    (exec 3<>"/dev/tcp/$address/443") 2>/dev/null && break
    sleep 0.05
  done
done

if [ -n "$wine" ]; then
  # One certificate property: id 32, encoding 1, the DER length (little-endian 32 bits), the DER.
  openssl x509 -in ca.pem -outform DER -out ca.der
  thumbprint=$(openssl x509 -in ca.pem -noout -fingerprint -sha1 | sed 's/.*=//; s/://g' |
    tr 'a-f' 'A-F')
  length=$(stat -c %s ca.der)
  blob=$(printf '2000000001000000%02x%02x%02x%02x' $((length & 255)) $(((length >> 8) & 255)) \
    $(((length >> 16) & 255)) $(((length >> 24) & 255)))$(od -An -v -tx1 ca.der | tr -d ' \n')
  "$wine" reg add "$root_store\\$thumbprint" /v Blob /t REG_BINARY /d "$blob" /f >/dev/null 2>&1
  echo "$thumbprint" >"$dir/thumbprint"
fi
