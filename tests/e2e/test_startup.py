#!/usr/bin/env python3
"""Start-up of the real launcher: the lobby start, the instance guard and the lobby check."""
import os
import time

import kvo_e2e
from kvo_e2e import CAPTION, LOBBY_RUNNING_TEXT, LauncherTestCase, answer_box, stop_wine_process

LOBBY_EXIT_CODE_ON_CONSENT = 4


class StartupTest(LauncherTestCase):
    def test_lobby_started_with_the_bare_path_when_no_manifest_can_be_had(self):
        for name in ("install", "my game dir"):
            with self.subTest(directory=name):
                installation = self.make_installation(name=name, pver=3)
                self.assertEqual(installation.run_launcher(), 0)
                starts = installation.lobby_starts(expect=1)
                self.assertEqual([cmdline for cmdline, _ in starts], [installation.expected_lobby_command_line()])
                self.assertEqual(installation.pver(), "3", "the settings file is not written")

    def test_second_copy_exits_at_once_while_the_first_holds_the_guard(self):
        installation = self.make_installation(pver=1)
        lobby = installation.start_lobby_window()
        self.addCleanup(stop_wine_process, lobby)
        first = installation.start_launcher()
        self.addCleanup(stop_wine_process, first)
        # The first copy now waits in the lobby question, holding the guard.
        self.assertIsNotNone(answer_box(CAPTION, "none"))

        second = installation.start_launcher()
        self.assertEqual(second.wait(timeout=60), 0)
        self.assertEqual(installation.lobby_starts(), [])

        owned, text = answer_box(CAPTION, "cancel")
        self.assertEqual(text, LOBBY_RUNNING_TEXT)
        self.assertEqual(first.wait(timeout=60), 0)
        self.assertIsNone(answer_box(CAPTION, "none", timeout_ms=2000), "the second copy showed no box")
        self.assertEqual(installation.lobby_starts(), [])

    def test_lobby_running_and_ok_ends_the_lobby_with_code_4_and_goes_on(self):
        installation = self.make_installation(pver=1)
        lobby = installation.start_lobby_window()
        self.addCleanup(stop_wine_process, lobby)
        launcher = installation.start_launcher()
        self.addCleanup(stop_wine_process, launcher)

        owned, text = answer_box(CAPTION, "ok")
        self.assertFalse(owned, "the lobby question has no owner window")
        self.assertEqual(text, LOBBY_RUNNING_TEXT)
        self.assertEqual(lobby.wait(timeout=60), LOBBY_EXIT_CODE_ON_CONSENT)
        self.assertEqual(launcher.wait(timeout=kvo_e2e.LAUNCH_TIMEOUT), 0)
        # Start-up went on: no manifest could be had, so the lobby was started again.
        self.assertEqual([c for c, _ in installation.lobby_starts(expect=1)],
                         [installation.expected_lobby_command_line()])

    def test_lobby_running_and_cancel_leaves_it_running_and_starts_nothing(self):
        installation = self.make_installation(pver=1)
        lobby = installation.start_lobby_window()
        self.addCleanup(stop_wine_process, lobby)
        launcher = installation.start_launcher()
        self.addCleanup(stop_wine_process, launcher)

        self.assertIsNotNone(answer_box(CAPTION, "cancel"))
        self.assertEqual(launcher.wait(timeout=60), 0)
        time.sleep(1)
        self.assertIsNone(lobby.poll(), "the lobby keeps running")
        self.assertEqual(installation.lobby_starts(), [])
        self.assertFalse(os.listdir(installation.path("DownLoad")), "no log: start-up ended before the dialog")


if __name__ == "__main__":
    kvo_e2e.main()
