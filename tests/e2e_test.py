# Runs the built programs for real: the native one in temporary folders and pseudo-terminals,
# fogswitch.exe under Wine in a throwaway prefix with the real registry, file and console API.
# Usage: e2e_test.py Native|Wine|Executable, with the paths in FOGSWITCH_* variables.
# Passes as root and as an ordinary user, on a terminal or not.
import functools, os, pwd, re, shutil, signal, subprocess, tempfile, time, unittest, zipfile
from collections import namedtuple
from contextlib import ExitStack
from pathlib import Path
from subprocess import DEVNULL
import pexpect

ENV = os.environ
BANNER = (f"fogswitch v{ENV.get('FOGSWITCH_VERSION')} (built {ENV.get('FOGSWITCH_BUILD_DATE')}) - "
          "fog for Thief 2 on ATI display adapters\n")
SUMMARY = "Video card registry entries found: {}\nVideo card registry entries modified: {}\n"
TRYING = "Thief 2 detected. Now trying to enable fog in its cam.cfg ... "
OK = TRYING + "successful.\n"
FAILED = TRYING + "failed!\nPossible reasons: cam.cfg doesn't exist or it's marked as read only.\n"
PROMPT = "Press any key to exit..."
CFG, ON, GROWS = b"a 1\r\nfogging 0\r\n", b"a 1\r\nfogging 1\r\n", b"a 1\r\nb 2"
# On a full disk: its value missing, so the edit moves the tail. Its last block has room for the
# growth, but rewriting the zeros before it needs room, so the edit fails partway.
SPARSE = b"fogging \r\n".ljust(11999, b"\0") + b"x"
ROOT = os.getuid() == 0
# As root a refusal needs an account without the right: nobody's.
AS_NOBODY = dict(user="nobody", group=pwd.getpwnam("nobody").pw_gid, extra_groups=[]) if ROOT else {}


# Every child without a terminal of its own: a session of its own, so the program doesn't wait
# for a key, no input, and a time limit, after which coreutils' timeout kills its whole process
# group, the children it started included. Its output is captured unless told otherwise.
def call(cmd, timeout=30, **options):
    return subprocess.run(["timeout", "-s", "KILL", str(timeout), *cmd], stdin=DEVNULL, start_new_session=True,
                          timeout=timeout + 10, **{"capture_output": True, **options})


# Wine's tools leave services behind that would hold captured output open.
def quietly(*cmd, timeout=120):
    call(cmd, timeout, check=True, capture_output=False, stdout=DEVNULL, stderr=DEVNULL)


# An empty folder that every user can reach, in the system's temporary folder, or at `path`;
# `later` takes what removes it.
def folder(later, path=None):
    d = Path(path or tempfile.mkdtemp(prefix="fogswitch-"))
    d.mkdir(parents=True, exist_ok=True)
    later(lambda: d.chmod(0o777) or shutil.rmtree(d))  # even once it can't be listed
    d.chmod(0o777)
    return d


# A game folder: its marker files and cam.cfg.
def game(later, marker="th2.exe", cam_cfg=CFG, path=None):
    d = folder(later, path)
    for name in marker.split():
        (d / name).touch()
    if cam_cfg is not None:
        (d / "cam.cfg").write_bytes(cam_cfg)
    return d


# A file that can't be opened for writing: as root, only the immutable flag stops Wine. Gives
# what undoes it.
def read_only(path):
    if not ROOT:
        return path.chmod(0o444)
    call(["chattr", "+i", path], check=True)
    return lambda: call(["chattr", "-i", path], check=True)


# A link planted in the place of a file, to a file outside that holds what it held; gives what
# undoes it.
def planted(link):
    def setup(path):
        target = Path(tempfile.mkdtemp(dir=path.parent.parent)) / "target"  # on the same disk
        target.write_bytes(path.read_bytes())
        path.unlink()
        link(path, target)
        return lambda: shutil.rmtree(target.parent)
    return setup


SYMLINK, HARDLINK = planted(Path.symlink_to), planted(lambda path, target: os.link(target, path))


# The file's folder moved aside and a directory link put in its place.
def folder_link(path):
    moved = path.parent.rename(path.parent.with_name("moved"))
    path.parent.symlink_to(moved)
    return lambda: path.parent.unlink() or moved.rename(path.parent)


