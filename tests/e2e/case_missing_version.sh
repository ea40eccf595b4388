# No "VersionInfo.ini": the version message, no worker (the patch description is never asked
# for); the window stays usable and closes with its close command (Alt+F4).
e2e_make_demo
rm -f "$E2E_INSTALL/VersionInfo.ini"
e2e_set_install_dir "$E2E_INSTALL"
e2e_start_server
e2e_start_launcher a b c 0
box="$(e2e_find_window "^$E2E_APP_BOX_TITLE\$" 60)" || e2e_fail "no version message"
sleep 0.5
e2e_shot 01-version-message
e2e_dismiss "$box"
e2e_main_window 10
sleep 2
e2e_shot 02-connecting-without-worker
[ "$(e2e_requested /tzan/patch.txt)" -ge 1 ] || e2e_fail "the patch list was not fetched"
[ "$(e2e_requested /tzan/PatchInfo.ini)" = 0 ] || e2e_fail "a worker ran without an installed version"
e2e_key "$E2E_WINDOW" alt+F4
e2e_wait_exit 30 || e2e_fail "the close command did not close the launcher"
[ ! -e "$E2E_INSTALL/VersionInfo.ini" ] || e2e_fail "a version was recorded"
e2e_expect_no_leftovers
