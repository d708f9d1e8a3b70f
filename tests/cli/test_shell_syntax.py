"""Hands the completion scripts and the manual page that the built tool
(QUORLINA_CLI) writes to the programs that read them: zsh and fish parse
their scripts, groff formats the page without a warning. Each check needs
its program and is skipped, saying so, where it is not installed; ctest
runs each on its own, so that a skip shows there as one."""

import os
import shutil
import subprocess
import tempfile
import unittest

CLI = os.environ["QUORLINA_CLI"]


def tool_output(*args):
    r = subprocess.run([CLI, *args], stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
    assert (r.returncode, r.stderr) == (0, b""), (args, r.returncode, r.stderr)
    return r.stdout


class ShellSyntax(unittest.TestCase):
    def need(self, program):
        if shutil.which(program) is None:
            self.skipTest("%s is not installed" % program)

    def check_script(self, shell, command):
        self.need(command[0])
        with tempfile.NamedTemporaryFile(suffix="." + shell) as f:
            f.write(tool_output("completion", shell))
            f.flush()
            r = subprocess.run(command + [f.name], stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
        self.assertEqual((r.returncode, r.stderr), (0, b""), shell)

    def test_zsh_parses_its_completion(self):
        self.check_script("zsh", ["zsh", "-n"])

    def test_fish_parses_its_completion(self):
        self.check_script("fish", ["fish", "--no-execute"])

    def test_groff_formats_the_manual_page(self):
        self.need("groff")
        r = subprocess.run(["groff", "-man", "-ww", "-z"], input=tool_output("help", "--man"),
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
        self.assertEqual((r.returncode, r.stderr), (0, b""))


if __name__ == "__main__":
    unittest.main()
