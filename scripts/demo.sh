#!/usr/bin/env bash
# The whole system on the bundled sample unit, inside a scratch directory:
# a private store, the unit's files under a temporary DCU_ROOT, and each
# program run as the unit would run it.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

scripts/install-deps.sh
echo "== building"
dcu_build default
bin=build/default

work=$(mktemp -d /tmp/dcu-demo-XXXXXX)
trap 'dcu_stop_store; rm -rf "$work"' EXIT
mkdir -p "$work/store" "$work/unit"
dcu_start_store "$work/store"
export DCU_ROOT="$work/unit" DCU_REDIS_PORT="$DCU_STORE_PORT"
echo "== private store on 127.0.0.1:$DCU_STORE_PORT, unit files under $DCU_ROOT"

# Later stages append below.

# --- Configuration loader: the sample unit's record into the store ---------

# show_hash KEY: one hash of the store as "field  value" lines.
show_hash() {
  echo "   $1"
  redis-cli -p "$DCU_STORE_PORT" hgetall "$1" | awk 'NR % 2 { field = $0; next } { printf "      %-22s %s\n", field, $0 }'
}

echo
echo "== cfgload: publishing the sample unit (examples/sample-unit.json)"
config="$DCU_ROOT/usr/tev/config/dlms_api_config.cfg"
mkdir -p "$(dirname "$config")" "$DCU_ROOT/usr/tev/log"
"$bin/loader/cfgtool" encode examples/sample-unit.json -o "$config"
echo "-- cfgtool check of the encoded record"
"$bin/loader/cfgtool" check "$config" | sed "s|$DCU_ROOT|\$DCU_ROOT|; s/^/   /"
echo "-- cfgload's standard output (abridged)"
"$bin/loader/cfgload" >"$work/cfgload.out"
sed -n '1,6p' "$work/cfgload.out" | sed 's/^/   /'
echo "   ... $(wc -l <"$work/cfgload.out") lines in all, exit status 0"
echo "-- its log, $DCU_ROOT/usr/tev/log/cfgload.log (first and last lines)"
log="$DCU_ROOT/usr/tev/log/cfgload.log"
{ head -n 3 "$log"; echo "..."; tail -n 1 "$log"; } | sed 's/^/   /'
echo "-- the store now holds $(redis-cli -p "$DCU_STORE_PORT" dbsize) configuration hashes; some of them:"
for key in DCU_GEN_INFO P_0SER_MET_INFO P_0SerMeter_1Config P_1SerMeter_2Config EthMeter_1Config MQTT_INFO GPRS_INFO; do
  show_hash "$key"
done
echo "-- a copy with one byte changed is refused"
cp "$config" "$work/damaged.cfg"
printf '\x01' | dd of="$work/damaged.cfg" bs=1 seek=1000 conv=notrunc status=none
"$bin/loader/cfgtool" check "$work/damaged.cfg" | sed "s|$work/||; s/^/   /" || true
echo "-- an edited unit whose text the record would cut short (KeyingMode \"AB\\uZZZZCD\") is refused, nothing written"
sed 's/"KeyingMode": *"[^"]*"/"KeyingMode": "AB\\uZZZZCD"/' examples/sample-unit.json >"$work/edited.json"
"$bin/loader/cfgtool" encode "$work/edited.json" -o "$work/edited.cfg" 2>&1 | sed "s|$work/||; s/^/   /" || true
[ -e "$work/edited.cfg" ] || echo "   (no record written)"

# --- Meter data: what the meter-reading and modem processes keep ------------

# ask REQUEST...: one dcuhost request, its answer indented (progress lines dropped).
ask() {
  echo "-- dcuhost $*"
  "$bin/host/dcuhost" "$@" 2>/dev/null | sed 's/^/   /'
}

echo
echo "== metersim: records and data files of 7 simulated meters (port 0 meters 0-4, port 1 meters 0-1)"
"$bin/sim/metersim" --meters 7 --seed 2024 2>"$work/metersim.err" | sed 's/^/   /' ||
  { cat "$work/metersim.err" >&2; exit 1; }
