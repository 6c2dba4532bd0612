#!/usr/bin/env bash
# Renders the README's screenshots with the offscreen platform: the start page and the
# test page in two themes each, and two gemtext pages served by a local Gemini server
# (the second in many scripts, shown as Unicode text).
# Needs a build in build/, python3 (for the server) and, for the second page, the
# fonts-noto-cjk and fonts-noto-color-emoji packages.
set -euo pipefail
cd "$(dirname "$0")/.."
out=docs
work=$(mktemp -d)
trap 'kill "${server:-}" 2>/dev/null || true; rm -rf "$work"' EXIT

shot() {  # shot FILE THEME ARGS...
    local file=$1 theme=$2
    shift 2
    local home="$work/home-$RANDOM"
    mkdir -p "$home/prefs"
    printf 'Theme=%s\n' "$theme" > "$home/prefs/Farlander.prefs"
    rm -f "$file"
    FARLANDER_HOME=$home QT_QPA_PLATFORM=offscreen FARLANDER_SCREENSHOT=$file build/farlander "$@" 2>/dev/null &
    local pid=$!
    for _ in $(seq 1 100); do [[ -f $file ]] && break; sleep 0.1; done
    kill -INT "$pid"
    wait "$pid" || true
}

shot "$out/home-default.png" default
shot "$out/home-uchu.png" uchu
shot "$out/test-default.png" default URL=TEST
shot "$out/test-morkbla.png" morkbla URL=TEST

openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 -subj /CN=localhost \
    -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
cat > "$work/page.gmi" <<'GMI'
# Notes from a small capsule

## Why the small internet

Gemini pages are plain text with a few line types: headings, links, lists, quotes and preformatted blocks. A page loads in one request, so it is on the screen before you have let go of the mouse button.

> The medium is the message, and this medium is quiet.

* no scripts, no trackers
* one request per page
* your own client certificate when a capsule needs to know you

=> gemini://geminiprotocol.net/ The Gemini protocol
=> spartan://mozz.us/ A Spartan server
=> gopher://gopher.floodgap.com/ Floodgap's Gopher
=> https://example.org/ A web page (opens in the web browser)

```
   ______
  / ____/__  ____ ___  (_)___  (_)
 / / __/ _ \/ __ `__ \/ / __ \/ /
/ /_/ /  __/ / / / / / / / / / /
\____/\___/_/ /_/ /_/_/_/ /_/_/
```
GMI
cat > "$work/scripts.gmi" <<'GMI'
# Ἐν ἀρχῇ: one page, many scripts

Greek: Καλημέρα κόσμε, ἡ γλῶσσα ἡ ἑλληνική.
Russian: Съешь же ещё этих мягких французских булок, да выпей чаю.
Hebrew: שלום עולם, ברוכים הבאים לאינטרנט הקטן.
Arabic: مرحبا بالعالم، أهلا بكم في الإنترنت الصغير.
Chinese: 小互联网上的宝石协议，简单而安静。
Japanese: 小さなインターネットへようこそ。ジェミニは静かです。
Korean: 작은 인터넷에 오신 것을 환영합니다.
Emoji: 👍🏽 🇩🇪 👨‍👩‍👧 ❤️ — each one two columns, never cut in two.
Accents: é and é, ñ, Å, ṩ — composed or with combining marks.

> 天地玄黄，宇宙洪荒。日月盈昃，辰宿列张。寒来暑往，秋收冬藏。闰余成岁，律吕调阳。云腾致雨，露结为霜。

=> gemini://example.org/caf%C3%A9 Café, a link whose address has an accent
=> gemini://example.org/日本語 日本語のリンク

```
┌──────┬──────┐
│ 漢字 │ kana │
└──────┴──────┘
```
GMI
python3 - "$work" > "$work/port" <<'PY' &
import socket, ssl, sys
work = sys.argv[1]
ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
ctx.load_cert_chain(work + "/cert.pem", work + "/key.pem")
s = socket.socket(); s.bind(("127.0.0.1", 0)); s.listen(5)
print(s.getsockname()[1], flush=True)
pages = {name: open(work + "/" + name, "rb").read() for name in ("page.gmi", "scripts.gmi")}
while True:
    c, _ = s.accept()
    try:
        t = ctx.wrap_socket(c, server_side=True)
        request = t.recv(1100)
        page = pages["scripts.gmi" if b"/scripts" in request else "page.gmi"]
        t.sendall(b"20 text/gemini; charset=utf-8\r\n" + page)
        t.close()
    except Exception:
        c.close()
PY
server=$!
for _ in $(seq 1 50); do [[ -s $work/port ]] && break; sleep 0.1; done
shot "$out/real-page.png" default "URL=gemini://127.0.0.1:$(cat "$work/port")/notes.gmi"
shot "$out/unicode-page.png" default "URL=gemini://127.0.0.1:$(cat "$work/port")/scripts.gmi"
echo "screenshots written to $out/"
