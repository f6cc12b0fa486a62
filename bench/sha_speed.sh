#!/usr/bin/env bash
# Compares every SHA path of korvane with `openssl speed` on the same machine,
# one stream over a cache-resident 64 KiB buffer, and counts instructions per
# byte of each path under callgrind.
#
#   bench/sha_speed.sh [BENCH_SHA_BINARY] [RUNS]
#
# Each run measures openssl and korvane back to back for each algorithm, so
# the medians share the machine's load. Both sides divide by CPU time (openssl
# speed's default, and Google Benchmark's bytes_per_second), which keeps the
# figures comparable on a machine shared with other work.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
bench=$(realpath "${1:-$here/build/bench/bin/bench_sha}")
runs=${2:-5}
seconds=${KORVANE_SHA_SECONDS:-1}  # whole seconds: openssl speed takes no fractions

command -v openssl >/dev/null || { echo "missing: openssl" >&2; exit 1; }
[ -x "$bench" ] || { echo "no bench_sha at $bench (cmake --preset bench)" >&2; exit 1; }

declare -A samples
algorithms=(sha1 sha256 sha512)
for run in $(seq "$runs"); do
    for alg in "${algorithms[@]}"; do
        # "sha256  1444439.92k": thousands of bytes per second for 65536-byte blocks.
        ossl=$(openssl speed -seconds "$seconds" -bytes 65536 "$alg" 2>/dev/null |
               awk -v a="$alg" '$1 == a { v = $NF; sub(/k$/, "", v); printf "%.1f", v / 1000 }')
        samples[$alg/openssl]+="$ossl "
        while IFS=, read -r name bps; do
            samples[$alg/$name]+="$(awk -v b="$bps" 'BEGIN { printf "%.1f", b / 1e6 }') "
        done < <("$bench" --benchmark_filter="sha_path/${alg}_.*/65536\$" \
                    --benchmark_min_time="$seconds" --benchmark_format=csv 2>/dev/null |
                 awk -F, 'NR > 1 && $6 != "" { n = $1; gsub(/"/, "", n); split(n, p, "/");
                          sub(/^[a-z0-9]+_/, "", p[2]); print p[2] "," $6 }')
    done
    echo "run $run of $runs done" >&2
done

median() { tr ' ' '\n' | grep -v '^$' | sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }

printf '\nMB/s (10^6 bytes per CPU second), median of %d runs, 64 KiB buffer, one stream\n' "$runs"
printf '%-8s %-10s %10s %10s\n' algorithm path MB/s 'vs openssl'
for alg in "${algorithms[@]}"; do
    base=$(echo "${samples[$alg/openssl]}" | median)
    printf '%-8s %-10s %10s %10s\n' "$alg" openssl "$base" 1.00
    for key in "${!samples[@]}"; do
        [[ $key == "$alg/"* && $key != "$alg/openssl" ]] || continue
        m=$(echo "${samples[$key]}" | median)
        printf '%-8s %-10s %10s %10s\n' "$alg" "${key#*/}" "$m" \
            "$(awk -v a="$m" -v b="$base" 'BEGIN { printf "%.2f", a / b }')"
    done
done

# Instructions in the largest loop of a block function, per byte it consumes:
# for the paths valgrind cannot run (it emulates neither the SHA extensions
# nor AVX-512), the static count of the hot loop is the figure.
static_per_byte() {
    local symbol bytes=$2
    symbol=$(nm "$bench" | awk -v f="$1" '$3 ~ f { print $3; exit }')
    [ -n "$symbol" ] || return 1
    objdump -d --no-show-raw-insn --disassemble="$symbol" "$bench" |
        awk -v bytes="$bytes" '
            function hex(s,  v, i) { v = 0; for (i = 1; i <= length(s); i++)
                                         v = v * 16 + index("0123456789abcdef", substr(s, i, 1)) - 1;
                                     return v }
            /^ +[0-9a-f]+:/ { addr = hex(substr($1, 1, length($1) - 1));
                              n++; at[n] = addr;
                              if ($2 ~ /^j/ && $3 ~ /^[0-9a-f]+$/) {
                                  target = hex($3);
                                  if (target < addr) {
                                      count = 0;
                                      for (i = 1; i <= n; i++) if (at[i] >= target) count++;
                                      if (count > best) best = count;
                                  }
                              } }
            END { if (best) printf "%.2f", best / bytes; else exit 1 }'
}

if command -v valgrind >/dev/null; then
    # Two workloads per path; the difference cancels start-up and finishing.
    printf '\ninstructions per byte (callgrind, 64 KiB updates, 8 vs 24 buffers;\n'
    printf 'static: instructions of the block loop over the bytes it consumes)\n'
    out=$(mktemp -d)
    trap 'rm -rf "$out"' EXIT
    irs() {
        valgrind --tool=callgrind --callgrind-out-file="$out/cg" "$bench" --work="$1:$2:$3" \
            >/dev/null 2>"$out/log" || return 1
        awk '/^summary:/ { print $2 }' "$out/cg"
    }
    for alg in "${algorithms[@]}"; do
        for p in portable shani avx2 avx512; do
            if small=$(irs "$alg" "$p" 8) && large=$(irs "$alg" "$p" 24); then
                printf '%-8s %-10s %8s  callgrind\n' "$alg" "$p" \
                    "$(awk -v s="$small" -v l="$large" 'BEGIN { printf "%.2f", (l - s) / (16 * 65536) }')"
            elif "$bench" --work="$alg:$p:1" >/dev/null 2>&1; then
                case $alg in sha512) bytes=256 ;; *) bytes=64 ;; esac
                printf '%-8s %-10s %8s  static\n' "$alg" "$p" \
                    "$(static_per_byte "${alg}_blocks_${p}" "$bytes" || echo '?')"
            fi
        done
    done
fi
