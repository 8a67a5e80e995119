#!/bin/sh
# Runs a test in a network namespace of its own with only loopback up: a name
# it resolves or an address it dials never leaves the machine.
options=--net
[ "$(id -u)" -eq 0 ] || options="--net --map-root-user"
# shellcheck disable=SC2086
exec unshare $options -- sh -c 'ip link set lo up && exec "$@"' private-network "$@"
