#!/usr/bin/env bash
# Runs the main job end to end on this machine: a firmware update by the real
# `kestrovan` program against the boot-loader simulator, in a scratch system
# root, with the port-owner stand-in holding the port beforehand.
#
#   bash scripts/run-demo.sh [options]
#
#   --family a|b          link protocol family (default a: platform 7, "MSTAR2521"/16)
#   --platform8 64k|128k  family A on platform 8: the boot loader reports a version
#                         that selects the 64K or the 128K firmware file
#   --slow-line           family B on "V1" hardware: the port runs at 19200 baud
#   --key                 after the update, also send and verify a key file (a unit of
#                         platform 8; implies --platform8 128k unless it is given)
#   --fault KIND          a faulty boot loader or unit, to see each failure text:
#                           silence   the boot loader falls silent after 5 frames
#                           refusals  it refuses block 2 again and again
#                           noise     noise, split and corrupted answers (still succeeds)
#                           no-file   no firmware file next to the program
#                           busy      another program holds the serial port
#   --size BYTES          firmware image size (default 16384)
#   --trace               print the frame trace (KESTROVAN_TRACE=1) after the summary
#   --keep                keep the scratch system root (its path is printed)
#   --timeout SECONDS     give up after this long (default 120)
#
# The program shows its window on your display when there is one, otherwise it
# runs offscreen. The summary names the screenshot of the final window.
# Exits 0 when the run ended as expected for the chosen options.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)

family=a
platform8=""
slow_line=0
key=0
fault=""
size=16384
trace=0
keep=0
timeout_s=120
while [ $# -gt 0 ]; do
    case "$1" in
        --family) family=$2; shift 2 ;;
        --platform8) platform8=$2; family=a; shift 2 ;;
        --slow-line) slow_line=1; family=b; shift ;;
        --key) key=1; shift ;;
        --fault) fault=$2; shift 2 ;;
        --size) size=$2; shift 2 ;;
        --trace) trace=1; shift ;;
        --keep) keep=1; shift ;;
        --timeout) timeout_s=$2; shift 2 ;;
        -h|--help) sed -n '2,30p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "run-demo: unknown option $1 (see --help)" >&2; exit 2 ;;
    esac
done
case "$family" in a|b) ;; *) echo "run-demo: --family is a or b" >&2; exit 2 ;; esac
case "$platform8" in ""|64k|128k) ;; *) echo "run-demo: --platform8 is 64k or 128k" >&2; exit 2 ;; esac
case "$fault" in ""|silence|refusals|noise|no-file|busy) ;;
    *) echo "run-demo: unknown --fault $fault" >&2; exit 2 ;; esac
if [ "$key" -eq 1 ]; then
    if [ "$family" != a ]; then
        echo "run-demo: the key update needs a family A unit (only it reads the key back)" >&2
        exit 2
    fi
    # The key update is offered on platforms 8, 9 and 12 only.
    [ -n "$platform8" ] || platform8=128k
fi

source scripts/lib/packages.sh
ensure_packages "${KESTROVAN_BUILD_PACKAGES[@]}"

echo "== building"
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" --target kestrovan bootloader_sim port_owner
bin=$repo/build/default
kestrovan_bin=$bin/app/kestrovan
sim_bin=$bin/tools/bootloader_sim/bootloader_sim
owner_bin=$bin/tools/port_owner/port_owner

root=$(mktemp -d "${TMPDIR:-/tmp}/kestrovan-demo-XXXXXX")
pids=()
cleanup() {
    local pid
    for pid in "${pids[@]}"; do
        kill -TERM "$pid" 2>/dev/null || true
    done
    for pid in "${pids[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    if [ "$keep" -eq 0 ]; then
        rm -rf "$root"
    else
        echo "scratch system root kept: $root"
    fi
}
trap cleanup EXIT

# Waits until a file exists (the programs write their ready files).
wait_for_file() {
    local file=$1 tries=0
    while [ ! -s "$file" ]; do
        tries=$((tries + 1))
        if [ "$tries" -gt 200 ]; then
            echo "run-demo: $file did not appear" >&2
            return 1
        fi
        sleep 0.05
    done
}

# --- the unit: registry, program directory, firmware -------------------------
app_dir=$root/SDMMC/Kestrovan
mkdir -p "$root/etc" "$app_dir"
if [ "$family" = a ]; then
    cpu=MSTAR2521; project=16; platform=7
    [ -n "$platform8" ] && { project=19; platform=8; }
else
    cpu=S5P6450; project=18; platform=2
fi
{
    printf 'Windows Registry Editor Version 5.00\r\n\r\n'
    printf '[HKEY_LOCAL_MACHINE\\SoftWare\\Tovren\\Os]\r\n'
    printf '"CPU_TYPE"="%s"\r\n' "$cpu"
    printf '"PROJECTTYPE"=dword:%08x\r\n' "$project"
    [ "$slow_line" -eq 1 ] && printf '"HW_VERSION"="V1.0"\r\n'
} > "$root/etc/registry.reg"
cp "$kestrovan_bin" "$app_dir/kestrovan"

