# Cases for holdfast-script --check, sourced by bench/reliability.sh (which provides $bin, $tmp,
# $cap_mb, $limit and the rows): input that once blocked the checker, made it crawl or forged its output.
#   - music.ogg is a FIFO; music.ogg is 1 s of music padded (sparse) to 4 GB;
#   - 1 000 000 timed signals in rising order, most of them after the demo's end;
#   - 200 000 keys outside their variable's values; 100 000 missing pictures;
#   - a data file whose name holds a newline and a terminal escape;
#   - SIGINT to a running check.
# The outcome is the check's exit status, its summary line and its first finding (or, for the
# signal, how long the check took to end).

# checker_case CASE LIMIT DIR [ARGS...]: holdfast-script --check DIR, capped and timed like run().
checker_case() {
    local case=$1 lim=$2 dir=$3
    shift 3
    local out="$tmp/check-out" stats="$tmp/stats" rc=0
    (ulimit -v $((cap_mb * 1024)) &&
        exec /usr/bin/time -f "%e %M" -o "$stats" timeout -k 5 "$limit" "$bin/holdfast-script" --check "$dir" "$@") \
        > "$out" 2> /dev/null || rc=$?
    local seconds kb
    read -r seconds kb < <(tail -1 "$stats" 2> /dev/null || echo "? 0")
    local summary first
    summary=$(tail -1 "$out" 2> /dev/null || true)
    first=$(head -1 "$out" 2> /dev/null | cut -c1-110 || true)
    local outcome
    case $rc in
    0 | 1) outcome="exit $rc, $summary: $first" ;;
    124 | 137) outcome="timed out after ${limit} s" ;;
    *) outcome="**crashed (exit $rc)**: $first"; crashes=$((crashes + 1)) ;;
    esac
    checker_row "$case" "$outcome" "$seconds" "$kb" "$lim"
}

# checker_row CASE OUTCOME SECONDS KB LIMIT
checker_row() {
    runs=$((runs + 1))
    rows+=("| checker | $1 | holdfast-script | $(printf '%s' "$2" | sed 's/|/\\|/g') | $3 | $(($4 / 1024)) | $5 |")
    echo "checker / $1: $2, $3 s" >&2
}

# A demo folder DIR whose script is the header and the body lines of FILE.
checker_demo() {
    local dir=$1 body=$2
    mkdir -p "$dir/data/scripts"
    { printf '__HEADER__\nDEMO_END 286000\nDEMO_LENGTH 286000\n'; cat "$body"; } > "$dir/data/scripts/demo.scr"
}

c="$tmp/checker"
mkdir -p "$c"

printf 'INSERT_EFFECT Clear\n__TIMELINE__\n0 BEGIN Clear\n' > "$c/clear.txt"
checker_demo "$c/fifo" "$c/clear.txt"
mkfifo "$c/fifo/music.ogg"
checker_case "music.ogg is a FIFO" "regular files only" "$c/fifo"

checker_demo "$c/sparse" "$c/clear.txt"
"$bin/holdfast-makemusic" "$c/sparse/music.ogg" --seconds 1 > /dev/null 2>&1
truncate -s 4G "$c/sparse/music.ogg"
checker_case "music.ogg is 1 s of music in a 4 GB sparse file" "nothing past its last page read" "$c/sparse"

{
    printf 'DEFINE LEVEL 5\nINSERT_EFFECT Noise\n__TIMELINE__\n0 BEGIN Noise\n'
    awk 'BEGIN { for (i = 0; i < 1000000; i++) printf "%d TRIGGER Noise LEVEL 1\n", i * 2 }'
} > "$c/signals.txt"
checker_demo "$c/signals" "$c/signals.txt"
checker_case "1 000 000 timed signals in rising order" "100 listed a kind" "$c/signals"

{
    printf 'INSERT_EFFECT Noise\n__TIMELINE__\n0 BEGIN Noise\n'
    awk 'BEGIN { for (i = 0; i < 200000; i++) printf "%d SIGNAL Noise Alpha 8\n", i }'
} > "$c/keys.txt"
checker_demo "$c/keys" "$c/keys.txt"
checker_case "200 000 keys outside their values" "100 listed a kind" "$c/keys"

{
    printf 'DEFINE PICTURE 26\nINSERT_EFFECT Image1\n__TIMELINE__\n0 BEGIN Image1\n'
    awk 'BEGIN { for (i = 0; i < 100000; i++) printf "%d TRIGGER Image1 PICTURE \"data/images/m%d.png\"\n", i, i }'
} > "$c/pictures.txt"
checker_demo "$c/pictures" "$c/pictures.txt"
checker_case "100 000 missing pictures" "100 listed a kind" "$c/pictures"

checker_demo "$c/names" "$c/clear.txt"
mkdir -p "$c/names/data/images"
: > "$c/names/data/images/$(printf 'a\nb\033[2J.png')"
checker_case "a file name with a newline and an escape" "escaped" "$c/names"

# SIGINT once the check runs (its GL driver is loaded): how long it takes to end.
env --default-signal=INT "$bin/holdfast-script" --check "$c/signals" > /dev/null 2>&1 &
pid=$!
for i in $(seq 1500); do
    grep -q -e _dri.so -e libgallium "/proc/$pid/maps" 2> /dev/null && break
    sleep 0.02
done
sleep 0.5
start=$(date +%s%N)
kill -INT "$pid" 2> /dev/null || true
rc=0
wait "$pid" || rc=$?
took=$((($(date +%s%N) - start) / 1000000))
checker_row "SIGINT during the check of 1 000 000 signals" "exit $rc, ended $took ms after SIGINT" "-" 0 "ends at once, exit 130"
