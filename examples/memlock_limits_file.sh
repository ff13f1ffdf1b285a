#!/bin/sh
# Fix-up script of the locked-memory tasks: prints the path of the limits
# file where the memlock limit belongs. That is the limits.d file that already
# sets memlock for someone (PAM reads it last, so its value wins), otherwise
# limits.conf.
for file in /etc/security/limits.d/*.conf; do
    [ -f "$file" ] || continue
    if grep -Eq '^[[:space:]]*[^#[:space:]]+[[:space:]]+(soft|hard|-)[[:space:]]+memlock[[:space:]]' "$file"; then
        echo "$file"
        exit 0
    fi
done
echo /etc/security/limits.conf
