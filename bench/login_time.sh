#!/usr/bin/env bash
# Login to main frame started, against the demo server, for a user whose database holds a
# few years of data: median, min and max of several runs of the built program.
#
#   bench/login_time.sh [build folder, default build] [runs, default 9]
#
# Both moments are taken where the demo server reads a request, stamped as its lines arrive:
# the login request, and the keep-alive that the program sends once the last loading step
# has started the main frame.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/../scripts/demo_account.sh"
build="${1:-$(dirname "$0")/../build}"
runs="${2:-9}"
work=$(mktemp -d)
server=
program=
finish() {
  [ -z "$program" ] || { kill -TERM "$program" 2>/dev/null; wait "$program" 2>/dev/null || true; }
  [ -z "$server" ] || { kill -TERM "$server" 2>/dev/null; wait "$server" 2>/dev/null || true; }
  rm -rf "$work"
}
trap finish EXIT

# Each line of the server with the time it came, in us.
stamp() { while IFS= read -r line; do echo "${EPOCHREALTIME/./} $line"; done; }
# The time of the server's nth line that contains text, or nothing.
nth_time() { grep -F "$2" "$work/server.out" | sed -n "$1p" | cut -d' ' -f1; }
count() { grep -cF "$1" "$work/server.out" || true; }
more_than() { [ "$(count "$2")" -gt "$1" ]; }
have_port() { port=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\),.*/\1/p' "$work/server.out"); [ -n "$port" ]; }

copy_program "$build/dist" "$work/dist"
: > "$work/server.out"  # read before the server's first line comes
"$build/quorv_demo_server" 0 > >(stamp > "$work/server.out") &
server=$!
wait_for 5 have_port

# The demo account and this server's port, also as the backup server.
set_demo_account "$work/dist/Quorv10.ini" LoginURL=127.0.0.1 LoginPort="$port" LoginURLBak=127.0.0.1 \
  LoginPortBak="$port"

# The user's database, as the first login makes it, with the rows the loading steps read.
cp "$work/dist/Quorv10.db" "$work/user.db"
sqlite3 -bail "$work/user.db" <<'SQL'
BEGIN;
UPDATE tHealthElement SET userNo = 1001;
CREATE TEMP TABLE n AS WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c WHERE i < 20000) SELECT i FROM c;
CREATE TEMP VIEW day AS SELECT i, CAST(strftime('%Y%m%d', 'now', '-' || i || ' days') AS INTEGER) AS d,
  datetime('now', '-' || i || ' days') AS t FROM n;
INSERT INTO tPublicMess SELECT i, 'public ' || hex(randomblob(60)), t, t, 1, '1', '', t FROM day WHERE i <= 2000;
INSERT INTO tUserMess SELECT 1001, i, 'user ' || hex(randomblob(60)), t, t, 1, '1', '', t FROM day WHERE i <= 2000;
INSERT INTO tUserTypeMess SELECT '1', i, 'type ' || hex(randomblob(60)), t, t, 1, '1', '', t FROM day WHERE i <= 1000;
INSERT INTO tUserGroupMess SELECT 1, i, 'group ' || hex(randomblob(60)), t, t, 1, '1', '', t FROM day WHERE i <= 1000;
INSERT INTO tArticle (articleNo, articleType, title, articleSimpleBody, articleBody, pubTime, modifyTime)
  SELECT i, 1, 'article ' || i, hex(randomblob(100)), hex(randomblob(1000)), t, t FROM day WHERE i <= 3000;
INSERT INTO tFocusArticle (focusArticleNo, articleType, title, articleSimpleBody, articleBody, pubTime, modifyTime)
  SELECT i, 1, 'focus ' || i, hex(randomblob(100)), hex(randomblob(1000)), t, t FROM day WHERE i <= 1000;
INSERT INTO tUserAssessReport (userNo, assessDate, assessPoint_all, assessRank_all, assessNote_all, syncNo, status)
  SELECT 1001, d, 60 + i % 40, 1 + i % 100, 'note ' || i, i, '1' FROM day WHERE i <= 1000;
INSERT INTO tHealthElementDataList (userNo, recNo, recDate, valueNo, value, healthElementID, valueGeneratedTime, status)
  SELECT 1001, i, d, 700 + i % 50, (700 + i % 50) / 10.0, 'weight', t, '1' FROM day;
INSERT INTO tUserActionDataList (userNo, recNo, recDate, actionNo, responseType, syncFlag, syncNo, status, modifyTime)
  SELECT 1001, i, d, i % 20, '1', '1', i, '1', t FROM day WHERE i <= 2000;
INSERT INTO tHealthNote (userNo, noteNo, noteDate, title, content, createTime, syncFlag, syncNo, status, modifyTime)
  SELECT 1001, i, d, 'note ' || i, hex(randomblob(200)), t, '1', i, '1', t FROM day WHERE i <= 1000;
INSERT INTO tUserOpData (userNo, recDate, computerUseSecond, mskbUseSecond, browerUseSecond, syncNo, status, modifyTime)
  SELECT 1001, d, 3600 + i, 1800, 900, i, '1', t FROM day WHERE i <= 1000;
INSERT INTO tWeatherForecast (areaCodeNo, solarCalendar, dayNight, forecastMessNo, weatherNo, status, modifyTime)
  SELECT 0, d, dn, i, 1, '1', t FROM day, (SELECT 'D' AS dn UNION ALL SELECT 'N') WHERE i <= 500;
INSERT INTO tLiveIndex (areaCodeNo, solarCalendar, liveIndexMessNo, indexID, indexLevel, status, modifyTime)
  SELECT 0, d, i, 'index' || k, '1', '1', t FROM day, (SELECT 1 AS k UNION SELECT 2 UNION SELECT 3 UNION SELECT 4
  UNION SELECT 5 UNION SELECT 6 UNION SELECT 7 UNION SELECT 8 UNION SELECT 9 UNION SELECT 10) WHERE i <= 100;
COMMIT;
SQL

times_login=()
times_start=()
for _ in $(seq 1 "$runs"); do
  rm -rf "$work/dist/Log"
  mkdir -p "$work/dist/quorv_demo01"
  cp "$work/user.db" "$work/dist/quorv_demo01/Quorv10_demo01.db"
  logins=$(count 'login [')
  alive=$(count 'keep-alive')
  start=${EPOCHREALTIME/./}
  XDG_RUNTIME_DIR="$work" HOME="$work" "$work/dist/quorvix" /autoRun > /dev/null 2>&1 &
  program=$!
  wait_for 60 more_than "$alive" 'keep-alive'
  login=$(nth_time $((logins + 1)) 'login [')
  ready=$(nth_time $((alive + 1)) 'keep-alive')
  kill -TERM "$program"
  wait "$program" || true
  program=
  times_login+=($((ready - login)))
  times_start+=($((ready - start)))
done
report "login to main frame started" "${times_login[@]}"
report "process start to main frame started" "${times_start[@]}"
