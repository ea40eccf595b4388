# A second launcher on the same install directory while the first patches: it touches no file,
# brings the first one's window to the front (here from under another program's window) and exits;
# the first run goes on to Ready. A launcher started while quorvel-patch works on the directory
# has no window to show: it says so in a message box and exits.
e2e_make_demo
cp -a "$E2E_INSTALL" "$E2E_WORK/install-before"
e2e_set_install_dir "$E2E_INSTALL"
e2e_slow_all_files 0.25 2048
e2e_start_server
e2e_start_launcher p q r 1
first_pid=$E2E_LAUNCHER_PID
e2e_main_window 60
e2e_wait_for 30 e2e_was_requested /tzan/PatchInfo.ini || e2e_fail "no patch description requested"
sleep 1
e2e_shot 01-first-patching
logo_area="250x50+80+10"   # the logo: the same in every state of the window

# Another program's window over the launcher's (notepad opens large at the screen's top left).
"$WINE" notepad >/dev/null 2>&1 &
e2e_wait_for 30 xdotool search --onlyvisible --name 'Notepad' >/dev/null || e2e_fail "notepad did not open"
sleep 1.5
e2e_shot 02-covered
e2e_differ 01-first-patching 02-covered "$logo_area" || e2e_fail "notepad does not cover the launcher"

lists_before="$(e2e_requested /tzan/patch.txt)"
e2e_start_launcher a b c 1
e2e_wait_exit 30 || e2e_fail "the second launcher did not exit"
E2E_LAUNCHER_PID=$first_pid
e2e_launcher_running || e2e_fail "the first launcher ended"
sleep 1
e2e_shot 03-first-brought-to-front
e2e_differ 01-first-patching 03-first-brought-to-front "$logo_area" \
  && e2e_fail "the first launcher's window was not brought to the front"
[ "$(e2e_requested /tzan/patch.txt)" = "$lists_before" ] || e2e_fail "the second launcher fetched a patch list"
[ -z "$(find "$E2E_START_DIR" -mindepth 1 -print -quit)" ] || e2e_fail "the second launcher left files in its start directory"

e2e_faults '{}'
e2e_wait_for 180 e2e_version_is "$E2E_INSTALL/VersionInfo.ini" 103 \
  || e2e_fail "the first run did not reach 103 (now $(e2e_ini_version "$E2E_INSTALL/VersionInfo.ini"))"
e2e_wait_blinking 60 || e2e_fail "the first run did not reach Ready"
e2e_same_tree "$E2E_DEMO/expected" "$E2E_INSTALL" || e2e_fail "install differs from the expected tree: $(head -20 "$E2E_WORK/tree.diff")"
e2e_shot 04-first-ready
e2e_click_client $E2E_CLOSE_BUTTON_CENTRE
e2e_wait_exit 30 || e2e_fail "the close button did not close the launcher"
e2e_expect_no_leftovers

# quorvel-patch holds the directory (its patch description comes slowly, yet within the two minutes
# a small document may take).
e2e_faults '{"/tzan/PatchInfo.ini": {"mode": "slow", "delay": 1.0, "chunk": 48}}'
infos_before="$(e2e_requested /tzan/PatchInfo.ini)"
"$WINE" "$E2E_WIN64/cli/quorvel-patch.exe" --install-dir "$(winepath_of "$E2E_INSTALL")" \
  --patch-list "$QUORVEL_PATCH_LIST_URL" >"$E2E_WORK/cli.out" 2>&1 &
cli_pid=$!
cli_fetching() { [ "$(e2e_requested /tzan/PatchInfo.ini)" -gt "$infos_before" ]; }
e2e_wait_for 30 cli_fetching || e2e_fail "quorvel-patch did not start"
lists_before="$(e2e_requested /tzan/patch.txt)"
e2e_start_launcher a b c 1
box="$(e2e_find_window "^$E2E_APP_BOX_TITLE\$" 60)" || e2e_fail "no message about the other run"
sleep 0.5
e2e_shot 05-another-run-message
e2e_dismiss "$box"
e2e_wait_exit 30 || e2e_fail "the launcher did not exit after the message"
[ "$(e2e_requested /tzan/patch.txt)" = "$lists_before" ] || e2e_fail "the launcher fetched a patch list"
kill -0 "$cli_pid" 2>/dev/null || e2e_fail "quorvel-patch ended before the launcher was tried"
wait "$cli_pid" || e2e_fail "quorvel-patch failed: $(cat "$E2E_WORK/cli.out")"
