#!/usr/bin/env bash
# Scheduled backups as a user sets them up: the systemd user units written,
# checked by systemd-analyze, enabled, listed and removed through a
# systemctl that stands for the user's service manager (none runs here);
# without one, the crontab line to add by hand. And /b= --rotate.
#   schedule_e2e.sh TESSMIRA_BINARY
set -u
work=$(mktemp -d /tmp/tessmira-schedule-XXXXXX)
trap 'rm -rf "$work"' EXIT
fails=0
check() { # check NAME EXPECTED ACTUAL
  [ "$2" = "$3" ] && return
  fails=$((fails + 1))
  printf 'FAIL %s\n  expected: %s\n  actual:   %s\n' "$1" "$2" "$3"
}
mkdir -p "$work/prog" "$work/home" "$work/run" "$work/bin" "$work/tree" "$work/My 100% Photos"
chmod 700 "$work/run"
program="$work/prog/tessmira"
cp "${1:?binary}" "$program"
export HOME="$work/home" XDG_RUNTIME_DIR="$work/run"
unset XDG_DATA_HOME XDG_CONFIG_HOME DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
units="$HOME/.config/systemd/user"
run() { "$program" "$@" >"$work/out" 2>"$work/err"; echo $?; }
out() { cat "$work/out"; }
err_has() { grep -q -- "$1" "$work/err" && echo yes; }
echo a >"$work/tree/a.txt"

# No user session: the manager cannot be reached.
cat >"$work/bin/systemctl" <<'STUB'
#!/bin/sh
echo "Failed to connect to bus: No medium found" >&2
exit 1
STUB
chmod +x "$work/bin/systemctl"
export PATH="$work/bin:$PATH"
check "no session: refused, the crontab line given" \
  "1 yes @daily '$program' '/b=$work/My 100\\% Photos' '--scheduled' '--rotate' no" \
  "$(run "--schedule=$work/My 100% Photos" --every=day --rotate) \
$(err_has "no systemd user session") $(out) $([ -e "$units" ] && echo yes || echo no)"

# A manager that answers, keeping what it was asked.
cat >"$work/bin/systemctl" <<STUB
#!/bin/sh
echo "\$*" >>"$work/calls"
case "\$*" in *NextElapseUSecRealtime*) echo "Thu 2026-12-10 00:00:00 UTC" ;; esac
exit 0
STUB
# The unit's name is the folder's as systemd itself escapes a path.
name="tessmira-backup-$(systemd-escape --path "$work/My 100% Photos")"
check "scheduled" "0 scheduled: /b=$work/My 100% Photos --rotate every day" \
  "$(run "--schedule=$work/My 100% Photos" --every=day --rotate) $(out)"
check "its timer and service" "$name.service $name.timer" "$(cd "$units" && echo *)"
check "enabled after a reload" "--user daemon-reload|--user enable --now $name.timer" \
  "$(grep -v show-environment "$work/calls" | paste -sd'|')"
check "every day, a missed run made up" "OnCalendar=daily Persistent=true" \
  "$(grep -E '^(OnCalendar|Persistent)=' "$units/$name.timer" | paste -sd' ')"
check "the service runs the backup, then the rotation" \
  "ExecStart=\"$program\" \"/b=$work/My 100%% Photos\" \"--scheduled\" \"--rotate\"" \
  "$(grep '^ExecStart=' "$units/$name.service")"
if command -v systemd-analyze >/dev/null; then
  check "systemd-analyze finds nothing to say" "0 " \
    "$(cd "$units" && systemd-analyze verify --user "./$name.timer" >"$work/verify" 2>&1; echo "$? $(cat "$work/verify")")"
else
  echo "systemd-analyze missing: the units' check is left out"
fi
check "listed with the next run" \
  "0 $work/My 100% Photos	every day, then /r	next run: Thu 2026-12-10 00:00:00 UTC" \
  "$(run --schedules) $(out)"
check "scheduled again: replaced" "0 hourly 1" \
  "$(run "--schedule=$work/My 100% Photos" --every=hour) \
$(sed -n 's/^OnCalendar=//p' "$units/$name.timer") $(ls "$units" | grep -c timer)"
check "a second folder" "0 2" "$(run "--schedule=$work/tree" --every=week) $(run --schedules >/dev/null; out | wc -l)"
: >"$work/calls"
check "unscheduled: disabled and removed" "0 yes no" \
  "$(run "--unschedule=$work/My 100% Photos") $(grep -qF "disable --now $name.timer" "$work/calls" && echo yes) \
$([ -e "$units/$name.timer" ] || [ -e "$units/$name.service" ] && echo yes || echo no)"
check "unscheduled twice: nothing to remove" "1 yes" \
  "$(run "--unschedule=$work/My 100% Photos") $(err_has "is scheduled")"
check "--every is needed, and only day, week or hour" "2 2" \
  "$(run "--schedule=$work/tree") $(run "--schedule=$work/tree" --every=month)"
check "a missing folder is not scheduled" "1" "$(run "--schedule=$work/nowhere" --every=day)"

# /b= --rotate: the backup, then the generations turned, each logged.
check "/b= --rotate backs up, then rotates" "0 yes no" \
  "$(run "/b=$work/tree" --rotate) $([ -f "$HOME/Backup/Tessmira/F1/tree/a.txt" ] && echo yes) \
$([ -e "$HOME/Backup/Tessmira/F0/tree/a.txt" ] && echo yes || echo no)"
check "both runs logged" "/b= /r" "$(run --log >/dev/null; out | cut -f2 | cut -c1-3 | paste -sd' ')"

# A scheduled run that fails tells the desktop (a notification on the session
# bus, watched here) and leaves its line for the viewer's next start; a run
# by hand does neither.
if command -v dbus-run-session >/dev/null && command -v dbus-monitor >/dev/null; then
  # shellcheck disable=SC2016 # expanded by the inner shell
  dbus-run-session -- sh -c '
    dbus-monitor --session "interface=org.freedesktop.Notifications" >"$1/monitor" 2>/dev/null &
    watcher=$!
    for _ in $(seq 1 400); do grep -q NameAcquired "$1/monitor" 2>/dev/null && break; sleep 0.05; done
    "$2" "/b=$1/nowhere"
    "$2" "/b=$1/gone" --scheduled
    for _ in $(seq 1 400); do grep -q "gone ended" "$1/monitor" && break; sleep 0.05; done
    kill $watcher' sh "$work" "$program" >/dev/null 2>&1
  check "the failed scheduled run notified, the run by hand not" "1 0" \
    "$(grep -c "string \"/b=$work/gone ended with exit status 1: no such folder" "$work/monitor") \
$(grep -c nowhere "$work/monitor")"
  check "and noted for the viewer" "1 yes" \
    "$(wc -l <"$work/prog/TesmiFail.txt") $(grep -q "/b=$work/gone" "$work/prog/TesmiFail.txt" && echo yes)"
else
  echo "dbus-run-session or dbus-monitor missing: the notification's check is left out"
fi

[ "$fails" -eq 0 ] && echo "schedule: all passed"
[ "$fails" -eq 0 ]