first_serial=$(redis-cli -p "$DCU_STORE_PORT" hget Port0Met1SerNum SER_NUM)

echo
echo "== the head-end's requests, answered by the request-handler library through dcuhost"
ask meters 1
ask inst 2 "$first_serial"
ask inst 3 NO-SUCH-METER
echo "-- dcuhost ls-range 4 $first_serial 2024-03-05 10:30 2024-03-06 00:00 (no answer: a command for the meter-reading process)"
"$bin/host/dcuhost" ls-range 4 "$first_serial" 2024-03-05 10:30 2024-03-06 00:00 2>/dev/null
show_hash Port0Met1OdLsCmd
ask modem 5
echo "   (the data object holds \"Status\" twice: the sequence number, then the modem's state)"
ask commn 6
echo "   (NUM_METERS per port as cfgload published the sample unit: 3 on PORT1, 2 on PORT2)"

# --- Profiles, listings and file contents of the data tree ------------------

# ask_abridged N REQUEST...: the first N lines of the answer, then how many follow.
ask_abridged() {
  local lines=$1
  shift
  echo "-- dcuhost $*"
  "$bin/host/dcuhost" "$@" 2>/dev/null >"$work/answer.json"
  head -n "$lines" "$work/answer.json" | sed 's/^/   /'
  echo "   ... $(($(wc -l <"$work/answer.json") - lines)) more lines"
}

echo
echo "== profiles, listings and file contents of meter $first_serial (directory meter_id_1)"
ask_abridged 18 billing 7 "$first_serial"
ask_abridged 18 event 8 "$first_serial" 2
ask dirs 9
ask files bill 10 "$first_serial"
ask files ls 11 "$first_serial"
ask files od 12 "$first_serial"
od_file=$(redis-cli -p "$DCU_STORE_PORT" hvals Port0Met1OdLsFile | head -n 1)
ask_abridged 20 content ls 13 "$first_serial" meter_id_1/od "$od_file" V1
echo "-- dcuhost event-dump 14 $first_serial 2 (no answer: the selected columns on standard output, abridged)"
"$bin/host/dcuhost" event-dump 14 "$first_serial" 2 2>&1 >/dev/null | grep -v '^L' | tail -n 1 | cut -c1-150 | sed 's/^/   /'
echo
ask content bill 15 "$first_serial" .. secret V1
echo "   (refused: the name leaves the data tree)"
ask billing 16 NO-SUCH-METER

# --- The service page: lighttpd, dcuweb and a headless browser --------------

echo
echo "== the service page: lighttpd with dcu-web's snippet, dcuweb behind it, the page in headless Chromium"
web="$work/web"
shots=$PWD/build/default/web-demo
mkdir -p "$web" "$shots"
# A password made for this run only; the page lets nobody in until one is set.
web_password=$(head -c 12 /dev/urandom | base64 | tr -d '/+=')
printf '%s\n' "$web_password" | "$bin/web/dcuweb" --set-password service | sed "s|$DCU_ROOT|\$DCU_ROOT|; s/^/   /"
web_port=$(dcu_free_port)
# The packaged snippet with the package's paths put where the build has them.
sed -e "s|\"/usr/lib/dcu-web/dcuweb\"|\"$PWD/$bin/web/dcuweb\"|" \
    -e "s|\"/usr/share/dcu-web/page/\"|\"$PWD/web/page/\"|" \
    -e "s|\"/etc/dcu/dcuweb.htdigest\"|\"$DCU_ROOT/etc/dcu/dcuweb.htdigest\"|" web/lighttpd/50-dcu-web.conf >"$web/dcu-web.conf"
