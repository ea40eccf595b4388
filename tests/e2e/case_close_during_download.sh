# Closing while a file is being downloaded: the launcher ends, only the interrupted download's
# partial file stays behind (beside its record, for the next run to resume), the
# file being fetched keeps its old content and every game file is whole (old, or new when its
# download had finished before the close).
e2e_make_demo
cp -a "$E2E_INSTALL" "$E2E_WORK/install-before"
e2e_set_install_dir "$E2E_INSTALL"
e2e_slow_all_files 0.2 1024
e2e_start_server
e2e_start_launcher a b c 0
e2e_main_window 60
e2e_wait_for 60 e2e_download_in_progress "$E2E_INSTALL" || e2e_fail "no download started"
sleep 1
temp="$(find "$E2E_INSTALL" -name '*.qrtmp' -print -quit)"
interrupted="${temp#"$E2E_INSTALL"/}"
interrupted="${interrupted%.qrtmp}"
e2e_log "closing while $interrupted is being downloaded"
e2e_shot 01-downloading
e2e_click_client $E2E_CLOSE_BUTTON_CENTRE
e2e_wait_exit 30 || e2e_fail "the close button did not close the launcher"
e2e_shot 02-closed
[ -f "$E2E_INSTALL/$interrupted.qrpart" ] || e2e_fail "the interrupted download kept no record for the next run"
rm -f "$E2E_INSTALL/$interrupted.qrtmp" "$E2E_INSTALL/$interrupted.qrpart"
e2e_old_or_new "$E2E_WORK/install-before" "$E2E_DEMO/expected" "$E2E_INSTALL" \
  || e2e_fail "damaged game files: $(cat "$E2E_WORK/old-or-new.txt")"
cmp -s "$E2E_WORK/install-before/$interrupted" "$E2E_INSTALL/$interrupted" \
  || e2e_fail "the file being downloaded at the close ($interrupted) changed"
[ "$(e2e_ini_version "$E2E_INSTALL/VersionInfo.ini")" = 100 ] || e2e_fail "a stopped run recorded a version"
e2e_expect_no_leftovers
