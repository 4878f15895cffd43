# Sourced by the recipe tests: docs/cluster.md's recipes as a user copies them, a folder of stereo
# pairs to run them on, and the checks every recipe's result must pass.

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

skip() {
    echo "SKIP: $*" >&2
    exit 77
}

# The first code block after the line of document $1 that starts with $2, as it stands.
doc_block_after() {
    local doc=$1 heading=$2
    awk -v heading="$heading" '
        index($0, heading) == 1 { found = 1; next }
        found && /^```/ { if (inside) exit; inside = 1; next }
        inside { print }' "$doc"
}

# The document's jq line that totals a batch's reports.
doc_totals_command() {
    grep -m1 "^jq -s " "$1"
}

# $2 pairs NAME_L.jpg / NAME_R.jpg in folder $1, drawn by ImageMagick: large enough that a
# pair takes a noticeable moment, so that a cancel finds work under way.
make_stereo_pairs() {
    local folder=$1 count=$2 i
    mkdir -p "$folder"
    convert -size 1600x1200 plasma:fractal -seed 7 -quality 90 "$folder/one_L.jpg"
    convert "$folder/one_L.jpg" -roll +12+0 -quality 90 "$folder/one_R.jpg"
    for i in $(seq -w 1 "$count"); do
        cp "$folder/one_L.jpg" "$folder/pair$i"_L.jpg
        cp "$folder/one_R.jpg" "$folder/pair$i"_R.jpg
    done
    rm "$folder/one_L.jpg" "$folder/one_R.jpg"
}

# Every pair of $2 written once as a whole BMP in $3, nothing else there, and the reports in
# $1/reports adding up by the document's own jq line ($4).
check_batch_done() {
    local work=$1 input=$2 output=$3 doc=$4
    local pairs outputs totals
    pairs=$(find "$input" -name '*_L.jpg' | wc -l)
    outputs=$(find "$output" -type f | wc -l)
    [ "$outputs" -eq "$pairs" ] || fail "$outputs files in $output for $pairs pairs: $(ls -A "$output" | head)"
    find "$output" -type f ! -name 'pair*.bmp' | grep . && fail "files other than outputs in $output"
    for file in "$output"/*.bmp; do
        [ "$(identify -format '%wx%h' "$file")" = 1600x1200 ] || fail "$file is not a whole picture"
    done
    totals=$(cd "$work" && eval "$(doc_totals_command "$doc")" | jq -c .) ||
        fail "the jq line of $(basename "$doc") failed"
    echo "totals: $totals"
    [ "$totals" = "{\"pairs_in_folder\":$pairs,\"done\":$pairs,\"failed\":0,\"written\":$pairs}" ] ||
        fail "the reports do not add up: $totals"
    # Each shard's report ends with a summary of a run that finished.
    for report in "$work"/reports/*.jsonl; do
        tail -n 1 "$report" | grep -q '^{"type":"summary".*"interrupted":false' ||
            fail "$report does not end with the summary of a finished run"
    done
}
