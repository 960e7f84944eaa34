"""The road of one keystroke, from a relay trace of an echo run.

Reads Wine's relay trace of login-bench's echo verb (each line prefixed with "@SECONDS " by
trace_clock.so, and "PID:TID:" by +pid,+tid) and prints NAME VALUE lines: each step's median
in microseconds, from the bench's write of a key into the socket input to its reader's read of
the echo, and the median number of console calls the translator made on the way.

  python3 echo_road.py TRACE LABEL
"""
import collections
import re
import statistics
import sys

LINE = re.compile(r"^@(\d+\.\d+) ([0-9a-f]+):([0-9a-f]+):(Call|Ret) +KERNEL32\.(\w+)\((.*)")
# What goes to the console host; CreateFileA and CloseHandle count when they open or close
# "CONOUT$".
CONSOLE = re.compile(r"^(Get|Set|Read|Write|Peek|Fill|Generate)\w*Console|^GetNumberOfConsole")


def read_trace(path):
    events = []
    with open(path, errors="replace") as f:
        for line in f:
            m = LINE.match(line)
            if m:
                seconds, pid, tid, kind, name, rest = m.groups()
                events.append((float(seconds) * 1e6, pid, tid, kind, name, rest))
    return events


def conout_handles(events):
    """The handles each thread's CreateFileA("CONOUT$") returned."""
    handles = set()
    opening = set()
    for e in events:
        if e[4] != "CreateFileA":
            continue
        if e[3] == "Call" and "CONOUT$" in e[5]:
            opening.add(e[1:3])
        elif e[3] == "Ret" and e[1:3] in opening:
            opening.discard(e[1:3])
            handles.add((e[1], e[5].split("retval=")[-1].split()[0]))
    return handles


def is_console_call(e, conout):
    if e[4] == "CreateFileA":
        return "CONOUT$" in e[5]
    if e[4] == "CloseHandle":
        return (e[1], e[5].split(")")[0]) in conout
    return CONSOLE.search(e[4]) is not None


def main():
    path, label = sys.argv[1], sys.argv[2]
    events = read_trace(path)
    # The translator's input thread writes key records; its mirror thread reads the screen most.
    input_thread = next(e[1:3] for e in events if e[4] == "WriteConsoleInputW")
    readers = collections.Counter(e[1:3] for e in events if e[4].startswith("ReadConsoleOutput"))
    mirror_thread = readers.most_common(1)[0][0]
    translator = input_thread[0]
    # The bench's writes of one key into the socket input, and the reads of its output.
    sends = [e for e in events if e[1] != translator and e[3] == "Call" and e[4] == "WriteFile"
             and e[5].split(",")[2] == "00000001"]
    bench_pid = sends[0][1] if sends else None
    steps = {"input": [], "wake": [], "settle": [], "pass": [], "client": [], "total": []}
    calls = []
    conout = conout_handles(events)
    index = {id(e): i for i, e in enumerate(events)}
    for send in sends:
        i = index[id(send)]

        def after(start, test):
            if start is None:
                return None
            for j in range(start, len(events)):
                if test(events[j]):
                    return j
            return None

        read = after(i, lambda e: e[1:3] == input_thread and e[3] == "Ret" and e[4] == "ReadFile")
        if read is None:
            continue
        records = after(read, lambda e: e[1:3] == input_thread and e[3] == "Ret"
                        and e[4].startswith("WriteConsoleInput"))
        if records is None:
            continue
        # The pass that shows it: its settle wait, then the first write to the client.
        sleep = after(records, lambda e: e[1:3] == mirror_thread and e[3] == "Call"
                      and e[4] == "Sleep")
        if sleep is None:
            continue
        slept = after(sleep, lambda e: e[1:3] == mirror_thread and e[3] == "Ret")
        write = after(slept, lambda e: e[1:3] == mirror_thread and e[3] == "Call"
                      and e[4] == "WriteFile")
        shown = after(write, lambda e: e[1] == bench_pid and e[3] == "Ret" and e[4] == "ReadFile")
        if shown is None:
            continue
        count = sum(1 for e in events[read:write] if e[1] == translator and e[3] == "Call"
                    and is_console_call(e, conout))
        t = [events[k][0] for k in (i, read, records, sleep, slept, write, shown)]
        # A key whose road another key's crossed (the next key sent before this one showed).
        if t[6] - t[0] > 100000 or any(
                e[1] == bench_pid and e[3] == "Call" and e[4] == "WriteFile"
                for e in events[i + 1:shown]):
            continue
        steps["input"].append(t[2] - t[1])
        steps["wake"].append(t[3] - t[2])
        steps["settle"].append(t[4] - t[3])
        steps["pass"].append(t[5] - t[4])
        steps["client"].append(t[6] - t[5] + t[1] - t[0])
        steps["total"].append(t[6] - t[0])
        calls.append(count)
    if not calls:
        print(f"echo_road_samples_{label} 0")
        return
    for name, values in steps.items():
        print(f"echo_road_{name}_us_{label} {statistics.median(values):.0f}")
    print(f"echo_console_calls_{label} {statistics.median(calls):.0f}")
    print(f"echo_road_samples_{label} {len(calls)}")


main()