# The program on a full disk: a 16 KiB tmpfs on the game folder, in a mount namespace of its own
# (and a user namespace when not root, which Debian's kernel allows), holding th2.exe and the
# folder's cam.cfg, its zeros a hole that takes no room, and a file of $FILL that fills the rest.
# $FULL_DISK_BEFORE and $FULL_DISK_AFTER run around the program there; then the folder's own
# cam.cfg gets what the tmpfs's holds.
NAMESPACE = ["unshare", "--mount"] + ([] if ROOT else ["--map-current-user", "--keep-caps"])
FULL_DISK = NAMESPACE + [
    "sh", "-c", """exec 3<>cam.cfg; mount -t tmpfs -o size=16k tmpfs . && cd "$PWD" || exit 99
    { touch th2.exe; dd bs=4k conv=sparse of=cam.cfg <&3; dd if="${FILL:-/dev/zero}" of=fill; } 2>/dev/null
    eval "$FULL_DISK_BEFORE"; "$@"; status=$?; eval "$FULL_DISK_AFTER"
    cat cam.cfg >/dev/fd/3 && exit $status""", "sh"]


# One run in a game folder: its marker files, cam.cfg before, what the game step prints and
# cam.cfg after; a per-user copy of cam.cfg before and after, a set-up of the copy if there is
# one, else of the folder's cam.cfg (it may give what undoes it), a command to run the program
# with, options of the run (a cwd among them), and where the folder is (else a new one).
Row = namedtuple("Row", "marker before output after copy copy_after setup wrap options path",
                 defaults=(None, None, None, [], {}, None))


# `steps` is what the program prints before the game step; `copy_of` maps a folder to where its
# per-user copy of cam.cfg would be.
def check_game_folders(test, command, steps, end, rows, copy_of=None):
    for i, row in enumerate(rows):
        with test.subTest(row=i), ExitStack() as stack:
            d = game(stack.callback, row.marker, row.before, row.path)
            if row.wrap and call(NAMESPACE + ["mount", "-t", "tmpfs", "tmpfs", d]).returncode:
                test.skipTest("can't mount a tmpfs in a mount namespace of our own here")
            copy = copy_of and copy_of(d)
            if row.copy is not None:
                (folder(stack.callback, copy.parent) / "cam.cfg").write_bytes(row.copy)
            if row.setup:
                stack.callback(row.setup(copy if row.copy is not None else d / "cam.cfg") or (lambda: None))
            r = call(row.wrap + command, **{"cwd": d, **row.options})
            read = lambda f: f.read_bytes() if f.is_file() else None
            test.assertEqual((r.returncode, r.stderr, r.stdout, read(d / "cam.cfg")), (0, b"", (
                BANNER + steps + row.output + PROMPT).replace("\n", end).encode(), row.after))
            test.assertEqual(copy and read(copy), row.copy_after)


