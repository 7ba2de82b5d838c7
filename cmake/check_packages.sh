#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Checks Debian packages before they go out: each is of ARCH, holds /usr/share/doc/<package>/copyright, and no
# program or library in it needs a symbol version of the C or C++ library newer than the oldest Debian release
# the packages are for (ECRLINK_OLDEST_DEBIAN, default 12: glibc 2.36, libstdc++ GLIBCXX_3.4.30), so that they
# install and run there and on every later release. Built on a newer release, they would not: the check fails.
#   check_packages.sh ARCH PACKAGE.deb...
set -euo pipefail
arch=$1
shift
oldest=${ECRLINK_OLDEST_DEBIAN:-12}
case "$oldest" in
12) floor=(GLIBC_2.36 GLIBCXX_3.4.30) ;;
13) floor=(GLIBC_2.41 GLIBCXX_3.4.33) ;;
*) echo "ECRLINK_OLDEST_DEBIAN is 12 or 13, not $oldest" >&2; exit 2 ;;
esac
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The newest of the versions given (GLIBC_2.34 ...), of one library.
newest() { sort -V | tail -n 1; }

failed=0
for deb in "$@"; do
    name=$(dpkg-deb -f "$deb" Package)
    problems=()
    [ "$(dpkg-deb -f "$deb" Architecture)" = "$arch" ] || problems+=("architecture $(dpkg-deb -f "$deb" Architecture), not $arch")
    contents=$(dpkg-deb -c "$deb")
    grep -q " \./usr/share/doc/$name/copyright$" <<<"$contents" || problems+=("no /usr/share/doc/$name/copyright")
    rm -rf "$work/tree"
    dpkg-deb -x "$deb" "$work/tree"
    needed=()
    while IFS= read -r -d '' file; do
        [ "$(head -c 4 "$file" | od -An -c | tr -d ' ')" = "177ELF" ] || continue
        versions=$(readelf -V -W "$file" | grep -o 'Name: GLIBC\(XX\)\?_[0-9.]*' | cut -d' ' -f2 | sort -u)
        for limit in "${floor[@]}"; do
            library=${limit%_*}
            mine=$(echo "$versions" | grep "^${library}_" | newest || true)
            [ -n "$mine" ] || continue
            needed+=("$mine")
            if [ "$(printf '%s\n%s\n' "$mine" "$limit" | newest)" != "$limit" ]; then
                symbols=$(readelf --dyn-syms -W "$file" | grep -o "[^ ]*@$mine\b" | sort -u | paste -sd ' ')
                problems+=("${file#"$work/tree"} needs $mine ($symbols), newer than Debian $oldest's $limit")
            fi
        done
    done < <(find "$work/tree" -type f -print0)
    if [ ${#problems[@]} -gt 0 ]; then
        for problem in "${problems[@]}"; do echo "$(basename "$deb"): $problem" >&2; done
        failed=1
    else
        most="no compiled code"
        if [ ${#needed[@]} -gt 0 ]; then
            most="needs at most"
            for limit in "${floor[@]}"; do
                most+=" $(printf '%s\n' "${needed[@]}" | grep "^${limit%_*}_" | newest || true)"
            done
        fi
        echo "$(basename "$deb"): $arch, copyright, $most (Debian $oldest: ${floor[*]}); Depends: $(dpkg-deb -f "$deb" Depends)"
    fi
done
[ "$failed" = 0 ] || { echo "packages refused (a package that needs a newer C library: build it on Debian $oldest, or set ECRLINK_OLDEST_DEBIAN)" >&2; exit 1; }