cat >"$web/lighttpd.conf" <<CONF
server.document-root = "$DCU_ROOT/srv/www/htdocs"
server.bind = "127.0.0.1"
server.port = $web_port
server.errorlog = "$web/error.log"
server.modules = ( "mod_indexfile" )
index-file.names = ( "index.html" )
mimetype.assign = ( ".html" => "text/html; charset=utf-8", ".css" => "text/css; charset=utf-8", ".js" => "text/javascript; charset=utf-8" )
include "$web/dcu-web.conf"
server.modules += ( "mod_staticfile" )
setenv.set-environment = ( "DCU_ROOT" => "$DCU_ROOT", "DCU_REDIS_PORT" => "$DCU_STORE_PORT" )
CONF
lighttpd=lighttpd
command -v lighttpd >/dev/null || lighttpd=/usr/sbin/lighttpd
"$lighttpd" -D -f "$web/lighttpd.conf" &
web_pid=$!
trap 'kill "$web_pid" 2>/dev/null; dcu_stop_store; rm -rf "$work"' EXIT
for _ in $(seq 1 200); do
  (exec 3<>"/dev/tcp/127.0.0.1/$web_port") 2>/dev/null && break
  sleep 0.05
done
echo "   the page: http://127.0.0.1:$web_port/dcu/  (user service, password $web_password, this run only)"
echo "-- without the password, and with a wrong one"
curl -s -o /dev/null -w '   %{http_code} without credentials\n' "http://127.0.0.1:$web_port/dcu/"
curl -s -o /dev/null -w '   %{http_code} with a wrong password\n' --digest -u "service:guess" "http://127.0.0.1:$web_port/dcu/"
steps=(/usr/bin/python3 tests/web/browser_steps.py --base "http://127.0.0.1:$web_port/dcu/" --user service
  --password "$web_password" --shots "$shots")
echo "-- in the browser: On-demand billing, select none, tick 1.0.9.8.0.255 and 1.0.10.8.0.255, rename one, save"
"${steps[@]}" save-selection '{"view":"od-billing","tick":["1.0.9.8.0.255","1.0.10.8.0.255"],"names":{"1.0.10.8.0.255":"Export kVAh"}}' |
  python3 -c 'import json, sys; print("   the page says: " + json.load(sys.stdin)["message"])'
ask_abridged 14 billing 17 "$first_serial"
echo "-- in the browser: the status view"
"${steps[@]}" status | python3 -c 'import json, sys; r = json.load(sys.stdin); print("   the page says: " + r["message"]); [print("   " + "  ".join(m)) for m in r["meters"]]'
echo "-- a POST without the page's token, from the page itself"
"${steps[@]}" post-without-token | python3 -c 'import json, sys; r = json.load(sys.stdin); print("   %d %s" % (r["status"], r["body"]))'
echo "   screenshots: $shots/selections.png and $shots/status.png"
if [ -n "${DCU_DEMO_KEEP_PAGE:-}" ]; then
  read -r -p "   the page stays up until Enter: " _ || true
fi
kill "$web_pid"
wait "$web_pid" 2>/dev/null || true
trap 'dcu_stop_store; rm -rf "$work"' EXIT

# --- The head-end's contract as a page --------------------------------------

echo
echo "== the MQTT interface's contract: schemas/asyncapi.yaml validated, rendered as a page, every channel on it"
echo "   (scripts/validate-contract.sh; its first run installs the AsyncAPI CLI with npm ci, a minute or two)"
scripts/validate-contract.sh >"$work/contract.log" 2>&1 || { cat "$work/contract.log" >&2; exit 1; }
grep -E '^== |^render-contract|^   ' "$work/contract.log" | sed 's/^/   /'
cp build/asyncapi/contract.png "$shots/contract.png"
echo "   the page, one file: build/asyncapi/contract.html; its screenshot: $shots/contract.png"

# --- Head-end link over MQTT ------------------------------------------------

