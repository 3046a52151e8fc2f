#!/usr/bin/env bash
# Hand-run smoke test of the development service through scripts/devservice.
#   tools/devservice/smoke-test.sh [BIN]
# Uses the fixed test ports, so no other instance may be running.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
bin="${1:-$root/build/linux/bin/tovani-devservice}"
state="$(mktemp -d)"
trap '"$root/scripts/devservice" stop "$bin" "$state" >/dev/null; rm -rf "$state"' EXIT

failures=0
pass() { printf 'ok    %s\n' "$1"; }
fail() { printf 'FAIL  %s\n' "$1"; failures=$((failures + 1)); }

"$root/scripts/devservice" start "$bin" "$state" >/dev/null
# A second start replaces the first instance instead of failing on busy ports.
first=$(cat "$state/devservice.pid")
"$root/scripts/devservice" start "$bin" "$state" >/dev/null
# (The old process may linger as a zombie when nothing reaps orphans, hence /proc.)
[ "$(cat "$state/devservice.pid")" != "$first" ] && ! grep -q devservice "/proc/$first/cmdline" 2>/dev/null &&
  pass "restart replaces the old instance" || fail "restart replaces the old instance"

certs="$state/certs"
B=https://127.0.0.1:47443
H=http://127.0.0.1:47480
curl_dev() { curl -sS --max-time 10 --cacert "$certs/good/root.pem" "$@"; }

