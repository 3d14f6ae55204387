# Sourced by the scripts that run Windows programs. ostrelWineEnv <build-dir> [prefix-dir]
# exports the environment of the build's own Wine prefix.
ostrelWineEnv() {
    ostrelBuild=$(cd "$1" && pwd)
    export WINEPREFIX="${2:-$ostrelBuild/wineprefix}"
    export WINEDEBUG=-all
    # No Mono/Gecko dialogs, and no .desktop files leaking into the host's menus.
    export WINEDLLOVERRIDES="mscoree=d;mshtml=d;winemenubuilder.exe=d"
    # Wine links the user's shell folders into $HOME: keep the host's untouched.
    export HOME="$ostrelBuild/home"
    mkdir -p "$HOME"
}
