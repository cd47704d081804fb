#!/bin/sh
# Runs a test against a throwaway PostgreSQL cluster (pg_virtualenv sets PGHOST,
# PGPORT, PGUSER, PGPASSWORD, PGDATABASE). Without the server programs the
# test is reported as skipped (exit 77), never as passed; CI, which installs
# them, sets LOCATOR_REQUIRE_POSTGRESQL=1 so that it fails instead.
if ! command -v pg_virtualenv >/dev/null 2>&1 || ! ls /usr/lib/postgresql/*/bin/initdb >/dev/null 2>&1; then
  echo "PostgreSQL server programs (postgresql, postgresql-common) are not installed"
  [ "${LOCATOR_REQUIRE_POSTGRESQL:-}" = 1 ] && exit 1
  echo "skipped"
  exit 77
fi
exec pg_virtualenv "$@"