# make_pki DIR: a CA, the broker's certificate (for 127.0.0.1), and client
# certificates for the unit (dcu0001) and the head-end, made on the fly.
make_pki() {
  local dir=$1 name
  mkdir -p "$dir"
  (
    cd "$dir"
    key="-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes"
    # shellcheck disable=SC2086  # the key options are words
    openssl req -x509 $key -keyout ca.key -out ca.crt -days 1 -subj "/CN=Demo utility CA" 2>/dev/null
    for name in broker dcu0001 headend; do
      # shellcheck disable=SC2086
      openssl req -new $key -keyout "$name.key" -out "$name.csr" -subj "/CN=$name" 2>/dev/null
    done
    echo "subjectAltName=IP:127.0.0.1,DNS:localhost" >broker.ext
    openssl x509 -req -in broker.csr -CA ca.crt -CAkey ca.key -CAcreateserial -days 1 -extfile broker.ext \
      -out broker.crt 2>/dev/null
    for name in dcu0001 headend; do
      openssl x509 -req -in "$name.csr" -CA ca.crt -CAkey ca.key -CAcreateserial -days 1 -out "$name.crt" 2>/dev/null
    done
  )
}

# start_tls_broker DIR PKI: the private broker of lib.sh, with a TLS listener
# that asks every client for a certificate of the CA; sets DCU_TLS_PORT.
start_tls_broker() {
  local dir=$1 pki=$2
  DCU_TLS_PORT=$(dcu_free_port)
  dcu_broker_config "$dir" dcu0001 mqtt-secret headend he-secret
  cat >>"$dir/mosquitto.conf" <<CONF
listener $DCU_TLS_PORT 127.0.0.1
cafile $pki/ca.crt
certfile $pki/broker.crt
keyfile $pki/broker.key
require_certificate true
CONF
  dcu_run_broker "$dir" "$DCU_TLS_PORT"
}

echo
echo "== dcuhost --mqtt over TLS: presence, MQTT 5 requests and their answers crossing a private broker"
pki="$work/pki"
make_pki "$pki"
mkdir -p "$work/broker"
start_tls_broker "$work/broker" "$pki"
mqtt_host=
trap '[ -z "$mqtt_host" ] || kill "$mqtt_host" 2>/dev/null; dcu_stop_broker; dcu_stop_store; rm -rf "$work"' EXIT
echo "   certificates made with openssl: a CA, the broker's (IP:127.0.0.1), dcu0001's and the head-end's"
echo "   mosquitto on 127.0.0.1:$DCU_TLS_PORT: TLS, a client certificate required, accounts dcu0001 and headend"
tls_client=(-h 127.0.0.1 -p "$DCU_TLS_PORT" --cafile "$pki/ca.crt" --cert "$pki/headend.crt" --key "$pki/headend.key")
# The head-end's account in the clients' own options files, not on their
# command lines (where ps shows it to every local user).
headend_config="$work/headend-config"
install -d -m 700 "$headend_config"
for client in mosquitto_sub mosquitto_rr mosquitto_pub; do
  install -m 600 /dev/null "$headend_config/$client"
  printf -- '-u headend\n-P he-secret\n' >"$headend_config/$client"
done
headend_sub() { XDG_CONFIG_HOME="$headend_config" mosquitto_sub "${tls_client[@]}" "$@"; }
headend_rr() { XDG_CONFIG_HOME="$headend_config" mosquitto_rr "${tls_client[@]}" "$@"; }

# The unit's settings file; the password in a file of its own, never on the command line.
install -m 600 /dev/null "$work/mqtt-password"
printf 'mqtt-secret\n' >"$work/mqtt-password"
cat >"$work/dcuhost.conf" <<CONF
# dcuhost --mqtt of the demo unit (the rest from the store's MQTT_INFO)
broker = 127.0.0.1:$DCU_TLS_PORT
cafile = $pki/ca.crt
cert = $pki/dcu0001.crt
key = $pki/dcu0001.key
mqtt-password-file = $work/mqtt-password
mqtt-version = 5
CONF
echo "-- the settings file, dcuhost.conf:"
sed "s|$work|\$work|g; s/^/   /" "$work/dcuhost.conf"
# start_mqtt_host LOG: dcuhost --mqtt with the demo's settings file, its log
# to LOG; returns once it has subscribed; sets mqtt_host.
start_mqtt_host() {
  "$bin/host/dcuhost" --mqtt --config "$work/dcuhost.conf" 2>"$1" &
  mqtt_host=$!
  for _ in $(seq 1 200); do
    grep -q 'Subscribed to' "$1" && break
    sleep 0.05
  done
}
echo "-- dcuhost --mqtt --config dcuhost.conf"
start_mqtt_host "$work/mqtt-host.log"
grep -E 'broker|Subscribed|ONLINE' "$work/mqtt-host.log" | sed "s|$work|\$work|g; s/^/   /"

