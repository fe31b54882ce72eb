#!/usr/bin/env bash
# Runs a command in a private mount namespace in which the CA bundle that Wine trusts also
# holds a test CA made for this run. The machine's own trust store is never changed.
# (Placeholder: runs the command as it is until the release server exists.)
exec "$@"
