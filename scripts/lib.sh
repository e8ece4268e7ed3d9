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

# dcu_start_store DIR [PORT]: starts a private redis-server (a free port, or
# PORT; DIR for its files, no persistence but for an explicit SAVE, whose
# dump a start in the same DIR reads back); sets DCU_STORE_PORT and
# DCU_STORE_PID.
dcu_start_store() {
  local dir=$1
  DCU_STORE_PORT=${2:-$(dcu_free_port)}
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

# dcu_start_broker DIR USER PASSWORD [USER PASSWORD]...: starts a private MQTT
# broker (mosquitto on a free loopback port, DIR for its files, a password
# file with the given accounts, no anonymous access, no persistence); sets
# DCU_BROKER_PORT and DCU_BROKER_PID.
dcu_start_broker() {
  dcu_broker_config "$@"
  dcu_run_broker "$1" "$DCU_BROKER_PORT"
}

# dcu_broker_config DIR USER PASSWORD [USER PASSWORD]...: the configuration
# (DIR/mosquitto.conf, to which more listeners may be added) and password file
# of dcu_start_broker's broker; sets DCU_BROKER_PORT.
dcu_broker_config() {
  local dir=$1
  shift
  : >"$dir/passwd"
  chmod 600 "$dir/passwd"
  while [ $# -ge 2 ]; do
    mosquitto_passwd -b "$dir/passwd" "$1" "$2"
    shift 2
  done
  DCU_BROKER_PORT=$(dcu_free_port)
  cat >"$dir/mosquitto.conf" <<CONF
listener $DCU_BROKER_PORT 127.0.0.1
allow_anonymous false
password_file $dir/passwd
persistence false
set_tcp_nodelay true
user $(id -un)
log_dest file $dir/mosquitto.log
CONF
}

# dcu_run_broker DIR PORT: starts mosquitto with DIR/mosquitto.conf and waits
# until PORT takes connections; sets DCU_BROKER_PID.
dcu_run_broker() {
  local dir=$1 port=$2
  # Debian keeps the broker in /usr/sbin, which a user's PATH may lack.
  local broker=mosquitto
  command -v mosquitto >/dev/null || broker=/usr/sbin/mosquitto
  "$broker" -c "$dir/mosquitto.conf" 2>>"$dir/mosquitto.log" &
  DCU_BROKER_PID=$!
  for _ in $(seq 1 200); do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && return 0
    sleep 0.05
  done
  echo "mosquitto did not start" >&2
  return 1
}

# dcu_stop_broker: stops the broker started by dcu_start_broker.
dcu_stop_broker() {
  if [ -n "${DCU_BROKER_PID:-}" ]; then
    kill "$DCU_BROKER_PID" 2>/dev/null || true
    wait "$DCU_BROKER_PID" 2>/dev/null || true
    DCU_BROKER_PID=
  fi
}
