# Shell helpers of the scripts that run the Windows programs under Wine in a session of their
# own.  Sourced (". tools/common/wine-session.sh") with the repository root as the current folder.

# build_windows NAME: installs what is needed, then builds the windows preset in build/windows,
# configuring it first when needed.  The build's output goes to build/windows/NAME-build.log and
# shows only when the build fails, which ends the script.  Sets $build to the build folder.
build_windows() {
    sh tools/install-deps.sh
    build="$PWD/build/windows"
    [ -f "$build/CMakeCache.txt" ] || cmake --preset windows >/dev/null
    if ! cmake --build --preset windows >"$build/$1-build.log" 2>&1; then
        cat "$build/$1-build.log" >&2
        exit 1
    fi
}

# prepare_prefix: makes $WINEPREFIX on its first use.  Call it inside the session's display.
prepare_prefix() {
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "preparing the Wine prefix $WINEPREFIX" >&2
        WINEDEBUG=-all sh tests/windows/prepare-prefix.sh >/dev/null
    fi
}
