#!/usr/bin/env python3
"""Turns Google Benchmark JSON from rycert_bench into a Markdown report.

Benchmarks are paired by name: BM_<what>/<side>/<args...>, where <side> is
"ours" for this library and anything else (e.g. "openssl") for a peer.
Entries that share <what> and <args> form one row per peer. The ratio is
peer time / our time, so a figure above 1 means we are faster. Times are
CPU time per iteration; throughput comes from the benchmark's
bytes_per_second counter where it sets one (MB = 10^6 bytes).
"""
import argparse
import datetime
import json
import sys

OURS = "ours"
TO_NS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}

# Ratios the project aims at (peer time / our time), by (what, args, peer).
GOALS = {
    ("BM_CertDecodeAll", "", "mbedtls"): (1.0, "decode and read every field of a system CA "
                                              "certificate at least as fast as Mbed TLS"),
    ("BM_CertEncodeLeaf", "", "openssl"): (4.0, "build and encode a leaf certificate (signature "
                                               "excluded) at least four times as fast as OpenSSL"),
    ("BM_TokenSign", "2048/1", "openssl"): (1 / 1.1, "token signature, 2048-bit DER key, SHA-1, "
                                                     "within 1.1 times libcrypto's"),
    ("BM_TokenSign", "2048/256", "openssl"): (1 / 1.1, "token signature, 2048-bit DER key, "
                                                       "SHA-256, within 1.1 times libcrypto's"),
    ("BM_TokenVerify", "2048/1", "openssl"): (1 / 1.5, "token verification, 2048-bit DER key, "
                                                       "SHA-1, within 1.5 times libcrypto's"),
    ("BM_TokenVerify", "2048/256", "openssl"): (1 / 1.5, "token verification, 2048-bit DER "
                                                         "key, SHA-256, within 1.5 times "
                                                         "libcrypto's"),
}

# CRL decoding and the entry walk: per-entry time, scaling and memory.
CRL_WALK = "BM_CrlDecodeWalk"
CRL_NS_PER_ENTRY = 100.0   # at every size
CRL_SCALING = 1.5          # time per entry at the largest size / at the smallest
CRL_MEMORY = 2.0           # heap held above the input / DER size

def cpu_model():
    try:
        with open("/proc/cpuinfo", encoding="utf-8") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return "unknown"


def fmt_time(ns):
    for unit, scale in (("s", 1e9), ("ms", 1e6), ("µs", 1e3)):
        if ns >= scale:
            return f"{ns / scale:.3g} {unit}"
    return f"{ns:.3g} ns"


def fmt_rate(bps):
    return "" if bps is None else f"{bps / 1e6:,.0f}"


def split_name(name):
    """(what, side, args) for BM_<what>/<side>/<args>; None when unpaired."""
    parts = name.split("/")
    if len(parts) < 2:
        return None
    return parts[0], parts[1], "/".join(parts[2:])