echo "-- the head-end reads the unit's state (retained) on dcu/DCU-0001/resp/status"
headend_sub -t dcu/DCU-0001/resp/status -C 1 -W 10 | sed 's/^/   /'

# head_end REQUEST: an MQTT 5 request whose answer comes back on the head-end's own reply topic.
head_end() {
  echo "-- mosquitto_rr -V 5 -t dcu/DCU-0001/cmd -e headend/replies/demo -m '$1'"
  headend_rr -V 5 -q 1 -W 10 -t dcu/DCU-0001/cmd -e headend/replies/demo -m "$1" |
    sed 's/^/   /'
}
head_end '{"TYPE":"GET_METER_SER_LIST","SEQ_NUM":"21"}'
head_end '{"TYPE":"OD_INST","SEQ_NUM":22,"MET_SERNUM":"'"$first_serial"'"}'
head_end '{"TYPE":"OD_MID_NIGHT","SEQ_NUM":23,"MET_SERNUM":"'"$first_serial"'","MONTH":3}'
echo "   (the answer says why; the unit goes on with the next request)"
echo "-- the broker restarts (stopped by its PID, started again on its port): the unit waits a random"
echo "   0 to 5 s, so that a fleet does not knock all at once, connects again and says ONLINE anew"
dcu_stop_broker
dcu_run_broker "$work/broker" "$DCU_TLS_PORT"
for _ in $(seq 1 300); do
  grep -q 'ONLINE.*connection 2 since' "$work/mqtt-host.log" && break
  sleep 0.05
done
grep -E 'Reconnecting|ONLINE.*connection 2' "$work/mqtt-host.log" | sed 's/^/   /'
headend_sub -t dcu/DCU-0001/resp/status -C 1 -W 10 | sed 's/^/   /'
echo "-- a client without a certificate, or with a wrong password, gets nowhere"
XDG_CONFIG_HOME="$headend_config" mosquitto_pub -h 127.0.0.1 -p "$DCU_TLS_PORT" --cafile "$pki/ca.crt" -q 1 \
  -t dcu/DCU-0001/cmd -m '{"TYPE":"GET_METER_SER_LIST","SEQ_NUM":"24"}' 2>&1 | sed 's/^/   mosquitto_pub: /' || true
wrong_account="$work/wrong-account"
install -d -m 700 "$wrong_account"
install -m 600 /dev/null "$wrong_account/mosquitto_pub"
printf -- '-u headend\n-P guess\n' >"$wrong_account/mosquitto_pub"
XDG_CONFIG_HOME="$wrong_account" mosquitto_pub "${tls_client[@]}" -q 1 -t dcu/DCU-0001/cmd \
  -m '{"TYPE":"GET_METER_SER_LIST","SEQ_NUM":"25"}' 2>&1 | sed 's/^/   mosquitto_pub: /' || true
echo "-- SIGTERM: dcuhost says OFFLINE, disconnects and exits 0"
kill "$mqtt_host"
wait "$mqtt_host" && echo "   exit status 0"
mqtt_host=
echo "-- what a head-end that looks now reads on the status topic"
headend_sub -t dcu/DCU-0001/resp/status -C 1 -W 10 | sed 's/^/   /'
echo "-- dcuhost's log (the library's progress lines left out): no password in it"
grep '^L\|^dcuhost' "$work/mqtt-host.log" | grep -v -E 'redis_init|find_ser_num' | sed "s|$work|\$work|g; s/^/   /"
grep -q mqtt-secret "$work/mqtt-host.log" && { echo "the log holds the password" >&2; exit 1; }

