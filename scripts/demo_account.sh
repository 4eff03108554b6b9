# Sourced by the run command and the login benchmark.

# set_demo_account <settings file> <key=value>...: writes the demo server's one account,
# with automatic login, into the [Login] section in place (CRLF lines: the \r stays),
# then the further key=value pairs given (the server's address and ports, the article
# service's address); a key is written where it stands in the file.
set_demo_account() {
  local ini=$1
  shift
  local kv
  for kv in LoginAccount=demo LoginPassword=demo123 UserID=demo01 UserNo=1001 RememberPassword=1 \
            AutoLoginWhenRun=1 "$@"; do
    # "|" as the delimiter: a value may be an address with slashes.
    sed -i -E "s|^${kv%%=*}=[^\r]*|${kv}|" "$ini"
  done
}
