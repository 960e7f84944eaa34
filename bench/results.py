"""Collects the host and Wine figures into build/bench/results.json and prints the table."""
import json
import sys

out = sys.argv[1]
figures = {}

with open(f"{out}/host.json") as f:
    host = json.load(f)
names = {
    "BM_MirrorUnchangedPass_128x100": "mirror_unchanged_pass_ns_128x100",
    "BM_MirrorUnchangedPass_500x200": "mirror_unchanged_pass_ns_500x200",
    "BM_Memcmp_128x100": "memcmp_ns_128x100",
    "BM_WriterFullRepaint_80x25": "writer_full_repaint_ns_80x25",
    "BM_WriterFullRepaintColor_80x25": "writer_full_repaint_color_ns_80x25",
}
for run in host["benchmarks"]:
    base = run.get("run_name", run["name"]).split("/")[0]
    if base in names and run.get("aggregate_name") == "median":
        figures[names[base]] = round(run["real_time"], 1)
        if "bytes" in run:
            figures[names[base].replace("_ns_", "_bytes_")] = run["bytes"]

with open(f"{out}/wine.txt") as f:
    for line in f:
        words = line.split()
        if len(words) == 2 and not words[0].endswith(("_getprocesstimes", "_start", "_end")):
            try:
                figures[words[0]] = float(words[1])
            except ValueError:
                pass


def ratio(top, bottom):
    if figures.get(top) and figures.get(bottom):
        return round(figures[top] / figures[bottom], 3)
    return None


figures["mirror_vs_memcmp_ratio"] = ratio("mirror_unchanged_pass_ns_128x100", "memcmp_ns_128x100")
figures["relay_vs_raw_ratio"] = ratio("raw_pipe_32_mb_per_s", "relay_mb_per_s")
figures["typing_cpu_fast_vs_default_ratio"] = ratio(
    "typing_cpu_percent_advanced_fast", "typing_cpu_percent_advanced"
)
figures["relay_utf8_vs_raw_ratio"] = ratio("raw_pipe_32_mb_per_s", "relay_utf8_mb_per_s")
figures["relay_vs_raw_ratio_recording"] = ratio(
    "raw_pipe_32_mb_per_s_recording", "relay_recording_mb_per_s"
)
figures.setdefault("logins_concurrent_ok", 0)
# The echo beyond its settle delay (InputSettleDelay 2), in console round trips.
if figures.get("echo_ms_advanced_modern_median") and figures.get("breakdown_getconsolemode_us"):
    figures["echo_round_trips_advanced_modern"] = round(
        (figures["echo_ms_advanced_modern_median"] - 2)
        / (figures["breakdown_getconsolemode_us"] / 1000), 2
    )

rows = [
    ("mirror_unchanged_pass_ns_128x100", ""),
    ("mirror_unchanged_pass_ns_500x200", ""),
    ("memcmp_ns_128x100", ""),
    ("mirror_vs_memcmp_ratio", "<= 2"),
    ("writer_full_repaint_ns_80x25", ""),
    ("writer_full_repaint_bytes_80x25", ""),
    ("writer_full_repaint_color_ns_80x25", ""),
    ("writer_full_repaint_color_bytes_80x25", ""),
    ("relay_mb_per_s", ""),
    ("raw_pipe_32_mb_per_s", ""),
    ("relay_vs_raw_ratio", "<= 3"),
    ("relay_utf8_mb_per_s", ""),
    ("relay_utf8_vs_raw_ratio", "<= 3"),
    ("echo_ms_simple_median", "<= 5"),
    ("echo_ms_simple_p95", ""),
    ("echo_ms_advanced_median", "<= 45"),
    ("echo_ms_advanced_p95", ""),
    ("echo_ms_advanced_fast_median", "<= 5"),
    ("echo_ms_advanced_fast_p95", "<= 10"),
    ("echo_ms_advanced_modern_median", ""),
    ("echo_ms_advanced_modern_p95", "<= 10"),
    ("echo_round_trips_advanced_modern", "<= 8"),
    ("echo_console_calls_advanced_modern", ""),
    ("echo_road_input_us_advanced_modern", ""),
    ("echo_road_wake_us_advanced_modern", ""),
    ("echo_road_settle_us_advanced_modern", ""),
    ("echo_road_pass_us_advanced_modern", ""),
    ("echo_road_client_us_advanced_modern", ""),
    ("breakdown_getconsolemode_us", ""),
    ("echo_ms_advanced_keys_median", "<= 45"),
    ("escape_ms_advanced_keys_median", ""),
    ("escape_ms_advanced_keys_p95", ""),
    ("echo_ms_advanced_utf8_median", "<= 45"),
    ("echo_ms_advanced_utf8_p95", ""),
    ("idle_cpu_percent_advanced", "< 1"),
    ("idle_cpu_percent_advanced_fast", "< 1"),
    ("typing_cpu_percent_advanced", ""),
    ("typing_cpu_percent_advanced_fast", ""),
    ("typing_cpu_fast_vs_default_ratio", "<= 2"),
    ("idle_cpu_percent_advanced_scrollback", "< 1"),
    ("scroll_bytes_per_text_byte", "<= 1.3"),
    ("scroll_bytes_per_text_byte_repaint", ""),
    ("scroll_bytes_per_text_byte_200x50", "<= 1.3"),
    ("scrollback_lines_kept", "2000"),
    ("idle_cpu_percent_advanced_fullscreen", "< 1"),
    ("buffer_switch_ms_median", ""),
    ("scrollback_lines_kept_200x50", "2000"),
    ("idle_cpu_percent_simple", "< 0.2"),
    ("logins_concurrent_ok", "20"),
    ("paste_kbps_advanced", ">= 256"),
    ("paste_lines_advanced_s", "<= 3"),
    ("paste_kbps_simple", ">= 64"),
    ("relay_vs_raw_ratio_recording", "<= 3"),
    ("echo_ms_advanced_fast_recording_median", "<= 5"),
    ("paste_kbps_advanced_recording", ">= 256"),
    ("idle_cpu_percent_advanced_recording", "< 1"),
    ("recording_drop_markers", "0"),
]


def met(value, goal):
    if value is None:
        return "MISSING"
    if not goal:
        return ""
    op, _, limit = goal.partition(" ")
    if not limit:
        return "met" if value == float(op) else "MISSED"
    limit = float(limit)
    ok = value <= limit if op == "<=" else value >= limit if op == ">=" else value < limit
    return "met" if ok else "MISSED"


missing = [key for key, _ in rows if figures.get(key) is None]
with open(f"{out}/results.json", "w") as f:
    json.dump(figures, f, indent=2, sort_keys=True)
    f.write("\n")

print(f"{'figure':36} {'measured':>12}  {'goal':6}")
for key, goal in rows:
    value = figures.get(key)
    shown = "-" if value is None else f"{value:.3f}".rstrip("0").rstrip(".")
    print(f"{key:36} {shown:>12}  {goal:6} {met(value, goal)}")
print(f"written: {out}/results.json")
sys.exit(1 if missing else 0)