def load(path):
    with open(path, encoding="utf-8") as f:
        data = json.load(f)
    runs = data.get("benchmarks", [])
    # With repetitions, report the median; otherwise the single run.
    medians = [b for b in runs if b.get("aggregate_name") == "median"]
    if medians:
        runs = medians
        for b in runs:
            b["name"] = b.get("run_name", b["name"])
    else:
        runs = [b for b in runs if b.get("run_type", "iteration") == "iteration"]
    return data.get("context", {}), runs


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("json")
    ap.add_argument("--nproc", default="?")
    args = ap.parse_args()
    context, runs = load(args.json)

    rows = {}  # (what, args) -> {side: run}
    order = []
    unpaired = []
    for b in runs:
        key = split_name(b["name"])
        if key is None:
            unpaired.append(b)
            continue
        what, side, rest = key
        if (what, rest) not in rows:
            rows[(what, rest)] = {}
            order.append((what, rest))
        rows[(what, rest)][side] = b

    out = sys.stdout
    out.write("# Benchmark results\n\n")
    out.write("Produced by `scripts/bench.sh` (Release build, one run of `rycert_bench`).\n\n")
    date = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC")
    out.write(f"- Date: {date}\n")
    out.write(f"- Machine: {cpu_model()}, nproc {args.nproc}")
    if context.get("mhz_per_cpu"):
        out.write(f", {context['mhz_per_cpu']} MHz")
    out.write("\n")
    if context.get("library_build_type"):
        out.write(f"- Google Benchmark library build: {context['library_build_type']}\n")
    out.write("\nTimes are CPU time per operation. Ratio = peer time / our time "
              "(above 1: we are faster). MB/s counts the binary bytes (the DER or the "
              "bytes behind the Base64 text), the same on both sides.\n\n")
    out.write("| Benchmark | Ours | Peer | Peer time | Ratio | Ours MB/s | Peer MB/s |\n")
    out.write("|---|---:|---|---:|---:|---:|---:|\n")
    for what, rest in order:
        sides = rows[(what, rest)]
        ours = sides.get(OURS)
        peers = [s for s in sides if s != OURS]
        label = what + (f"/{rest}" if rest else "")
        if ours is None or not peers:
            unpaired.extend(sides.values())
            continue
        ours_ns = ours["cpu_time"] * TO_NS[ours["time_unit"]]
        for peer in peers:
            p = sides[peer]
            peer_ns = p["cpu_time"] * TO_NS[p["time_unit"]]
            ratio = peer_ns / ours_ns if ours_ns > 0 else float("nan")
            out.write(f"| {label} | {fmt_time(ours_ns)} | {peer} | {fmt_time(peer_ns)} | "
                      f"{ratio:.2f} | {fmt_rate(ours.get('bytes_per_second'))} | "
                      f"{fmt_rate(p.get('bytes_per_second'))} |\n")
    goals = []
    for (what, rest, peer), (target, text) in GOALS.items():
        sides = rows.get((what, rest), {})
        if OURS in sides and peer in sides:
            ours_ns = sides[OURS]["cpu_time"] * TO_NS[sides[OURS]["time_unit"]]
            peer_ns = sides[peer]["cpu_time"] * TO_NS[sides[peer]["time_unit"]]
            ratio = peer_ns / ours_ns if ours_ns > 0 else float("nan")
            verdict = "met" if ratio >= target else "NOT met"
            label = what + (f"/{rest}" if rest else "")
            goals.append(f"- {label} against {peer}: ratio {ratio:.2f}, goal {target:.2f} "
                         f"({text}): {verdict}\n")
    if goals:
        out.write("\nGoals (measured in this run):\n\n")
        out.writelines(goals)
        out.write("\nBM_CertDecodeAll takes one certificate of the system CA bundle per "
                  "iteration, the bundle in turn, so its time is the time per certificate.\n")
    crl = sorted(((int(rest), sides) for (what, rest), sides in rows.items()
                  if what == CRL_WALK and rest.isdigit()), key=lambda x: x[0])
    if crl:
        out.write("\nCRL decoding plus the walk over every revoked entry (serial, date, "
                  "reason), per entry; memory is the heap the decoded context holds above "
                  "the input, over the DER size:\n\n")
        sides_seen = sorted({s for _, sides in crl for s in sides}, key=lambda s: s != OURS)
        out.write("| Entries | " + " | ".join(f"{s} ns/entry | {s} memory" for s in sides_seen)
                  + " |\n")
        out.write("|---:|" + "---:|---:|" * len(sides_seen) + "\n")
        per_entry = {}
        for n, sides in crl:
            cells = []
            for side in sides_seen:
                b = sides.get(side)
                if b is None:
                    cells += ["", ""]
                    continue
                ns = b["cpu_time"] * TO_NS[b["time_unit"]] / n
                per_entry.setdefault(side, []).append(ns)
                mem = b.get("mem_x_der")
                cells += [f"{ns:.1f}", f"{mem:.2f}x" if mem is not None else ""]
            out.write(f"| {n:,} | " + " | ".join(cells) + " |\n")
        ours = per_entry.get(OURS, [])
        if ours:
            worst = max(ours)
            scaling = ours[-1] / ours[0] if ours[0] > 0 else float("nan")
            mems = [sides[OURS].get("mem_x_der") for _, sides in crl if OURS in sides]
            mems = [m for m in mems if m is not None]
            out.write(f"\n- Per entry at most {CRL_NS_PER_ENTRY:g} ns at every size: worst "
                      f"{worst:.1f} ns: {'met' if worst <= CRL_NS_PER_ENTRY else 'NOT met'}\n")
            out.write(f"- Linear: per-entry time at {crl[-1][0]:,} over {crl[0][0]:,} at most "
                      f"{CRL_SCALING:g}: {scaling:.2f}: "
                      f"{'met' if scaling <= CRL_SCALING else 'NOT met'}\n")
            if mems:
                out.write(f"- Memory above the input at most {CRL_MEMORY:g} times the DER: "
                          f"{max(mems):.2f}: {'met' if max(mems) <= CRL_MEMORY else 'NOT met'}\n")
    if unpaired:
        out.write("\nWithout a pair:\n\n")
        for b in unpaired:
            ns = b["cpu_time"] * TO_NS[b["time_unit"]]
            out.write(f"- {b['name']}: {fmt_time(ns)}\n")


if __name__ == "__main__":
    main()
