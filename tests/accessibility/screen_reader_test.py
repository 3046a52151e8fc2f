#!/usr/bin/python3
"""What a screen reader gets of the player, read over the accessibility bus.

    screen_reader_test.py BIN_DIR ARTIFACT_DIR

Runs the player on a PDF content with a watermark under an Arabic locale and
reads its tree as a screen reader does: the page's document has content, the
watermark is nowhere in it, the print button has a name. The button, pressed
through the bus, opens the printer dialog: its list is named by its label and
has the keyboard, its words are Arabic; Enter prints, and the outcome notice
follows. Screenshots of the dialog and the notice go to ARTIFACT_DIR.
Run on a display of its own inside a D-Bus session of its own; exit 77 when
the accessibility bus cannot start there.
"""
import os
import subprocess
import sys
import time

SKIP = 77
SERVICE = "https://127.0.0.1:47443"
WATERMARK = "Learner 42"
PRINT_NAME = "Print - طباعة"
TITLE = "🖨 اختيار الطابعة"
LABEL = "اختر الطابعة التي تُطبع عليها هذه الصفحة:"
PRINTED = "تمت الطباعة."

failures = []


def check(ok, what):
    print(("ok    " if ok else "FAIL  ") + what, flush=True)
    if not ok:
        failures.append(what)
    return ok


def nodes(root, depth=0):
    """Every node under root (inclusive), depth first."""
    if depth > 60:
        return
    yield root
    try:
        count = root.childCount
    except Exception:
        return
    for i in range(min(count, 500)):
        try:
            child = root.getChildAtIndex(i)
        except Exception:
            continue
        if child is not None:
            yield from nodes(child, depth + 1)


def texts(node):
    """What a screen reader can read of one node."""
    out = []
    for read in (lambda: node.name, lambda: node.description):
        try:
            out.append(read() or "")
        except Exception:
            pass
    try:
        text = node.queryText()
        out.append(text.getText(0, text.characterCount))
    except Exception:
        pass
    return out


def role(node):
    try:
        return node.getRole()
    except Exception:
        return None


def wait_for(find, seconds):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        found = find()
        if found:
            return found
        time.sleep(0.25)
    return None


def screenshot(directory, name):
    os.makedirs(directory, exist_ok=True)
    path = os.path.join(directory, name)
    subprocess.run(["/usr/bin/import", "-window", "root", path], check=False)
    print("screenshot " + path, flush=True)


def main():
    bin_dir, artifacts = sys.argv[1], sys.argv[2]
    try:
        import pyatspi
        desktop = pyatspi.Registry.getDesktop(0)
        desktop.childCount
    except Exception as error:  # the bus itself, not the player
        print("SKIP: the accessibility bus does not start here: %s" % error)
        return SKIP

    link = subprocess.run([os.path.join(bin_dir, "tovani-tool"), "seal", "--pass", "p", "--content", "pdf-1",
                           "--domain", SERVICE], check=True, capture_output=True, text=True).stdout.strip()
    env = {k: v for k, v in os.environ.items() if k not in ("LC_ALL", "LC_MESSAGES", "LANGUAGE")}
    env.update(QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", LANG="ar_EG.UTF-8")
    player = subprocess.Popen([os.path.join(bin_dir, "tovani"), link], env=env, stdin=subprocess.DEVNULL)
    try:
        def app():
            for i in range(desktop.childCount):
                try:
                    candidate = desktop.getChildAtIndex(i)
                    if candidate is not None and candidate.get_process_id() == player.pid:
                        return candidate
                except Exception:
                    pass
            return None

        def print_button():
            root = app()
            if root is None:
                return None
            for node in nodes(root):
                if role(node) == pyatspi.ROLE_PUSH_BUTTON and node.name == PRINT_NAME:
                    return node
            return None

        button = wait_for(print_button, 60)
        if not check(button is not None, "the page's print button is in the tree, named %r" % PRINT_NAME):
            return 1
        # The watermark is drawn after the document is ready; give it a moment.
        time.sleep(1)
        tree = list(nodes(app()))
        documents = [n for n in tree if role(n) == pyatspi.ROLE_DOCUMENT_WEB]
        check(any(d.childCount > 0 for d in documents), "the page's document has children")
        check(not any(WATERMARK in t for n in tree for t in texts(n)), "the watermark's text is nowhere in the tree")

        # The page's buttons offer a screen reader the focus; the keyboard presses.
        action = button.queryAction()
        names = [action.getName(i) for i in range(action.nActions)]
        check("SetFocus" in names and action.doAction(names.index("SetFocus")), "the print button takes the focus")
        check(wait_for(lambda: button.getState().contains(pyatspi.STATE_FOCUSED), 5) is not None,
              "the print button has the keyboard")
        subprocess.run(["/usr/bin/xdotool", "key", "space"], check=False)

        def dialog():
            root = app()
            if root is None:
                return None
            for node in nodes(root):
                if role(node) == pyatspi.ROLE_DIALOG and node.name == TITLE:
                    return node
            return None

        found = wait_for(dialog, 20)
        if not check(found is not None, "pressing the button opens the printer dialog, titled in Arabic"):
            return 1
        lists = [n for n in nodes(found) if role(n) == pyatspi.ROLE_LIST]
        check(len(lists) == 1 and lists[0].name == LABEL,
              "the printer list is named by its label: %r" % [n.name for n in lists])
        lines = [n.name for n in nodes(found) if role(n) == pyatspi.ROLE_LIST_ITEM]
        check(any("(جاهزة)" in line for line in lines) and any("(متوقفة)" in line for line in lines)
              and not any("idle" in line or "stopped" in line for line in lines),
              "the printers' states are in Arabic: %r" % lines)
        check(bool(lists) and wait_for(lambda: lists[0].getState().contains(pyatspi.STATE_FOCUSED), 5),
              "the list has the keyboard")
        buttons = sorted(n.name for n in nodes(found) if role(n) == pyatspi.ROLE_PUSH_BUTTON)
        check(buttons == ["إلغاء", "🖶  طباعة"], "the buttons speak Arabic: %r" % buttons)
        screenshot(artifacts, "printer-dialog-ar.png")

        # The keyboard alone: Enter on the list prints to the preselected printer.
        subprocess.run(["/usr/bin/xdotool", "key", "Return"], check=False)

        def notice():
            root = app()
            return root is not None and any(PRINTED in t for n in nodes(root) for t in texts(n))

        if check(wait_for(notice, 60) is not None, "Enter prints and the outcome notice is read out"):
            time.sleep(0.5)
            screenshot(artifacts, "print-notice-ar.png")
    finally:
        player.terminate()
        try:
            player.wait(10)
        except subprocess.TimeoutExpired:
            player.kill()
            player.wait()
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
