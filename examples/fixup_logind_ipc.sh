#!/bin/sh
# Fix-up script of the logind IPC check: systemd-logind must not remove a
# database user's shared memory and semaphores when that user logs out.
# Prints the setting to correct and the file that holds it: KEY,FILE.
conf=/etc/systemd/logind.conf
[ -f "$conf" ] || exit 1
printf 'RemoveIPC,%s\n' "$conf"
