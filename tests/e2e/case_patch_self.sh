# The launcher run from the install directory patches itself: a version brings its own executable.
# The running file moves aside to QuorvelLauncher.exe.old, the new one takes its name, the run
# reaches Ready, and the next start (of the new executable) removes the ".old".
e2e_make_demo
e2e_install_up_to_date
cp "$E2E_EXE" "$E2E_INSTALL/QuorvelLauncher.exe"
# The new launcher: the same program with bytes of its own after the image, so it still runs.
cp "$E2E_EXE" "$E2E_WORK/new-launcher.exe"
printf 'QUORVEL-NEW-LAUNCHER-%s' "$RANDOM" >>"$E2E_WORK/new-launcher.exe"
cp "$E2E_WORK/new-launcher.exe" "$E2E_DEMO/server/tzan/patch/QuorvelLauncher.exe"
printf '[VERSION]\r\nversion=104\r\n[104]\r\n0=QuorvelLauncher.exe\r\n1=readme.txt\r\n' \
  >"$E2E_DEMO/server/tzan/PatchInfo.ini"
printf 'readme of 104' >"$E2E_DEMO/server/tzan/patch/readme.txt"
e2e_set_install_dir "$E2E_INSTALL"
e2e_start_server
E2E_EXE="$E2E_INSTALL/QuorvelLauncher.exe"
e2e_start_launcher a b c 1
e2e_main_window 60
e2e_wait_for 120 e2e_version_is "$E2E_INSTALL/VersionInfo.ini" 104 \
  || { e2e_shot 01-not-recorded; e2e_fail "version 104 was not recorded (now $(e2e_ini_version "$E2E_INSTALL/VersionInfo.ini"))"; }
e2e_wait_blinking 60 || { e2e_shot 01-not-ready; e2e_fail "the run did not reach Ready"; }
e2e_shot 01-ready-after-patching-itself
cmp -s "$E2E_WORK/new-launcher.exe" "$E2E_INSTALL/QuorvelLauncher.exe" || e2e_fail "the launcher was not replaced"
cmp -s "$E2E_WIN64/app/QuorvelLauncher.exe" "$E2E_INSTALL/QuorvelLauncher.exe.old" \
  || e2e_fail "the running launcher was not moved aside to QuorvelLauncher.exe.old"
[ "$(cat "$E2E_INSTALL/readme.txt")" = "readme of 104" ] || e2e_fail "the file after the launcher was not fetched"
e2e_no_temp_files "$E2E_INSTALL" || e2e_fail "temporary files left: $(find "$E2E_INSTALL" -name '*.qrtmp*')"
e2e_click_client $E2E_CLOSE_BUTTON_CENTRE
e2e_wait_exit 30 || e2e_fail "the close button did not close the launcher"

# The next start runs the new launcher, which is up to date and removes what was moved aside.
e2e_start_launcher a b c 1
e2e_main_window 60
e2e_wait_blinking 60 || e2e_fail "the new launcher did not reach Ready"
e2e_shot 02-new-launcher-ready
[ ! -e "$E2E_INSTALL/QuorvelLauncher.exe.old" ] || e2e_fail "QuorvelLauncher.exe.old is still there after the next start"
cmp -s "$E2E_WORK/new-launcher.exe" "$E2E_INSTALL/QuorvelLauncher.exe" || e2e_fail "the new launcher changed"
e2e_click_client $E2E_CLOSE_BUTTON_CENTRE
e2e_wait_exit 30 || e2e_fail "the close button did not close the new launcher"
e2e_expect_no_leftovers