image=$root/firmware.bin
head -c "$size" /dev/urandom > "$image"
firmware_name=demo.s19
version_args=()
if [ -n "$platform8" ]; then
    if [ "$platform8" = 128k ]; then
        firmware_name=HX900_128K_demo.s19; other_name=HX900_64K_demo.s19
        version_args=(--version HX90020130105)
    else
        firmware_name=HX900_64K_demo.s19; other_name=HX900_128K_demo.s19
        version_args=(--version HX90020121231)
    fi
fi
if [ "$family" = a ]; then
    # The image at 0xA000 and the platform tag the loader checks at 0x9FE0.
    srec_cat "$image" -binary -offset 0xA000 \
        -generate 0x9FE0 0x9FE8 -repeat-string STM8QD5C \
        -o "$root/firmware.s19" -motorola -address-length=3 -line-length=80 \
        -execution-start-address=0xA000
else
    srec_cat "$image" -binary -offset 0x8000 -header "KESTROVAN DEMO" \
        -o "$root/firmware.s19" -motorola -address-length=2 -line-length=80 \
        -execution-start-address=0x8000
fi
if [ "$fault" != no-file ]; then
    cp "$root/firmware.s19" "$app_dir/$firmware_name"
    # The file of the other size class, so that the choice can be seen.
    if [ -n "$platform8" ]; then
        head -c 1024 /dev/urandom | srec_cat - -binary -offset 0xA000 \
            -generate 0x9FE0 0x9FE8 -repeat-string STM8QD5C \
            -o "$app_dir/$other_name" -motorola -address-length=3 \
            -execution-start-address=0xA000
    fi
fi
if [ "$key" -eq 1 ]; then
    head -c 1160 /dev/urandom > "$app_dir/unit.key"
fi

# --- the boot loader ----------------------------------------------------------
transfers=1
[ "$key" -eq 1 ] && transfers=2
sim_args=(--family "$family" --link "$root/dev/ttyS3" --ready-file "$root/sim.ready"
          --image-out "$root/received.bin" --log "$root/bootloader.log"
          --transfers "$transfers" --time-limit-s "$timeout_s" "${version_args[@]}")
[ "$family" = b ] && sim_args+=(--lines-out "$root/received.lines")
case "$fault" in
    silence) sim_args+=(--silent-after 5) ;;
    refusals) sim_args+=(--refuse-block 2:1000) ;;
    noise) sim_args+=(--noise --split --corrupt-rate 0.03 --seed 7) ;;
esac
"$sim_bin" "${sim_args[@]}" 2> "$root/bootloader.err" &
pids+=($!)
wait_for_file "$root/sim.ready"

# --- the port owner (or a stranger holding the port) ------------------------
owner_dir=$root/tovren/\$QRV\$/App
mkdir -p "$owner_dir"
if [ "$fault" = busy ]; then
    # Not the port owner's path: it is asked nothing and never terminated.
    cp "$owner_bin" "$root/stranger"
    KESTROVAN_SYSROOT=$root "$root/stranger" --never-release --log "$root/stranger.log" \
        --ready-file "$root/owner.ready" &
else
    cp "$owner_bin" "$owner_dir/Halvix.exe"
    KESTROVAN_SYSROOT=$root "$owner_dir/Halvix.exe" --release-delay-ms 200 \
        --log "$root/port_owner.log" --ready-file "$root/owner.ready" &
fi
pids+=($!)
wait_for_file "$root/owner.ready"

# --- the program ----------------------------------------------------------------
screenshot=$root/final-window.png
mode=offscreen
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    mode="your display"
fi
echo "== running kestrovan (family $family, platform $platform, on $mode)"
started=$(date +%s.%N)
# Seconds on the monotonic clock, which the trace's milliseconds also count.
started_uptime=$(cut -d' ' -f1 /proc/uptime)
(
    export KESTROVAN_SYSROOT=$root
    export KESTROVAN_SCREENSHOT=$screenshot
    # The trace gives the time of the first data block; it changes nothing else.
    export KESTROVAN_TRACE=1
    [ "$key" -eq 1 ] && export KESTROVAN_AUTOMATE=key-update
    [ "$mode" = offscreen ] && export QT_QPA_PLATFORM=offscreen
    exec "$app_dir/kestrovan"
) 2> "$root/kestrovan.log" &
app_pid=$!
pids+=($app_pid)

