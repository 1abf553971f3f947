# Sourced by the benchmarks, from the project's root.
#
# bench_package <MiB> <build dir>: prints the path of a real installer package
# of about that size, made once with wixl and kept in <build dir>/bench/packages.
# The payload is random, so the package's cabinet cannot compress it away.
bench_package() {
    local dir="$2/bench/packages"
    local msi="$dir/package-$1.msi"
    if [[ ! -f "$msi" ]]; then
        local tmp="$dir/make-$1"
        rm -rf "$tmp"
        mkdir -p "$tmp"
        cp packager/test/tool_* "$tmp/"
        head -c $(($1 * 1024 * 1024)) /dev/urandom >"$tmp/large.bin"
        (cd "$tmp" && wixl -o package.msi -D "ProductCode={6C1E0A51-7B43-4F3C-9E0B-2D5A31C7E0FF}" \
            -D Large=large.bin tool_package.wxs)
        mv "$tmp/package.msi" "$msi"
        rm -rf "$tmp"
    fi
    echo "$msi"
}
