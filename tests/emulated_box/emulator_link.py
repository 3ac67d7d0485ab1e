"""The box emulator process (box_emulator) and its loopback control line, as the scripts that put
a program in front of emulated boxes start and drive it: "box NAME [mode=app] ...", "plug NAME",
"unplug NAME", "state NAME" and the rest of its line protocol."""

import os
import shutil
import socket
import subprocess
import time

PRELOAD = "libumockdev-preload.so.0"


class Emulator:
    def __init__(self, binary, image, work, native=False):
        port_file = os.path.join(work, "emulator.port")
        # An emulator started before in this folder left its port here; this one's is yet to come.
        if os.path.exists(port_file):
            os.remove(port_file)
        env = dict(os.environ, LD_PRELOAD=PRELOAD)
        env.pop("UMOCKDEV_DIR", None)
        command = [binary, "--image", image, "--port-file", port_file]
        if native:
            # The boxes answer as the program's hidraw backend asks, not as Wine's winebus.
            command.append("--native")
        self.testbed = None
        with open(os.path.join(work, "emulator.log"), "a") as log:
            self.process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=log, env=env, text=True)
        try:
            line = self.process.stdout.readline().strip()
            if not line.startswith("UMOCKDEV_DIR="):
                raise RuntimeError("the box emulator did not start: " + line)
            self.testbed = line.split("=", 1)[1]
            for _ in range(100):
                if os.path.exists(port_file) and open(port_file).read().strip():
                    break
                time.sleep(0.05)
            else:
                raise RuntimeError("the box emulator gave no port within 5 s")
            self.port = int(open(port_file).read())
            self.link = socket.create_connection(("127.0.0.1", self.port), timeout=10)
            self.replies = self.link.makefile("r")
        except BaseException:
            # It serves until it is killed: an emulator that is not handed out would outlive the run.
            self.process.kill()
            self.process.wait()
            if self.testbed:
                shutil.rmtree(self.testbed, ignore_errors=True)
            raise

    def ask(self, *commands):
        """Sends the commands in turn; returns the last reply."""
        reply = ""
        for command in commands:
            self.link.sendall((command + "\n").encode())
            reply = self.replies.readline().strip()
            if not reply.startswith("ok"):
                raise RuntimeError("%s: %s" % (command, reply))
        return reply

    def stop(self):
        try:
            self.ask("quit")
            self.process.wait(timeout=10)
        except (OSError, RuntimeError, subprocess.TimeoutExpired):
            self.process.kill()
            self.process.wait()
        shutil.rmtree(self.testbed, ignore_errors=True)
