#!/bin/sh
# Fix-up script of the reverse-path filter check on the private interconnect
# (eth1): strict filtering (1) drops the interconnect's asymmetric traffic,
# loose filtering (2) keeps it. Prints one entry per value to correct:
# current_KEY for the running value, config_KEY [FILE] for the configured one.
key=net.ipv4.conf.eth1.rp_filter
printf 'current_%s,config_%s /etc/sysctl.conf\n' "$key" "$key"