class Native(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        # A copy of the program that every user can run, wherever the build folder is.
        cls.exe = folder(cls.addClassCleanup) / "fogswitch"
        shutil.copy(ENV["FOGSWITCH_EXE"], cls.exe)

    def test_game_folder(self):
        check_game_folders(self, [self.exe, "--help", "/?"], SUMMARY.format(0, 0), "\n", [
            Row("TH_x2Y.EXE", GROWS, OK, GROWS + b"\r\nfogging 1\r\n"),
            Row("thx.exe ath2.exe", CFG, "", CFG),
            Row("th2.exe", CFG, "", CFG, setup=lambda f: f.parent.chmod(0o333), options=AS_NOBODY),
            Row("th2.exe", None, FAILED, None),
            Row("th2.exe", None, FAILED, None, setup=os.mkfifo),
            Row("th2.exe", CFG, FAILED, CFG, setup=lambda f: f.chmod(0o444),
                options=AS_NOBODY),
            Row("", SPARSE, FAILED, SPARSE, wrap=FULL_DISK)])

    # Line 1: the shell shows the terminal's mode, then the program's pid, and runs it with
    # standard input {} (a file, or closed) and standard error closed, which change nothing.
    # Line 2: once it has ended, the shell shows its status and the terminal's mode again,
    # which must be as before. Line 3: what was left unread of the key, which must be nothing.
    SCRIPT = """stty -g; sh -c 'echo "pid=$$"; exec "$0"' "$0" {} 2>&- & wait $!
        echo " status=$?"; stty -g
        stty -icanon -echo min 0 time 5; printf "[%s]" "$(dd bs=64 count=1 2>/dev/null)" """

    # The prompt shows, then any key ends the wait; however it ends, the terminal is restored
    # and nothing of a key is left for the shell.
    def test_terminal(self):
        keys = ["x", "\r", "\x03", "\xc3\xa9", "\x1b[A", "\x1bOP", "\x1b[15~",
                "p" * 100]  # pasted: more than one read's worth to drop
        for key in keys + [signal.SIGTERM, signal.SIGHUP]:
            with self.subTest(key=key):
                killed = isinstance(key, signal.Signals)
                child = pexpect.spawn("sh", ["-c", self.SCRIPT.format("<&-" if killed else '<"$0"'),
                                             str(self.exe)], encoding="utf-8", timeout=5)
                child.expect_exact(PROMPT)
                m = re.fullmatch(r"([0-9a-f:]+)\r\npid=(\d+)\r\n(.*)", child.before, re.S)
                fds = [os.readlink(f"/proc/{m[2]}/fd/{fd}") for fd in (0, 2)]
                self.assertEqual((m[3], fds), ((BANNER + SUMMARY.format(0, 0)).replace("\n", "\r\n"),
                                               ["/dev/null" if killed else str(self.exe), "/dev/null"]))
                self.assertEqual(child.expect_exact([" status=", pexpect.TIMEOUT], 0.3), 1)
                child.waitnoecho()
                os.kill(int(m[2]), key) if killed else child.send(key)
                child.expect(pexpect.EOF)
                tail = re.sub(r"^(Terminated|Hangup)\r\n", "", child.before)  # the shell's word
                self.assertEqual(tail, f" status={128 + key if killed else 0}\r\n{m[1]}\r\n[]")


# One throwaway prefix. Its server ends by itself seconds after its last program, and the sample
# adapter lives only as long as the server: each test that needs it registers it.
class Wine(unittest.TestCase):
    WINE, EXE = ENV.setdefault("FOGSWITCH_WINE", "wine"), ENV.get("FOGSWITCH_WINDOWS_EXE", "")
    SAMPLE = "RADEON 9800 PRO (sample) ... fixed.\n" + SUMMARY.format(1, 1)
    # A server of its own, wherever this runs; started anew, Wine rewrites the device map, and
    # once it has booted, it leaves it alone.
    REGISTER = ("{ wineserver -k; wineserver -w; wineserver -p10; } 2>/dev/null; \"$FOGSWITCH_WINE\" wineboot >/dev/null "
                f"2>&1 && \"$FOGSWITCH_WINE\" regedit /S '{ENV.get('FOGSWITCH_SOURCE', '')}/sample/adapter.reg'")

    @classmethod
    def setUpClass(cls):
        if "FOGSWITCH_WINE_PROBLEM" in ENV:
            raise AssertionError(ENV["FOGSWITCH_WINE_PROBLEM"])  # a failure, never a skip
        print("Windows program under Wine:", ENV["FOGSWITCH_WINE_RUNS"], flush=True)
        prefix = tempfile.mkdtemp(dir=os.getcwd())  # also the server's folder, gone with it
        ENV.update(WINEPREFIX=prefix, TMPDIR=prefix, WINEDEBUG="-all",
                   WINEDLLOVERRIDES="mscoree,mshtml=")  # no Mono or Gecko set-up
        cls.addClassCleanup(shutil.rmtree, ENV["WINEPREFIX"])
        cls.addClassCleanup(call, ["wineserver", "-k"])
        quietly(cls.WINE, "wineboot", "-i", timeout=300)

    # The Win32 file layer: its search, its edits and its failures, a full disk among them, and
    # the per-user copy of cam.cfg; and the real registry API on the sample adapter.
    def test_game_folder_and_registry(self):
        quietly("sh", "-c", self.REGISTER)
        drive_c = Path(ENV["WINEPREFIX"], "drive_c")
        user = pwd.getpwuid(os.getuid()).pw_name
        system_drive = drive_c / "Program Files/Thief 2"  # Z:, the root, is not the system drive
        copies_in = lambda profile: lambda d: profile / "AppData/Local/VirtualStore" / d.relative_to(
            drive_c if d.is_relative_to(drive_c) else "/") / "cam.cfg"
        run = functools.partial(check_game_folders, self, [self.WINE, self.EXE], self.SAMPLE, "\r\n")

        # The own profile is the one the profile list names, here reached through a link.
        profile = lambda path: quietly(self.WINE, "reg", "add", "HKLM\\Software\\Microsoft\\Windows NT\\"
                                       "CurrentVersion\\ProfileList\\S-1-5-21-0-0-0-1000", "/v",
                                       "ProfileImagePath", "/t", "REG_EXPAND_SZ", "/d", path, "/f")
        (drive_c / "linked").symlink_to(drive_c / "moved")  # both gone with the prefix
        profile("%SystemDrive%\\linked")
        run([Row("th2.exe", CFG, OK, ON, copy=CFG, copy_after=ON, path=system_drive)],
            copies_in(drive_c / "moved"))
        profile(f"C:\\users\\{user}")

        link = drive_c / "game link"
        run([
            Row("TH2.EXE", GROWS, OK, GROWS + b"\r\nfogging 1\r\n", path=system_drive),  # no copy
            Row("thx.exe", CFG, "", CFG),
            Row("th2.exe", None, FAILED, None),
            Row("th2.exe", CFG, OK, ON, copy=CFG, copy_after=ON, path=system_drive),
            Row("th2.exe", CFG, OK, ON, copy=CFG, copy_after=CFG),  # another folder's copy
            Row("th2.exe", CFG, FAILED, ON, copy=CFG, copy_after=CFG, setup=read_only,
                path=system_drive),
            # A game folder reached through a link is fine, and the copy kept for its real path
            # counts; links planted below it or below the profile are not followed.
            Row("th2.exe", CFG, OK, ON, copy=CFG, copy_after=ON, setup=lambda f: link.symlink_to(
                system_drive) or link.unlink, options=dict(cwd=link, env=dict(ENV, PWD=str(link))),
                path=system_drive),  # Wine takes the folder's name from $PWD where it is the same
            *[Row("th2.exe", CFG, FAILED, CFG, setup=plant) for plant in (SYMLINK, HARDLINK)],
            *[Row("th2.exe", CFG, FAILED, ON, copy=CFG, copy_after=CFG, setup=plant, path=system_drive)
              for plant in (SYMLINK, HARDLINK, folder_link)],
            # Last: the server must see the disk, so one of its own runs in the namespace. Another
            # file system than the prefix's is fine, but not a link planted there; a full one fails.
            *[Row("", before, output, after, wrap=FULL_DISK, options=dict(env=dict(ENV, FILL=fill,
                FULL_DISK_BEFORE=self.REGISTER + plant, FULL_DISK_AFTER="wineserver -k")))
              for before, output, after, fill, plant in (
                  (CFG, OK, ON, "/dev/null", ""),
                  (CFG, FAILED, CFG, "/dev/null", "; mkdir t && mv cam.cfg t && ln -s t/cam.cfg cam.cfg"),
                  (SPARSE, FAILED, SPARSE, "", ""))]],
            copies_in(drive_c / "users" / user))
        # What the real registry API wrote for the sample adapter.
        out = call([self.WINE, "reg", "query", "HKLM\\System\\FogswitchSample\\Video\\0000"]).stdout
        self.assertEqual(re.findall(rb"^    (\w+)FogEnable    REG_BINARY    (\w+)", out, re.M),
                         [(b"Table", b"31000000"), (b"W", b"30000000"), (b"Z", b"31000000")])

    # A key on CONIN$ ends the wait. Wine's console draws a character at a time, moving the
    # cursor in between.
    def test_console(self):
        for key in ["x", "\u00e9", "\x1b[A", "\x1b[2~", "\x1bOP"]:
            child = pexpect.spawn(self.WINE, [self.EXE], encoding="utf-8",
                                  cwd=folder(self.addCleanup), timeout=30)
            child.expect("(?:\x1b\\[[?0-9;]*[A-Za-z])*".join(map(re.escape, "exit...")))
            self.assertEqual(child.expect([pexpect.EOF, pexpect.TIMEOUT], timeout=0.5), 1, key)
            child.send(key)
            child.expect(pexpect.EOF, timeout=10)
            child.close()  # waits a moment, then ends it by force
            self.assertEqual(child.exitstatus, 0, key)


# The archive fogswitch.exe ships in: its packing refuses an exe that would not start on Windows
# XP, and a build in a folder of another name, from the toolchain file alone, gives the same bytes.
class Executable(unittest.TestCase):
    def test_release(self):
        exe, source, epoch = Path(ENV["FOGSWITCH_WINDOWS_EXE"]), ENV["FOGSWITCH_SOURCE"], ENV["FOGSWITCH_EPOCH"]
        other = folder(self.addCleanup) / "another build"
        quietly("cmake", "-S", source, "-B", other, f"-DCMAKE_TOOLCHAIN_FILE={source}/cmake/mingw-i686.cmake",
                f"-DFOGSWITCH_SOURCE_DATE_EPOCH={epoch}")
        quietly("cmake", "--build", other, "-j2", "--target", "fogswitch", "package", timeout=300)
        archive = f"fogswitch-{ENV['FOGSWITCH_VERSION']}-win32.zip"  # holding the exe, so both are compared
        self.assertEqual((other / archive).read_bytes(), (exe.parent / archive).read_bytes())
        with zipfile.ZipFile(exe.parent / archive) as z:
            self.assertNotRegex(z.read("README.txt") + z.read("LICENSE.txt"), rb"[^\r]\n")  # CR LF
            self.assertEqual({i.date_time for i in z.infolist()}, {time.gmtime(int(epoch))[:6]})


if __name__ == "__main__":
    unittest.main(verbosity=2)
