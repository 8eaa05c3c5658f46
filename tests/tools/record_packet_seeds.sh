#!/usr/bin/env bash
# Records real IPv4 datagrams between two throwaway network namespaces into
# the seed corpus of the packet decoder's fuzz target: TCP (handshake, data,
# close), UDP, ICMP echo with the record-route IP option, fragments of a large
# echo, and a few cut short. Needs root, iproute2, ping and python3.
#
#   sudo tests/tools/record_packet_seeds.sh [OUT_DIR]
set -euo pipefail
out=${1:-$(dirname "$0")/../fuzz/corpus/packet_decoder_fuzz}
a=twseed-a-$$ b=twseed-b-$$
cleanup() { ip netns del "$a" 2>/dev/null || true; ip netns del "$b" 2>/dev/null || true; }
trap cleanup EXIT
ip netns add "$a"; ip netns add "$b"
ip -n "$a" link add twsa type veth peer name twsb netns "$b"
ip -n "$a" addr add 10.232.0.1/24 dev twsa; ip -n "$b" addr add 10.232.0.2/24 dev twsb
ip -n "$a" link set twsa up; ip -n "$b" link set twsb up
mkdir -p "$out"

# The recorder: a packet socket on twsa, datagrams from the IP header on.
ip netns exec "$a" python3 - "$out" <<'PY' &
import os, socket, sys, time
out = sys.argv[1]
s = socket.socket(socket.AF_PACKET, socket.SOCK_DGRAM, socket.htons(3))
s.bind(("twsa", 0)); s.settimeout(0.5)
n, end = 0, time.time() + 4
while time.time() < end and n < 40:
    try: d = s.recv(65535)
    except socket.timeout: continue
    if not d or d[0] >> 4 != 4: continue
    with open(os.path.join(out, "real-%02d" % n), "wb") as f: f.write(d)
    if n % 5 == 0:
        with open(os.path.join(out, "cut-%02d" % n), "wb") as f: f.write(d[:n % 23 + 1])
    n += 1
PY
rec=$!
sleep 0.5
ip netns exec "$a" python3 -c '
import socket
l = socket.socket(); l.bind(("10.232.0.1", 8080)); l.listen(1)
u = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); u.bind(("10.232.0.1", 5353))
import threading
def serve():
    c, _ = l.accept(); c.sendall(b"HTTP/1.0 200 OK\r\n\r\nhello"); c.close()
threading.Thread(target=serve, daemon=True).start()
import subprocess
subprocess.run(["ip", "netns", "exec", "'"$b"'", "python3", "-c",
  "import socket\nc=socket.create_connection((\"10.232.0.1\",8080)); c.sendall(b\"GET / HTTP/1.0\\r\\n\\r\\n\"); c.recv(100); c.close()\n"
  "u=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); u.sendto(b\"\\x12\\x34query\", (\"10.232.0.1\", 5353))"])
import time; time.sleep(0.3)
'
ip netns exec "$b" ping -c 1 -W 1 -R 10.232.0.1 >/dev/null || true
ip netns exec "$b" ping -c 1 -W 1 -s 3000 10.232.0.1 >/dev/null || true
wait $rec
ls "$out" | wc -l
