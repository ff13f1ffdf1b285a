#!/usr/bin/env bash
# Installs the Debian packages the build and tests need, only when missing.
set -euo pipefail
need=()
command -v cmake >/dev/null 2>&1 || need+=(cmake)
command -v g++ >/dev/null 2>&1 || need+=(g++)
command -v make >/dev/null 2>&1 || need+=(make)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
[ -f /usr/include/gmock/gmock.h ] || need+=(libgmock-dev)
[ -f /usr/include/benchmark/benchmark.h ] || need+=(libbenchmark-dev)
# Manual pages, installation and package tests: scdoc renders the pages, man
# finds them, pkg-config and readelf check the installed tree, rpmbuild and
# dpkg-shlibdeps (which reads binaries with file) build the RPM and the DEB.
# The package task's node tests run the real rpm (in /usr/bin) and rpmbuild.
command -v scdoc >/dev/null 2>&1 || need+=(scdoc)
command -v man >/dev/null 2>&1 || need+=(man-db)
command -v pkg-config >/dev/null 2>&1 || need+=(pkgconf)
command -v readelf >/dev/null 2>&1 || need+=(binutils)
command -v rpmbuild >/dev/null 2>&1 || need+=(rpm)
command -v dpkg-shlibdeps >/dev/null 2>&1 || need+=(dpkg-dev)
command -v file >/dev/null 2>&1 || need+=(file)
# The distributions' own checkers judge the packages in CI.
command -v lintian >/dev/null 2>&1 || need+=(lintian)
command -v rpmlint >/dev/null 2>&1 || need+=(rpmlint)
if [ "${VXL_NEED_CLANG:-0}" = 1 ]; then
  command -v clang++ >/dev/null 2>&1 || need+=(clang)
  ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1 || need+=(libclang-rt-dev)
fi
if [ "${VXL_NEED_VALGRIND:-0}" = 1 ]; then
  command -v valgrind >/dev/null 2>&1 || need+=(valgrind)
fi
# Tools the test node needs inside: the account tools, ssh tools, util-linux.
command -v useradd >/dev/null 2>&1 || need+=(passwd)
command -v ssh-keygen >/dev/null 2>&1 || need+=(openssh-client)
command -v unshare >/dev/null 2>&1 || need+=(util-linux)
command -v ps >/dev/null 2>&1 || need+=(procps)
# The fleet collection and its tests: Ansible with community.general (the
# chroot connection reaches the simulated nodes), ansible-test's shell check,
# pytest, the real sshd that each simulated node runs, and pdsh for the
# fleet bench's baseline.
command -v ansible-playbook >/dev/null 2>&1 || need+=(ansible)
[ -d /usr/lib/python3/dist-packages/ansible_collections/community/general ] || need+=(ansible)
command -v shellcheck >/dev/null 2>&1 || need+=(shellcheck)
/usr/bin/python3 -c 'import pytest' >/dev/null 2>&1 || need+=(python3-pytest)
[ -x /usr/sbin/sshd ] || need+=(openssh-server)
command -v pdsh >/dev/null 2>&1 || need+=(pdsh)
if [ ${#need[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages: ${need[*]} (run as root to install them)" >&2
    exit 1
  fi
  echo "installing: ${need[*]}"
  apt-get update -qq
  mapfile -t need < <(printf '%s\n' "${need[@]}" | sort -u)
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}" >/dev/null
fi
