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
# After the message box the news panel (no HTML engine under Wine: the window's background in its
# place) must show that background, with no frame of the panel's placeholder over it.
news_area="233x187+19+78"
e2e_crop 02-connecting-without-worker "$news_area" "$E2E_WORK/news-shown.png"
convert "$E2E_ROOT/res/bitmaps/background.bmp" -crop "${news_area%%+*}+19+78" +repage "$E2E_WORK/news-expected.png"
news_differ="$(compare -metric AE -fuzz 3% "$E2E_WORK/news-expected.png" "$E2E_WORK/news-shown.png" null: 2>&1 || true)"
e2e_log "news panel: ${news_differ%% *} pixels differ from the background"
[ "${news_differ%% *}" = 0 ] || e2e_fail "the news panel does not show the background (${news_differ%% *} pixels differ)"
[ "$(e2e_requested /tzan/patch.txt)" -ge 1 ] || e2e_fail "the patch list was not fetched"
[ "$(e2e_requested /tzan/PatchInfo.ini)" = 0 ] || e2e_fail "a worker ran without an installed version"
e2e_key "$E2E_WINDOW" alt+F4
e2e_wait_exit 30 || e2e_fail "the close command did not close the launcher"
[ ! -e "$E2E_INSTALL/VersionInfo.ini" ] || e2e_fail "a version was recorded"
e2e_expect_no_leftovers
