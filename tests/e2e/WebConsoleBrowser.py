#!/usr/bin/python3
"""The web console in a real browser: headless Chromium (Debian's chromium and chromium-driver)
driven by python3-selenium loads the page from the built program, enters the token, sends a command
from #command with Enter and waits for its event line in #events.

Usage: WebConsoleBrowser.py BRZMQTT [--screenshot FILE]
Exit status 0 when every step passed; the failing step is printed otherwise. Every wait is bounded.
"""
import argparse
import os
import socket
import subprocess
import sys
import tempfile
import threading
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import WebDriverWait

TOKEN = "browser-t0ken"
API = '{"message":"api", "protocol":"mqtt", "params":{"version":"5.0"}}'
OPTIONS = '{"event": "options", "protocol": "mqtt", "params":{"version": "5.0"}}'


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Program:
    """The built program with -server on a free loopback port; its console lines collected."""

    def __init__(self, path):
        self.port = free_port()
        self.lines = []
        self.cond = threading.Condition()
        self.proc = subprocess.Popen(
            [path, "-server", "-server.ip", "127.0.0.1", "-server.port", str(self.port), "-server.token", TOKEN],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for raw in self.proc.stdout:
            with self.cond:
                self.lines.append(raw.decode("utf-8", "replace").rstrip("\n"))
                self.cond.notify_all()

    def wait_line(self, needle, timeout=20):
        end = time.monotonic() + timeout
        with self.cond:
            while True:
                for line in self.lines:
                    if needle in line:
                        return line
                left = end - time.monotonic()
                if left <= 0:
                    raise AssertionError("no console line with %r in %s" % (needle, self.lines))
                self.cond.wait(left)

    def stop(self):
        try:
            self.proc.stdin.write(b"EXIT\n")
            self.proc.stdin.close()
            self.proc.wait(10)
        except Exception:
            self.proc.kill()
            self.proc.wait()


def browser():
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for arg in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                "--window-size=1200,760", "--no-first-run", "--disable-extensions"):
        options.add_argument(arg)
    options.add_argument("--user-data-dir=" + tempfile.mkdtemp(prefix="brz-chromium-"))
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("brzmqtt")
    ap.add_argument("--screenshot")
    args = ap.parse_args()
    program = Program(args.brzmqtt)
    driver = None
    try:
        program.wait_line("Server Listening on")
        driver = browser()
        driver.set_page_load_timeout(30)
        wait = WebDriverWait(driver, 20)
        driver.get("http://127.0.0.1:%d/" % program.port)
        status = driver.find_element(By.ID, "status")
        # The server has a token: the page asks for it before it connects.
        wait.until(lambda d: "token" in status.text)
        token = driver.find_element(By.ID, "token")
        assert token.is_displayed(), "no token field"
        token.send_keys(TOKEN + Keys.ENTER)
        wait.until(lambda d: status.text == "connected")
        program.wait_line("connected from")

        command = driver.find_element(By.ID, "command")
        command.send_keys(API + Keys.ENTER)
        program.wait_line(OPTIONS)
        events = driver.find_element(By.ID, "events")
        wait.until(lambda d: OPTIONS in events.text)
        assert command.get_attribute("value") == "", "the command box was not emptied"
        # History: the arrow key recalls the command.
        command.send_keys(Keys.ARROW_UP)
        assert command.get_attribute("value") == API, "no history"
        command.clear()

        # A line typed at the program's console reaches the page too; a click pretty-prints it.
        program.proc.stdin.write(b'{"message":"api", "protocol":"mqtt", "params":{"version":"3.1.1"}}\n')
        program.proc.stdin.flush()
        wait.until(lambda d: '"3.1.1"' in events.text)
        line = events.find_elements(By.TAG_NAME, "li")[-1]
        line.click()
        wait.until(lambda d: '\n  "event": "options"' in line.text)
        if args.screenshot:
            driver.save_screenshot(args.screenshot)
        print("web console: token, command, event lines and pretty-printing work")
        return 0
    except Exception as e:  # the step that failed, for the test log
        print("FAILED: %s: %s" % (type(e).__name__, e))
        return 1
    finally:
        if driver:
            driver.quit()
        program.stop()


if __name__ == "__main__":
    sys.exit(main())
