#!/usr/bin/env python3
"""Start-up of the real launcher: the lobby start, the instance guard and the lobby check."""
import os
import time

import kvo_e2e
from kvo_e2e import CAPTION, LOBBY_RUNNING_TEXT, LauncherTestCase, answer_box, stop_wine_process

LOBBY_EXIT_CODE_ON_CONSENT = 4


class StartupTest(LauncherTestCase):
    def start_while_the_lobby_runs(self):
        installation = self.make_installation(name="my game dir", pver=1)
        lobby = installation.start_lobby_window()
        self.addCleanup(stop_wine_process, lobby)
        launcher = installation.start_launcher()
        self.addCleanup(stop_wine_process, launcher)
        return installation, lobby, launcher

    def test_a_second_copy_exits_at_once_and_cancel_leaves_the_lobby_running(self):
        installation, lobby, first = self.start_while_the_lobby_runs()
        # The first copy now waits in the lobby question, holding the guard.
        self.assertIsNotNone(answer_box(CAPTION, "none"))
        second = installation.start_launcher()
        self.assertEqual(second.wait(timeout=60), 0)

        owned, text = answer_box(CAPTION, "cancel")
        self.assertEqual(text, LOBBY_RUNNING_TEXT)
        self.assertEqual(first.wait(timeout=60), 0)
        self.assertIsNone(answer_box(CAPTION, "none", timeout_ms=2000), "the second copy showed no box")
        time.sleep(1)
        self.assertIsNone(lobby.poll(), "the lobby keeps running")
        self.assertEqual(installation.lobby_starts(), [])
        self.assertFalse(os.listdir(installation.path("DownLoad")), "no log: start-up ended before the dialog")

    def test_lobby_running_and_ok_ends_the_lobby_with_code_4_and_goes_on(self):
        installation, lobby, launcher = self.start_while_the_lobby_runs()
        watcher = kvo_e2e.wine([installation.path("KVOLobby.exe"), "--watch"], cwd=installation.dir)
        self.addCleanup(stop_wine_process, watcher)
        kvo_e2e.wait_for(lambda: os.path.exists(installation.path("lobby-watched.txt")), 60, "the lobby's watcher")
        owned, text = answer_box(CAPTION, "ok")
        self.assertFalse(owned, "the lobby question has no owner window")
        self.assertEqual(text, LOBBY_RUNNING_TEXT)
        self.assertEqual(watcher.wait(timeout=60), 0)
        self.assertEqual(kvo_e2e.read_bytes(installation.path("lobby-exit.txt")).strip(),
                         b"%d" % LOBBY_EXIT_CODE_ON_CONSENT)
        self.assertEqual(launcher.wait(timeout=kvo_e2e.LAUNCH_TIMEOUT), 0)
        # Start-up went on: no manifest could be had, so the lobby was started again, by its bare
        # path, and the settings file was not written.
        self.assertEqual(installation.lobby_starts(expect=1), [installation.expected_lobby_command_line()])
        self.assertEqual(installation.pver(), "1")


if __name__ == "__main__":
    kvo_e2e.main()
