# Shell helpers for the demo and the benchmarks (sourced, not run).

# dcu_build PRESET: configures (once) and builds the preset.
dcu_build() {
  local preset=$1
  [ -f "build/$preset/build.ninja" ] || cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" >/dev/null
}

# dcu_free_port: prints a free TCP port on the loopback interface.
dcu_free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()'
}

# dcu_start_store DIR: starts a private redis-server (own port, DIR for its
# files, no persistence); sets DCU_STORE_PORT and DCU_STORE_PID.
dcu_start_store() {
  local dir=$1
  DCU_STORE_PORT=$(dcu_free_port)
  redis-server --bind 127.0.0.1 --port "$DCU_STORE_PORT" --save "" --appendonly no \
    --dir "$dir" --logfile "$dir/redis.log" --daemonize no &
  DCU_STORE_PID=$!
  for _ in $(seq 1 200); do
    redis-cli -p "$DCU_STORE_PORT" ping >/dev/null 2>&1 && return 0
    sleep 0.05
  done
  echo "redis-server did not start" >&2
  return 1
}

# dcu_stop_store: stops the store started by dcu_start_store.
dcu_stop_store() {
  if [ -n "${DCU_STORE_PID:-}" ]; then
    kill "$DCU_STORE_PID" 2>/dev/null || true
    wait "$DCU_STORE_PID" 2>/dev/null || true
    DCU_STORE_PID=
  fi
}