# The window writes one debug line per engine event; the run is over at the
# first final event (and, with --key, at the key verdict).
final_pattern='CFirmwareUpdateDlg: event (2|3|4|5)\b'
[ "$key" -eq 1 ] && final_pattern='CKeyUpdateDlg: key event (1|3)\b'
deadline=$(( $(date +%s) + timeout_s ))
while ! grep -Eq "$final_pattern" "$root/kestrovan.log" 2>/dev/null; do
    if ! kill -0 "$app_pid" 2>/dev/null; then
        echo "run-demo: kestrovan ended early; its log:" >&2
        tail -20 "$root/kestrovan.log" >&2
        exit 1
    fi
    if [ "$(date +%s)" -gt "$deadline" ]; then
        echo "run-demo: no final event within $timeout_s s" >&2
        exit 1
    fi
    sleep 0.1
done
sleep 0.5  # the screenshot is taken once the final text is on screen
ended=$(date +%s.%N)
peak_kib=$(awk '/^VmHWM:/ { print $2 }' "/proc/$app_pid/status" 2>/dev/null || true)
kill -TERM "$app_pid"
app_status=0
wait "$app_pid" || app_status=$?

# --- the verdict --------------------------------------------------------------
final_code=$(grep -Eo 'CFirmwareUpdateDlg: event (2|3|4|5)\b' "$root/kestrovan.log" | tail -1 |
             grep -Eo '[0-9]+$')
final_text=$(grep -E 'CFirmwareUpdateDlg: text ' "$root/kestrovan.log" | tail -1 |
             sed 's/.*CFirmwareUpdateDlg: text //')
key_text=$(grep -E 'CKeyUpdateDlg: text ' "$root/kestrovan.log" | tail -1 |
           sed 's/.*CKeyUpdateDlg: text //' || true)
case "$fault" in
    ""|noise) expected=2 ;;
    silence|refusals) expected=3 ;;
    no-file) expected=4 ;;
    busy) expected=5 ;;
esac

image_ok="not compared"
if [ "$final_code" = 2 ]; then
    if [ "$family" = a ]; then
        expected_image=$image
    else
        expected_image=$root/expected.bin
        srec_cat "$root/firmware.s19" -motorola -offset -0x8000 -o "$expected_image" -binary
    fi
    if cmp -s "$expected_image" "$root/received.bin"; then
        image_ok="equal to the firmware file"
    else
        image_ok="DIFFERENT from the firmware file"
    fi
fi
baud=115200
[ "$slow_line" -eq 1 ] && baud=19200
if [ "$family" = a ]; then
    blocks=$(( (size + 127) / 128 ))
    unit="data blocks of 128 bytes"
else
    blocks=$(grep -c '^S' "$root/firmware.s19")
    unit="S-record lines"
fi
mkdir -p "$repo/build/demo"
saved=$repo/build/demo/final-window.png
if [ -s "$screenshot" ]; then
    cp "$screenshot" "$saved"
else
    saved="(none was taken)"
fi

echo
echo "== summary"
echo "platform:    code $platform (CPU_TYPE $cpu, PROJECTTYPE $project)"
echo "family:      $family"
echo "baud rate:   $baud"
echo "firmware:    $firmware_name, $size bytes, $blocks $unit"
awk -v a="$started" -v b="$ended" 'BEGIN { printf "time:        %.1f s\n", b - a }'
echo "result:      event ${final_code:-none}: ${final_text:-?}"
[ "$key" -eq 1 ] && echo "key update:  ${key_text:-?}"
echo "image:       $image_ok"
# The first data block: 'b' (family A) or 'Y' 0x02 (family B) behind the header.
first_block_ms=$(awk '/\[trace\] [0-9]+ ms -> mcu (21 23 41 4F .. .. 62|24 23 33 01 .. 59 02)/ {
                          print $2; exit }' "$root/kestrovan.log")
if [ -n "$first_block_ms" ]; then
    awk -v t="$first_block_ms" -v s="$started_uptime" \
        'BEGIN { printf "first block: %.2f s after the program was started\n", t / 1000 - s }'
fi
[ -n "$peak_kib" ] && echo "peak memory: $((peak_kib / 1024)) MiB resident (VmHWM of kestrovan)"
echo "screenshot:  $saved"
echo "logs:        kestrovan.log, bootloader.log, port_owner.log in the scratch root (--keep)"

if [ "$trace" -eq 1 ]; then
    echo
    echo "== frame trace"
    grep -F '[trace]' "$root/kestrovan.log" || true
fi

ok=1
[ "$final_code" = "$expected" ] || ok=0
[ "$app_status" -eq 0 ] || { echo "kestrovan exited with status $app_status"; ok=0; }
if [ "$expected" = 2 ] && [ "$image_ok" != "equal to the firmware file" ]; then ok=0; fi
if [ "$key" -eq 1 ] && [ "$key_text" != "Mcu Key update successfully!" ]; then ok=0; fi
if [ "$ok" -eq 1 ]; then
    echo "== the run ended as expected"
    exit 0
fi
echo "== the run did NOT end as expected (expected event $expected)"
exit 1
