#!/bin/sh
# Runs a test on a network of its own: a new network namespace with only the loopback, up,
# and a mount namespace in which /etc/resolv.conf names 127.0.0.1 alone as name server,
# with the resolver's own options. The test is that name server, on UDP port 53. The
# loopback also has an address of the documentation's range: getaddrinfo with
# AI_ADDRCONFIG, as ser2net asks, finds no IPv4 on a machine with the loopback's alone.
set -eu
exec unshare --user --map-root-user --mount --net -- sh -eu -c '
    conf=$(mktemp)
    echo "nameserver 127.0.0.1" >"$conf"
    mount --bind "$conf" /etc/resolv.conf
    rm "$conf"
    ip link set lo up
    ip address add 192.0.2.1/32 dev lo
    ORVANTIDE_OWN_RESOLVER=1 exec "$@"' own-network "$@"