# expect NAME STATUS BODY_SUBSTRING curl-args...
expect() {
  local name=$1 status=$2 needle=$3
  shift 3
  local out code
  out=$(curl_dev -w '\n%{http_code}' "$@" 2>&1) || true
  code=${out##*$'\n'}
  out=${out%$'\n'*}
  if [ "$code" = "$status" ] && [[ $out == *"$needle"* ]]; then pass "$name"; else
    fail "$name: got $code '${out:0:120}'"; fi
}

content() { expect "content $1" "$2" "$3" -X PUT -H 'X-Client: tovani-desktop' --data-binary "pass=p&id=$1" "$B/api/player/content-data"; }

# TLS listeners: trusted or refused exactly as their chains say.
expect "good chain on platform host" 200 "tovani" "$B/"
expect "good chain on 127.0.0.2" 200 "tovani" https://127.0.0.2:47443/
for bad in 127.0.0.3:47443 127.0.0.4:47443 127.0.0.5:47443 127.0.0.1:47444 127.0.0.2:47445; do
  if curl_dev -o /dev/null "https://$bad/" 2>/dev/null; then fail "$bad refused by the dev root"; else
    pass "$bad refused by the dev root"; fi
done
expect "rogue trusted by its own root" 200 "tovani" --cacert "$certs/rogue/root.pem" https://127.0.0.1:47444/

# Documents.
expect "version" 200 '"version":"4.9.0"' "$B/api/app/version"
expect "pins without secret" 403 '"forbidden"' "$B/api/app/pins"
expect "pins with secret" 200 "sha256/$(sed -n 's/.*"good": {"leaf": "\([^"]*\)".*/\1/p' "$certs/pins.json")" \
  -H 'X-Secret: dev-pins-secret-7f3a91' "$B/api/app/pins"
expect "pins replaced at run time" 200 '[{"scope":5}]' -X PUT --data-binary '[{"scope":5}]' "$B/control/pins"
expect "replaced pins served" 200 '[{"scope":5}]' -H 'X-Secret: dev-pins-secret-7f3a91' "$B/api/app/pins"
expect "pins restored" 200 '"scope":"127.0.0.2"' -X DELETE "$B/control/pins"
expect "page script 7" 200 "variant 7 */" "$B/api/player/page-script?variant=7"
expect "page script without number" 400 "" "$B/api/player/page-script?variant=x"

# Content data catalogue.
content video-1 200 '"url":"https://127.0.0.1:47443/media/sample.mp4"'
content pdf-1 200 'مرحبا'
content youtube-1 200 '"script_variant":2'
content flat-1 200 '{"type":"pdf"'
content error-message 404 'غير متاح'
content error-html 500 '<html>'
content bad-json 200 'this is not json'
content nothing-here 404 'content not found'
expect "content last id label wins" 200 '"type":"pdf"' -X PUT -H 'X-Client: tovani-desktop' \
  --data-binary 'pass=a&id=b=c&id=pdf-1' "$B/api/player/content-data"
expect "content empty pass" 400 'missing pass' -X PUT -H 'X-Client: tovani-desktop' --data-binary 'pass=&id=video-1' "$B/api/player/content-data"
expect "content without client header" 403 'client not allowed' -X PUT --data-binary 'pass=p&id=video-1' "$B/api/player/content-data"
expect "content with POST" 405 'method not allowed' -X POST -H 'X-Client: tovani-desktop' --data-binary 'pass=p&id=video-1' "$B/api/player/content-data"

# Helpers for transport tests.
expect "canned as a service base" 200 '{"version":5}' "$B/canned/200/eyJ2ZXJzaW9uIjo1fQ/api/app/version"
expect "delayed, publishing a required update" 200 '"is_required":"1"' "$B/delay/200/update-required/api/app/version"
expect "delay bounded" 400 '' "$B/delay/60001/api/app/version"
expect "canned bad base64" 400 'bad canned body' "$B/canned/200/a*b/x"
expect "canned bad status" 400 'bad canned status' "$B/canned/42/e30/x"
expect "nested as a service base" 500 '[[[[[' -X PUT --data-binary 'x' "$B/nested/500/5/api/player/content-data"
expect "nested bad count" 400 'bad nested count' "$B/nested/200/0/x"
expect "echo keeps body bytes" 200 '"body_base64":"cGFzcz0mPcOp"' -X PUT --data-binary 'pass=&=é' "$H/echo"
expect "echo lower-cases headers" 200 '"x-custom":"Va"' -H 'X-Custom: Va' "$H/echo"
expect "redirect not followed" 302 'redirecting' "$B/redirect"
expect "status 404" 404 'not here' "$B/status/404"
expect "slow bounded" 400 '' "$B/slow?ms=999999"
expect "slow 200 ms" 200 'slept 200' "$B/slow?ms=200"

# Media with ranges.
expect "media pdf" 200 '%PDF-1.4' "$B/media/sample.pdf"
expect "media range" 206 'PDF' -r 1-3 "$B/media/sample.pdf"
expect "media range past the end" 416 '' -r 999999- "$B/media/sample.pdf"
expect "media missing" 404 '' "$B/media/missing.mp4"
expect "media escape attempt" 404 '' "$B/media/..%2F..%2Fconfig%2Fdev%2Fservice.key"
expect "start page" 200 '/media/page.html' "$B/start"

# Abuse: clean 4xx answers and the service stays up.
head -c 9000000 /dev/zero >"$state/big"
expect "huge body" 413 '' -X PUT --data-binary @"$state/big" -H 'Content-Type: application/octet-stream' "$B/echo"
expect "huge chunked body" 413 '' -X PUT -H 'Transfer-Encoding: chunked' --data-binary @"$state/big" \
  -H 'Content-Type: application/octet-stream' "$B/echo"
expect "unknown method" 400 '' -X BREW "$B/"
expect "wrong method" 405 '' -X DELETE "$B/api/app/version"
raw() {
  exec 3<>/dev/tcp/127.0.0.1/47480
  printf '%b' "$1" >&3
  timeout 5 head -c 200 <&3 || true
  exec 3<&-
}
[[ $(raw 'GARBAGE\r\n\r\n') == *" 400 "* ]] && pass "garbage request line" || fail "garbage request line"
printf 'not tls at all\r\n\r\n' | timeout 5 openssl s_client -connect 127.0.0.1:47443 -quiet >/dev/null 2>&1 || true
kill -0 "$(cat "$state/devservice.pid")" && pass "service survived" || fail "service survived"

"$root/scripts/devservice" stop "$bin" "$state" >/dev/null
"$root/scripts/devservice" stop "$bin" "$state" >/dev/null && pass "stop twice" || fail "stop twice"

echo "$failures failure(s)"
[ "$failures" -eq 0 ]
