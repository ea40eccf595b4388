# Closing while files are being downloaded: the launcher ends, every interrupted download's partial
# file stays behind beside its record (for the next run to resume) and nothing else, the files being
# fetched keep their old content and every game file is whole (old, or new when it was committed
# before the close).
e2e_make_demo
cp -a "$E2E_INSTALL" "$E2E_WORK/install-before"
e2e_set_install_dir "$E2E_INSTALL"
e2e_slow_all_files 0.2 1024
e2e_start_server
e2e_start_launcher a b c 0
e2e_main_window 60
e2e_wait_for 60 e2e_download_in_progress "$E2E_INSTALL" || e2e_fail "no download started"
sleep 1
e2e_shot 01-downloading
e2e_click_client $E2E_CLOSE_BUTTON_CENTRE
e2e_wait_exit 30 || e2e_fail "the close button did not close the launcher"
e2e_shot 02-closed
kept="$(cd "$E2E_INSTALL" && find . -name '*.qrpart' | sed 's|^\./||; s|\.qrpart$||')"
[ -n "$kept" ] || e2e_fail "the interrupted downloads kept no record for the next run"
e2e_log "closed while these were being downloaded: $(echo $kept)"
e2e_no_temp_files "$E2E_INSTALL" || e2e_fail "partial files without a record: $(e2e_unpaired_temps "$E2E_INSTALL")"
# A kept partial is never committed: its game file is as it was (a delta's or compressed file's
# download belongs to the game file its name starts with).
for interrupted in $kept; do
  game="${interrupted%.qrdelta}"
  game="${game%.qrzst}"
  if [ -e "$E2E_WORK/install-before/$game" ]; then
    cmp -s "$E2E_WORK/install-before/$game" "$E2E_INSTALL/$game" \
      || e2e_fail "a file being downloaded at the close ($game) changed"
  fi
done
e2e_remove_kept_partials "$E2E_INSTALL"
e2e_old_or_new "$E2E_WORK/install-before" "$E2E_DEMO/expected" "$E2E_INSTALL" \
  || e2e_fail "damaged game files: $(cat "$E2E_WORK/old-or-new.txt")"
[ "$(e2e_ini_version "$E2E_INSTALL/VersionInfo.ini")" = 100 ] || e2e_fail "a stopped run recorded a version"
e2e_expect_no_leftovers
