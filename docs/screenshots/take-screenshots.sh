#!/usr/bin/env bash
# Takes the window screenshots of this folder: the real program under Xvfb
# (no window manager), updating a family A unit (platform 8) against the
# boot-loader simulator in a scratch system root, with the port-owner
# stand-in holding the port before and after.
#
#   bash docs/screenshots/take-screenshots.sh [build directory]
#
# Needs xvfb, xauth, imagemagick (import) and xdotool; the build directory
# (default build/default) must hold kestrovan, bootloader_sim and port_owner.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "${1:-$here/../../build/default}" && pwd)"

make_root() {
    local root=$1
    mkdir -p "$root/etc" "$root/dev" "$root/unit" "$root/tovren/\$QRV\$/App"
    printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SoftWare\\Tovren\\Os]\r\n"CPU_TYPE"="MSTAR2521"\r\n"PROJECTTYPE"=dword:00000013\r\n' \
        >"$root/etc/registry.reg"
    # The program and its files: the firmware and key files live next to it.
    cp "$build/app/kestrovan" "$root/unit/kestrovan"
    cp "$build/tools/port_owner/port_owner" "$root/tovren/\$QRV\$/App/Halvix.exe"
    python3 - "$root/unit" <<'PY'
import sys
def record(kind, address, data, width):
    body = bytes([width + len(data) + 1]) + address.to_bytes(width, "big") + data
    return "S%s%s%02X\r\n" % (kind, body.hex().upper(), (~sum(body)) & 0xFF)
lines = [record("0", 0, b"HX900", 2), record("1", 0x9FE0, b"\0\0\0STM8QD5C", 2)]
image = bytes((i * 7 + 3) & 0xFF for i in range(24 * 1024))
for offset in range(0, len(image), 32):
    lines.append(record("1", 0xA000 + offset, image[offset:offset + 32], 2))
lines.append(record("9", 0xA000, b"", 2))
open(sys.argv[1] + "/HX900_128K.s19", "w").write("".join(lines))
open(sys.argv[1] + "/unit.key", "wb").write(bytes(1032) + bytes(range(150)))
PY
}

# shoot <width> <height> <output> <seconds before the shot> [key]
shoot() {
    local width=$1 height=$2 output=$3 wait=$4 key=${5:-}
    local root
    root="$(mktemp -d)"
    make_root "$root"
    export KESTROVAN_SYSROOT="$root"
    "$build/tools/bootloader_sim/bootloader_sim" --link "$root/dev/ttyS3" --family a \
        --flash-write-ms 12 --ready-file "$root/sim.ready" --log "$root/sim.log" --time-limit-s 60 &
    local simulator=$!
    while [ ! -s "$root/sim.ready" ]; do sleep 0.1; done
    "$root/tovren/\$QRV\$/App/Halvix.exe" --log "$root/owner.log" --ready-file "$root/owner.ready" &
    local owner=$!
    while [ ! -s "$root/owner.ready" ]; do sleep 0.1; done

    xvfb-run -a -s "-screen 0 ${width}x${height}x24" bash -c '
        "$0" 2>"$1/kestrovan.log" &
        program=$!
        sleep "$2"
        if [ -n "$3" ]; then
            # The KeyUpdate button (template 102: 303, 181, 98 x 24 of 426 x 226),
            # then the key window'"'"'s Start button, then the verdict.
            xdotool mousemove $(( (303 + 49) * $4 / 426 )) $(( (181 + 12) * $5 / 226 )) click 1
            sleep 1.5
            window=$(xdotool search --name "^KeyUpdate$" | head -1)
            eval "$(xdotool getwindowgeometry --shell "$window")"
            xdotool mousemove $(( X + (175 + 37) * WIDTH / 357 )) $(( Y + (141 + 12) * HEIGHT / 196 )) click 1
            sleep 2
        fi
        import -window root "$6"
        kill -TERM "$program"
        wait "$program"
    ' "$root/unit/kestrovan" "$root" "$wait" "$key" "$width" "$height" "$output"
    kill -TERM "$owner" "$simulator" 2>/dev/null || true
    wait "$owner" "$simulator" 2>/dev/null || true
    echo "== $output"
    grep -E "event [0-9]+ \(|successfully|Sorry" "$root/kestrovan.log" | tail -3 || true
    rm -rf "$root"
}

shoot 800 480 "$here/main-800x480.png" 8
shoot 1920 1080 "$here/main-1920x1080.png" 3
shoot 800 480 "$here/key-window.png" 8 key