echo
echo "== a fleet on one broker: bench/fleet --units 10 --rounds 2 (a private store and broker, 10 units,"
echo "   a head-end asking each of them, then a broker restart; README gives 50 and 200 units)"
DCU_FLEET_BUILD_DIR=$bin bench/fleet --units 10 --rounds 2 >"$work/fleet.log" 2>&1 ||
  { cat "$work/fleet.log" >&2; exit 1; }
tail -n 1 "$work/fleet.log" | sed 's/^/   /'

# --- Faults around the host ---------------------------------------------------

echo
echo "== faults around the host: a store that restarts or hangs, hostile files and requests"
start_mqtt_host "$work/faults-host.log"
# ask_status LABEL REQUEST: the answer's TYPE and CMD_STATUS lines, and how long it took.
ask_status() {
  local start end
  start=$(date +%s%N)
  headend_rr -V 5 -q 1 -W 10 -t dcu/DCU-0001/cmd -e headend/replies/demo -m "$2"     >"$work/fault-answer.json"
  end=$(date +%s%N)
  printf '   %-44s %s %s (%d ms)\n' "$1" "$(grep -o '"TYPE":"[^"]*"' "$work/fault-answer.json")" \
    "$(grep -o '"CMD_STATUS":"[^"]*"' "$work/fault-answer.json")" $(((end - start) / 1000000))
}
commn='{"TYPE":"GET_COMMN_STATUS_MESSAGE","SEQ_NUM":"31"}'
headend_rr -V 5 -q 1 -W 10 -t dcu/DCU-0001/cmd -e headend/replies/demo -m "$commn" \
  >"$work/before-restart.json"
echo "-- the store restarts (with its keys) while dcuhost waits for requests"
redis-cli -p "$DCU_STORE_PORT" save >/dev/null
dcu_stop_store
dcu_start_store "$work/store" "$DCU_STORE_PORT"
headend_rr -V 5 -q 1 -W 10 -t dcu/DCU-0001/cmd -e headend/replies/demo -m "$commn" \
  >"$work/after-restart.json"
cmp -s "$work/before-restart.json" "$work/after-restart.json" &&
  echo "   the first answer after the restart is byte for byte the one before it"
grep -h '^dcuhost: the store' "$work/faults-host.log" | sed 's/^/   /'
echo "-- the store hangs (SIGSTOP): each request costs at most the 2 s command time-out"
kill -STOP "$DCU_STORE_PID"
ask_status "while the store hangs:" "$commn"
kill -CONT "$DCU_STORE_PID"
ask_status "once it answers again:" "$commn"
echo "-- files that are not what they seem, in the data tree"
data="$DCU_ROOT/usr/tev/data/DlmsData/meter_id_1"
mkfifo "$data/a-fifo"
ln -s /etc "$data/etclink"
content() { echo '{"TYPE":"GET_BILL_FILE_CONTENT","SEQ_NUM":"'"$1"'","MET_SERNUM":"'"$first_serial"'","DIR_NAME":"'"$2"'","FILE_NAME":"'"$3"'","VIEW_TYPE":"V1"}'; }
ask_status "a FIFO as the data file:" "$(content 33 meter_id_1 a-fifo)"
ask_status "a link out of the tree (etclink -> /etc):" "$(content 34 meter_id_1/etclink passwd)"
rm -f "$data/a-fifo" "$data/etclink"
echo "-- requests that would cut a value short or grow without bound"
headend_rr -V 5 -q 1 -W 10 -t dcu/DCU-0001/cmd -e headend/replies/demo \
  -m "$(content 35 'meter_id_1\u0000/../../../../etc' passwd)" | grep REASON | sed 's/^/   /'
head -c 60000 /dev/zero | tr '\0' T >"$work/big-type"
headend_rr -V 5 -q 1 -W 10 -t dcu/DCU-0001/cmd -e headend/replies/demo \
  -m "{\"TYPE\":\"$(cat "$work/big-type")\",\"SEQ_NUM\":36}" >"$work/big-answer.json"
