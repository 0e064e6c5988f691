# Sourced by the CLI tests on the test network, which define `cli`, `work` and `fail`.
now_ms() { date +%s%3N; }

# interrupt_when STATE WHAT CLI-ARGS...: starts the CLI, sends SIGINT once STATE holds, and
# checks how it ended.
interrupt_when() {
  local state=$1 what=$2
  shift 2
  "$cli" "$@" --timeout 30 >"$work/out" 2>"$work/err" &
  local pid=$!
  until $state "$pid"; do
    kill -0 "$pid" 2>/dev/null || fail "$what: ended before it could be interrupted: $(cat "$work/err")"
    sleep 0.05
  done
  local children sent rc took child
  children=$(ps -o pid= --ppid "$pid" | tr -d ' ')
  sent=$(now_ms)
  kill -INT "$pid"
  wait "$pid"
  rc=$?
  took=$(($(now_ms) - sent))
  echo "$what: ended ${took} ms after SIGINT (exit $rc)"
  [[ $rc == 130 ]] || fail "$what: exit $rc, not 130: $(cat "$work/err")"
  # The fault is waiting for the 30 s time limit; how fast it stops is a matter for bench/.
  ((took < 10000)) || fail "$what: took ${took} ms to stop"
  for child in $children; do
    if ps -o stat= -p "$child" >/dev/null 2>&1; then fail "$what: worker $child is still there"; fi
  done
}
