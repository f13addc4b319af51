# The one set-up of "a sandbox with a private MariaDB", sourced by
# scripts/demo and bench/compare. sandbox_start builds the tool and the
# sandbox helper (tests/tools/in_sandbox.cpp), starts a throw-away MariaDB
# server with the panel tables (tests/harness/mariadb-fixture), and makes a
# sandbox directory with the sample panel configuration, the server's
# password in the password file and the panel's product root; in_sandbox
# runs a command in a private mount namespace in which that directory's
# etc/ is seen at /etc (and the machine's own panel configuration, MariaDB
# option files and accounts are not), with the panel's account (zevadm
# 4711, group zevadm 4712). Nothing of the machine changes; all of it is
# removed when the script ends. Set: top, build, tool, work, socket,
# password; MYSQL_UNIX_PORT and ZEV_DB_NAME exported.
sandbox_start() {
  top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  build=${VERSTALLY_BUILD_DIR:-$top/build}
  tool=$build/verstally
  cmake -S "$top" -B "$build" -DBUILD_TESTING=ON >/dev/null
  cmake --build "$build" -j"$(nproc)" --target verstally in_sandbox >/dev/null
  work=$(mktemp -d /var/tmp/verstally-sandbox.XXXXXX)
  chmod 755 "$work"
  trap sandbox_stop EXIT
  "$top/tests/harness/mariadb-fixture" start "$work/db" "$top/sql/schema.sql" >/dev/null
  socket=$(sed -n 's/^socket=//p' "$work/db/mariadb.facts")
  password=$(sed -n 's/^password=//p' "$work/db/mariadb.facts")
  mkdir -p "$work/etc/zev" "$work/product/tmp"
  sed "s|^PRODUCT_ROOT_D[[:space:]].*|PRODUCT_ROOT_D\t$work/product|" "$top/examples/zev.conf" >"$work/etc/zev/zev.conf"
  printf '%s' "$password" >"$work/etc/zev/.zev.shadow"
  chmod 600 "$work/etc/zev/.zev.shadow"
  chown 4711:4712 "$work/product/tmp"
  export MYSQL_UNIX_PORT=$socket ZEV_DB_NAME=zev
}
sandbox_stop() {
  "$top/tests/harness/mariadb-fixture" stop "$work/db" >/dev/null 2>&1 || true
  rm -rf "$work"
}
in_sandbox() { "$build/tests/in_sandbox" --panel-account "$work" "$@"; }