echo "   a TYPE of 60,000 bytes: a failure answer of $(wc -c <"$work/big-answer.json") bytes, $(grep -o '"REASON":"[^"]*"' "$work/big-answer.json")"
kill "$mqtt_host"
wait "$mqtt_host" || true
mqtt_host=

# --- Field tools --------------------------------------------------------------

echo
echo "== ifacegen: a static address for eth0 in the unit's interfaces file"
mkdir -p "$DCU_ROOT/etc/network"
cat >"$DCU_ROOT/etc/network/interfaces" <<'IFACES'
auto lo
iface lo inet loopback

auto eth0
iface eth0 inet static
	address 192.168.1.2
	netmask 255.255.255.0
	gateway 192.168.1.1

auto eth1
iface eth1 inet dhcp
IFACES
"$bin/tools/netif/ifacegen" 10.20.0.15 255.255.0.0 10.20.0.1 eth0 >"$work/ifacegen.out"
echo "-- what changed between interfaces and interfaces1 (the input is left as it was)"
diff "$DCU_ROOT/etc/network/interfaces" "$DCU_ROOT/etc/network/interfaces1" | sed 's/^/   /' || true
echo "-- asked for eth7, which no stanza names: it says so, exits 1 and writes no interfaces1"
rm "$DCU_ROOT/etc/network/interfaces1"
status=0
"$bin/tools/netif/ifacegen" 10.20.0.15 255.255.0.0 10.20.0.1 eth7 >"$work/ifacegen.out" 2>&1 || status=$?
tail -n 1 "$work/ifacegen.out" | sed 's/^/   /'
echo "   exit status $status$([ -e "$DCU_ROOT/etc/network/interfaces1" ] || echo ', no interfaces1 written')"

echo
echo "== ttysink and ttyblast over a pseudo-terminal pair standing in for a serial cable"
mkdir -p "$DCU_ROOT/dev"
socat pty,raw,echo=0,link="$DCU_ROOT/dev/ttyS0" pty,raw,echo=0,link="$DCU_ROOT/dev/ttyS1" 2>/dev/null &
socat_pid=$!
for _ in $(seq 1 100); do [ -e "$DCU_ROOT/dev/ttyS1" ] && break; sleep 0.05; done
stdbuf -o0 "$bin/tools/serial/ttysink" 0 10 >"$work/sink.out" 2>&1 &
sink_pid=$!
for _ in $(seq 1 100); do grep -q '^End' "$work/sink.out" && break; sleep 0.05; done
stdbuf -o0 "$bin/tools/serial/ttyblast" 1 1 10 >"$work/blast.out" 2>&1 &
blast_pid=$!
for _ in $(seq 1 100); do grep -q 'a$' "$work/sink.out" && break; sleep 0.05; done
sleep 0.2
kill "$blast_pid" "$sink_pid" "$socat_pid" 2>/dev/null || true
wait "$blast_pid" "$sink_pid" "$socat_pid" 2>/dev/null || true
echo "-- ttysink 0 10 (port ttyS0, 9600 bit/s):"
sed 's/^/   /' "$work/sink.out"
echo
echo "-- ttyblast 1 1 10 (ttyS1): it sent \"a\" and printed what came back"
sed 's/^/   /' "$work/blast.out"
echo

echo
echo "== imgseal: the MD5 signature list of a (tiny) firmware release"
release="$work/release"
mkdir -p "$release/tev_install_dir" "$release/x/tev_dcu_firmware" "$release/x/build"
for f in tev_dcu_firmware.tar bldStrswan.tar lib.tar newInstall.sh; do echo "$f contents" >"$release/tev_install_dir/$f"; done
(cd "$release/x/build" && "$OLDPWD/$bin/tools/sign/imgseal" 1 2>/dev/null | tail -n 2 | sed 's/^/   /')
echo "-- ../tev_dcu_firmware/checksum"
sed 's/^/   /' "$release/x/tev_dcu_firmware/checksum"

echo
echo "== demo complete"
