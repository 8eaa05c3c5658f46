#!/usr/bin/env bash
# Records real IPv6 datagrams between two throwaway network namespaces into
# the seed corpus of the packet decoder's fuzz target (real6-*, cut6-*): TCP
# (handshake, data, close), UDP, ICMPv6 echo and neighbour discovery, a UDP
# datagram with a destination-options header, fragments of a large echo, and
# a few cut short. Needs root, iproute2, ping and python3.
#
#   sudo tests/tools/record_packet_seeds6.sh [OUT_DIR]
set -euo pipefail
out=${1:-$(dirname "$0")/../fuzz/corpus/packet_decoder_fuzz}
a=twseed6-a-$$ b=twseed6-b-$$
cleanup() { ip netns del "$a" 2>/dev/null || true; ip netns del "$b" 2>/dev/null || true; }
trap cleanup EXIT
ip netns add "$a"; ip netns add "$b"
for ns in "$a" "$b"; do
  ip netns exec "$ns" sysctl -qw net.ipv6.conf.all.disable_ipv6=0 net.ipv6.conf.default.disable_ipv6=0
done
ip -n "$a" link add tws6a type veth peer name tws6b netns "$b"
ip -n "$a" -6 addr add fd00:232::1/64 dev tws6a nodad; ip -n "$b" -6 addr add fd00:232::2/64 dev tws6b nodad
ip -n "$a" link set tws6a up; ip -n "$b" link set tws6b up
mkdir -p "$out"

# The recorder: a packet socket on tws6a, datagrams from the IP header on
# (ETH_P_ALL: a socket for ETH_P_IPV6 alone would miss the outgoing ones).
ip netns exec "$a" python3 - "$out" <<'PY' &
import os, socket, sys, time
out = sys.argv[1]
s = socket.socket(socket.AF_PACKET, socket.SOCK_DGRAM, socket.htons(3))
s.bind(("tws6a", 0)); s.settimeout(0.5)
n, end = 0, time.time() + 5
while time.time() < end and n < 40:
    try: d = s.recv(65535)
    except socket.timeout: continue
    if not d or d[0] >> 4 != 6: continue
    with open(os.path.join(out, "real6-%02d" % n), "wb") as f: f.write(d)
    if n % 5 == 0:
        with open(os.path.join(out, "cut6-%02d" % n), "wb") as f: f.write(d[:n % 61 + 1])
    n += 1
PY
rec=$!
sleep 0.5
ip netns exec "$a" python3 -c '
import socket, subprocess, threading, time
l = socket.socket(socket.AF_INET6); l.bind(("fd00:232::1", 8080)); l.listen(1)
u = socket.socket(socket.AF_INET6, socket.SOCK_DGRAM); u.bind(("fd00:232::1", 5353))
def serve():
    c, _ = l.accept(); c.sendall(b"HTTP/1.0 200 OK\r\n\r\nhello"); c.close()
threading.Thread(target=serve, daemon=True).start()
subprocess.run(["ip", "netns", "exec", "'"$b"'", "python3", "-c",
  "import socket\nc=socket.create_connection((\"fd00:232::1\",8080)); c.sendall(b\"GET / HTTP/1.0\\r\\n\\r\\n\"); c.recv(100); c.close()\n"
  "u=socket.socket(socket.AF_INET6, socket.SOCK_DGRAM); u.sendto(b\"\\x12\\x34query\", (\"fd00:232::1\", 5353))\n"
  "u.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_DSTOPTS, bytes([0, 0, 1, 4, 0, 0, 0, 0]))\n"
  "u.sendto(b\"opts\", (\"fd00:232::1\", 5353))"])
time.sleep(0.3)
'
ip netns exec "$b" ping -6 -c 1 -W 1 fd00:232::1 >/dev/null || true
ip netns exec "$b" ping -6 -c 1 -W 1 -s 3000 fd00:232::1 >/dev/null || true
wait $rec
ls "$out" | grep -c '6-'
