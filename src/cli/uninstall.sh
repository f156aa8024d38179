#!/usr/bin/env sh
set -eu

# Uninstalls Kiv that was installed using the install.sh script

# Succeeds when no installation of any channel is left. Only whether the
# count is zero matters, so ls is good enough for any file name.
# shellcheck disable=SC2012
check_remaining_installations() {
    if [ "$(uname -s)" = "Darwin" ]; then
        remaining=$(ls -d /Applications/Kiv*.app 2>/dev/null | wc -l)
    else
        remaining=$(ls -d "$HOME/.local/kiv"*.app 2>/dev/null | wc -l)
    fi
    [ "$remaining" -eq 0 ]
}

prompt_remove_preferences() {
    printf '%s' "Do you want to keep your Kiv preferences? [Y/n] "
    read -r response
    case "$response" in
        [nN] | [nN][oO])
            rm -rf "$HOME/.config/kiv"
            printf '%s\n' "Preferences removed."
            ;;
        *)
            printf '%s\n' "Preferences kept."
            ;;
    esac
}

linux() {
    suffix=""
    if [ "$channel" != "stable" ]; then
        suffix="-$channel"
    fi

    case "$channel" in
        stable)
            appid="@STABLE_APP_ID@"
            db_suffix="stable"
            ;;
        nightly)
            appid="@NIGHTLY_APP_ID@"
            db_suffix="nightly"
            ;;
        preview)
            appid="@PREVIEW_APP_ID@"
            db_suffix="preview"
            ;;
        dev)
            appid="@DEV_APP_ID@"
            db_suffix="dev"
            ;;
        *)
            printf '%s\n' "Unknown release channel: ${channel}. Using stable app ID."
            appid="@STABLE_APP_ID@"
            db_suffix="stable"
            ;;
    esac

    rm -rf "$HOME/.local/kiv$suffix.app"
    rm -f "$HOME/.local/bin/kiv"
    rm -f "$HOME/.local/share/applications/${appid}.desktop"
    rm -rf "$HOME/.local/share/kiv/db/0-$db_suffix"
    rm -f "$HOME/.local/share/kiv/kiv-$db_suffix.sock"

    if check_remaining_installations; then
        rm -rf "$HOME/.local/share/kiv"
        prompt_remove_preferences
    fi

    rm -rf "$HOME/.kiv_server"
}

macos() {
    app="Kiv.app"
    db_suffix="stable"
    app_id="@STABLE_APP_ID@"
    case "$channel" in
        nightly)
            app="Kiv Nightly.app"
            db_suffix="nightly"
            app_id="@NIGHTLY_APP_ID@"
            ;;
        preview)
            app="Kiv Preview.app"
            db_suffix="preview"
            app_id="@PREVIEW_APP_ID@"
            ;;
        dev)
            app="Kiv Dev.app"
            db_suffix="dev"
            app_id="@DEV_APP_ID@"
            ;;
    esac

    if [ -d "/Applications/$app" ]; then
        rm -rf "/Applications/$app"
    fi

    rm -f "$HOME/.local/bin/kiv"
    rm -rf "$HOME/Library/Application Support/Kiv/db/0-$db_suffix"
    rm -rf "$HOME/Library/Application Support/com.apple.sharedfilelist/com.apple.LSSharedFileList.ApplicationRecentDocuments/$app_id".sfl*
    rm -rf "$HOME/Library/Caches/$app_id"
    rm -rf "$HOME/Library/HTTPStorages/$app_id"
    rm -rf "$HOME/Library/Preferences/$app_id.plist"
    rm -rf "$HOME/Library/Saved Application State/$app_id.savedState"

    if check_remaining_installations; then
        rm -rf "$HOME/Library/Application Support/Kiv"
        rm -rf "$HOME/Library/Logs/Kiv"
        prompt_remove_preferences
    fi

    rm -rf "$HOME/.kiv_server"
}

main() {
    platform="$(uname -s)"
    channel="${KIV_CHANNEL:-stable}"

    case "$platform" in
        Darwin)
            macos
            ;;
        Linux)
            linux
            ;;
        *)
            printf '%s\n' "Unsupported platform $platform" >&2
            exit 1
            ;;
    esac

    printf '%s\n' "Kiv has been uninstalled"
}

main "$@"
