#!/usr/bin/env python3
"""The manifest at start-up with the real launcher: the update decision and hosts that are down.
(The fallback host serving a release is seen in the authenticity scenarios.)"""
import os
import re

import kvo_e2e
from kvo_e2e import PRIMARY_PORT, LauncherTestCase

MANIFEST_PATH = "/AutoUpdate/update.xml"
ERROR_LINE = re.compile(r"^(\d+)  (.+)$")
CANNOT_CONNECT = 12029
MESSAGE_LIMIT = 199  # the 200-byte message buffer less its terminator
# GBK file name, served in a manifest that declares gb2312 like the operator's tool writes it.
CHINESE_NAME = "大厅\\皮肤.dat"


def file_url(port, name):
    return "http://127.0.0.1:%d/files/%s" % (port, name)


class ManifestAtStartup(LauncherTestCase):
    def publish(self, port, version, files):
        """Serves a manifest of `version` listing `files` ({name: bytes}) on `port`."""
        entries = [(name, "", file_url(port, name)) for name in files]
        return self.serve(port, self.site(kvo_e2e.manifest(entries, version), files))

    @staticmethod
    def paths(server):
        return [request["path"] for request in server.requests()]

    @staticmethod
    def error_numbers(installation):
        return [int(m.group(1)) for m in map(ERROR_LINE.match, installation.log_lines()) if m]

    def assert_lobby_started_without_update(self, installation):
        settings_before = installation.settings_bytes()
        self.assertEqual(installation.run_launcher(), 0)
        self.assertEqual(installation.lobby_starts(expect=1), [installation.expected_lobby_command_line()])
        self.assertEqual(installation.settings_bytes(), settings_before, "the settings file is not written")

    def test_version_equal_to_pver_starts_the_lobby_and_fetches_no_file(self):
        installation = self.make_installation(pver=5)
        primary = self.publish(PRIMARY_PORT, 5, {CHINESE_NAME: b"new skin"})
        self.assert_lobby_started_without_update(installation)
        self.assertEqual(self.paths(primary), [MANIFEST_PATH])
        self.assertEqual(self.error_numbers(installation), [])
        self.assertFalse(os.path.exists(installation.path("大厅")), "nothing was written")

    def test_both_hosts_down_starts_the_lobby_and_logs_each_failure(self):
        installation = self.make_installation(pver=2)
        self.assert_lobby_started_without_update(installation)
        self.assertEqual(self.error_numbers(installation), [CANNOT_CONNECT, CANNOT_CONNECT])
        for line in installation.log_lines():
            match = ERROR_LINE.match(line)
            self.assertTrue(match and 0 < len(match.group(2).encode("gbk")) <= MESSAGE_LIMIT, line)


if __name__ == "__main__":
    kvo_e2e.main()
