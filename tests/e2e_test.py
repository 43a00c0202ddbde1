# Runs the built programs for real: the native one in temporary folders and pseudo-terminals,
# fogswitch.exe under Wine in a throwaway prefix with the real registry, file and console API.
# Usage: e2e_test.py Native|Wine|Executable, with the paths in FOGSWITCH_* variables.
# Passes as root and as an ordinary user, on a terminal or not.
import os, pwd, re, shutil, signal, subprocess, tempfile, time, unittest, zipfile
from collections import namedtuple
from contextlib import ExitStack
from pathlib import Path
from subprocess import DEVNULL
import pexpect

ENV = os.environ
BANNER = (f"fogswitch v{ENV.get('FOGSWITCH_VERSION')} (built {ENV.get('FOGSWITCH_BUILD_DATE')})"
          " - fog for Thief 2 on ATI display adapters\n")
SUMMARY = "Video card registry entries found: {}\nVideo card registry entries modified: {}\n"
TRYING = "Thief 2 detected. Now trying to enable fog in its cam.cfg ... "
OK = TRYING + "successful.\n"
FAILED = TRYING + "failed!\nPossible reasons: cam.cfg doesn't exist or it's marked as read only.\n"
PROMPT = "Press any key to exit..."
CFG, ON, GROWS = b"a 1\r\nfogging 0\r\n", b"a 1\r\nfogging 1\r\n", b"a 1\r\nb 2"
GROWN = GROWS + b"\r\nfogging 1\r\n"
# On a full disk: its value missing, so the edit moves the tail. Its last block has room for the
# growth, but rewriting the zeros before it needs room, so the edit fails partway.
SPARSE = b"fogging \r\n".ljust(11999, b"\0") + b"x"
FULL_DISK = [str(Path(__file__).with_name("full_disk.sh"))]
ROOT = os.getuid() == 0
unittest.TestCase.maxDiff = None  # a failure shows the whole of what differs
# As root a refusal needs an account without the right: nobody's.
AS_NOBODY = (dict(user="nobody", group=pwd.getpwnam("nobody").pw_gid, extra_groups=[])
             if ROOT else {})


# Every child without a terminal of its own: a session of its own, so the program doesn't wait
# for a key, no input, and a time limit, after which coreutils' timeout kills its whole process
# group, the children it started included. Its output is captured unless told otherwise.
def call(cmd, timeout=30, **options):
    return subprocess.run(["timeout", "-s", "KILL", str(timeout), *cmd], stdin=DEVNULL,
                          start_new_session=True, timeout=timeout + 10,
                          **{"capture_output": True, **options})


# Wine's tools leave services behind that would hold captured output open.
def quietly(*cmd, timeout=120):
    call(cmd, timeout, check=True, capture_output=False, stdout=DEVNULL, stderr=DEVNULL)


# An empty folder that every user can reach, in the system's temporary folder, or at `path`;
# `later` takes what removes it, even once it can't be listed.
def folder(later, path=None):
    d = Path(path or tempfile.mkdtemp(prefix="fogswitch-"))
    d.mkdir(parents=True, exist_ok=True)

    def remove():
        d.chmod(0o777)
        shutil.rmtree(d)
    later(remove)
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
        path.chmod(0o444)
        return None
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


# One run in a game folder: what the row is, its marker files, cam.cfg before, what the game
# step prints and cam.cfg after; a per-user copy of cam.cfg before and after, a set-up of the copy
# if there is one, else of the folder's cam.cfg (it may give what undoes it), a command to run the
# program with, options of the run (a cwd among them), and where the folder is (else a new one).
Row = namedtuple("Row", "name marker before output after copy copy_after setup wrap options path",
                 defaults=(None, None, None, [], {}, None))


# `steps` is what the program prints before the game step; `copy_of` maps a folder to where its
# per-user copy of cam.cfg would be.
def check_game_folders(test, command, steps, end, rows, copy_of=None):
    def read(f):
        return f.read_bytes() if f.is_file() else None

    for row in rows:
        with test.subTest(row.name), ExitStack() as stack:
            d = game(stack.callback, row.marker, row.before, row.path)
            copy = copy_of(d) if copy_of else None
            if row.copy is not None:
                (folder(stack.callback, copy.parent) / "cam.cfg").write_bytes(row.copy)
            if row.setup:
                undo = row.setup(copy if row.copy is not None else d / "cam.cfg")
                if undo:
                    stack.callback(undo)
            r = call(row.wrap + command, **{"cwd": d, **row.options})
            if row.wrap == FULL_DISK and r.returncode == 99:
                why = "can't mount a tmpfs in a mount namespace of our own here"
                test.assertNotEqual(ENV.get("CI"), "true", why)  # CI's machine can
                test.skipTest(why)
            output = (BANNER + steps + row.output + PROMPT).replace("\n", end).encode()
            test.assertEqual((r.returncode, r.stderr, r.stdout), (0, b"", output))
            test.assertEqual(read(d / "cam.cfg"), row.after)
            if copy:
                test.assertEqual(read(copy), row.copy_after)


class Native(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        # A copy of the program that every user can run, wherever the build folder is.
        cls.exe = folder(cls.addClassCleanup) / "fogswitch"
        shutil.copy(ENV["FOGSWITCH_EXE"], cls.exe)

    def test_game_folder(self):
        check_game_folders(self, [self.exe, "--help", "/?"], SUMMARY.format(0, 0), "\n", [
            Row("a marker in any case, its last line ended first", "TH_x2Y.EXE", GROWS, OK, GROWN),
            Row("no marker", "thx.exe ath2.exe", CFG, "", CFG),
            Row("a folder that can't be listed", "th2.exe", CFG, "", CFG,
                setup=lambda f: f.parent.chmod(0o333), options=AS_NOBODY),
            Row("a FIFO in its place", "th2.exe", None, FAILED, None, setup=os.mkfifo),
            Row("a read-only cam.cfg", "th2.exe", CFG, FAILED, CFG,
                setup=lambda f: f.chmod(0o444), options=AS_NOBODY),
            Row("a full disk", "", SPARSE, FAILED, SPARSE, wrap=FULL_DISK)])

    # A cam.cfg whose every read fails, here the program's own memory from its unmapped first
    # page, is reported, not read again and again.
    def test_read_fails(self):
        d = game(self.addCleanup)
        (d / "cam.cfg").unlink()
        (d / "cam.cfg").symlink_to("/proc/self/mem")
        r = call([self.exe], cwd=d)
        output = BANNER + SUMMARY.format(0, 0) + FAILED + PROMPT
        self.assertEqual((r.returncode, r.stdout), (0, output.encode()))

    # A reader of its output that went away doesn't end the run before its work is done.
    def test_output_closed(self):
        d = game(self.addCleanup)
        reader, writer = os.pipe()
        os.close(reader)
        r = call([self.exe], cwd=d, capture_output=False, stdout=writer, stderr=DEVNULL)
        os.close(writer)
        self.assertEqual((r.returncode, (d / "cam.cfg").read_bytes()), (0, ON))

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
                stdin = "<&-" if killed else '<"$0"'
                child = pexpect.spawn("sh", ["-c", self.SCRIPT.format(stdin), str(self.exe)],
                                      encoding="utf-8", timeout=5)
                child.expect_exact(PROMPT)
                m = re.fullmatch(r"([0-9a-f:]+)\r\npid=(\d+)\r\n(.*)", child.before, re.S)
                fds = [os.readlink(f"/proc/{m[2]}/fd/{fd}") for fd in (0, 2)]
                self.assertEqual(m[3], (BANNER + SUMMARY.format(0, 0)).replace("\n", "\r\n"))
                self.assertEqual(fds, ["/dev/null" if killed else str(self.exe), "/dev/null"])
                self.assertEqual(child.expect_exact([" status=", pexpect.TIMEOUT], 0.3), 1)
                child.waitnoecho()
                if killed:
                    os.kill(int(m[2]), key)
                else:
                    child.send(key)
                child.expect(pexpect.EOF)
                tail = re.sub(r"^(Terminated|Hangup)\r\n", "", child.before)  # the shell's word
                status = 128 + key if killed else 0
                self.assertEqual(tail, f" status={status}\r\n{m[1]}\r\n[]")


# One throwaway prefix. Its server ends by itself seconds after its last program, and the sample
# adapter lives only as long as the server: each test registers it anew.
class Wine(unittest.TestCase):
    WINE, EXE = ENV.setdefault("FOGSWITCH_WINE", "wine"), ENV.get("FOGSWITCH_WINDOWS_EXE", "")
    SAMPLE = "RADEON 9800 PRO (sample) ... fixed.\n" + SUMMARY.format(1, 1)
    # A server of its own, wherever this runs; started anew, Wine rewrites the device map, and
    # once it has booted, it leaves it alone.
    REGISTER = ("{ wineserver -k; wineserver -w; wineserver -p10; } 2>/dev/null; "
                "\"$FOGSWITCH_WINE\" wineboot >/dev/null 2>&1 && \"$FOGSWITCH_WINE\" regedit /S "
                f"'{ENV.get('FOGSWITCH_SOURCE', '')}/sample/adapter.reg'")
    USER = pwd.getpwuid(os.getuid()).pw_name

    @classmethod
    def setUpClass(cls):
        if "FOGSWITCH_WINE_PROBLEM" in ENV:
            raise AssertionError(ENV["FOGSWITCH_WINE_PROBLEM"])  # a failure, never a skip
        print("Windows program under Wine:", ENV["FOGSWITCH_WINE_RUNS"], flush=True)
        prefix = tempfile.mkdtemp(dir=os.getcwd())  # also the server's folder, gone with it
        ENV.update(WINEPREFIX=prefix, TMPDIR=prefix, WINEDEBUG="-all",
                   WINEDLLOVERRIDES="mscoree,mshtml=")  # no Mono or Gecko set-up
        cls.addClassCleanup(shutil.rmtree, ENV["WINEPREFIX"])
        cls.addClassCleanup(cls.end_stragglers, f"WINEPREFIX={prefix}\0".encode())
        cls.addClassCleanup(call, ["wineserver", "-k"])
        quietly(cls.WINE, "wineboot", "-i", timeout=300)
        cls.drive_c = Path(prefix, "drive_c")
        cls.system_drive = cls.drive_c / "Program Files/Thief 2"  # Z:, the root, is not C:

    # A Wine program that started as its server was being ended may outlive it.
    @staticmethod
    def end_stragglers(prefix):
        for process in Path("/proc").glob("[0-9]*"):
            try:
                mine = process.name == str(os.getpid())
                if not mine and prefix in (process / "environ").read_bytes():
                    os.kill(int(process.name), signal.SIGKILL)
            except OSError:
                pass  # gone meanwhile, or not ours

    def setUp(self):
        quietly("sh", "-c", self.REGISTER)

    # Runs the rows with the copies of cam.cfg looked for in `profile`, else Wine's own one.
    def run_rows(self, rows, profile=None):
        profile = profile or self.drive_c / "users" / self.USER

        def copy_of(d):
            below = d.relative_to(self.drive_c if d.is_relative_to(self.drive_c) else "/")
            return profile / "AppData/Local/VirtualStore" / below / "cam.cfg"
        check_game_folders(self, [self.WINE, self.EXE], self.SAMPLE, "\r\n", rows, copy_of)

    # The profile folder that the profile list names for Wine's one user.
    def set_profile(self, path):
        quietly(self.WINE, "reg", "add", "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion"
                "\\ProfileList\\S-1-5-21-0-0-0-1000", "/v", "ProfileImagePath", "/t",
                "REG_EXPAND_SZ", "/d", path, "/f")

    # The Win32 file layer's search and edit, and what the real registry API wrote for the
    # sample adapter.
    def test_game_folder_and_registry(self):
        self.run_rows([
            Row("no game", "thx.exe", CFG, "", CFG),
            Row("a marker in capitals, no copy", "TH2.EXE", GROWS, OK, GROWN,
                path=self.system_drive),
            # Wine can't tell the final path of a file whose path passes MAX_PATH.
            Row("past MAX_PATH", "th2.exe", CFG, OK, ON,
                path=self.drive_c / ("x" * 120) / ("y" * 131))])
        out = call([self.WINE, "reg", "query", "HKLM\\System\\FogswitchSample\\Video\\0000"])
        values = re.findall(rb"^    (\w+)FogEnable    REG_BINARY    (\w+)", out.stdout, re.M)
        self.assertEqual(values, [(b"Table", b"31000000"), (b"W", b"30000000"),
                                  (b"Z", b"31000000")])

    # The per-user copy of a game folder on the system drive, in the profile the profile list
    # names, here reached through a link.
    def test_per_user_copies(self):
        (self.drive_c / "linked").symlink_to(self.drive_c / "moved")  # both gone with the prefix
        self.set_profile("%SystemDrive%\\linked")
        self.addCleanup(self.set_profile, f"C:\\users\\{self.USER}")
        self.run_rows([
            Row("a moved profile", "th2.exe", CFG, OK, ON, copy=CFG, copy_after=ON,
                path=self.system_drive),
            Row("a read-only copy", "th2.exe", CFG, FAILED, ON, copy=CFG, copy_after=CFG,
                setup=read_only, path=self.system_drive)], self.drive_c / "moved")

    # A game folder reached through a link is fine, and the copy kept for its real path counts;
    # links planted below it are not followed.
    def test_links(self):
        link = self.drive_c / "game link"
        link.symlink_to(self.system_drive)
        self.addCleanup(link.unlink)
        # Wine takes the folder's name from $PWD where it names the same folder.
        by_link = dict(cwd=link, env=dict(ENV, PWD=str(link)))
        self.run_rows([
            Row("entered through a link", "th2.exe", CFG, OK, ON, copy=CFG, copy_after=ON,
                options=by_link, path=self.system_drive),
            Row("a symbolic link for cam.cfg", "th2.exe", CFG, FAILED, CFG, setup=SYMLINK),
            Row("a hard link to cam.cfg", "th2.exe", CFG, FAILED, CFG, setup=HARDLINK)])

    # The server must see the disk, so one of its own runs in the disk's namespace. Another file
    # system than the prefix's is fine, but not a link planted there; a full one fails.
    def test_full_disk(self):
        def on_full_disk(fill, plant=""):
            env = dict(ENV, FILL=fill, FULL_DISK_BEFORE=self.REGISTER + plant,
                       FULL_DISK_AFTER="wineserver -k")
            return dict(wrap=FULL_DISK, options=dict(env=env))

        plant = "; mkdir t && mv cam.cfg t && ln -s t/cam.cfg cam.cfg"
        self.run_rows([
            Row("room to spare", "", CFG, OK, ON, **on_full_disk("/dev/null")),
            Row("a symbolic link there", "", CFG, FAILED, CFG, **on_full_disk("/dev/null", plant)),
            Row("no room", "", SPARSE, FAILED, SPARSE, **on_full_disk("/dev/zero"))])

    # A key on CONIN$ ends the wait: a typed one, or one that types nothing but has an extended
    # code (the unit rows try each such key). Wine's console draws a character at a time, moving
    # the cursor in between.
    def test_console(self):
        for key in ["x", "\u00e9", "\x1b[B"]:
            with self.subTest(key=key):
                child = pexpect.spawn(self.WINE, [self.EXE], encoding="utf-8",
                                      cwd=folder(self.addCleanup), timeout=30)
                child.expect("(?:\x1b\\[[?0-9;]*[A-Za-z])*".join(map(re.escape, "exit...")))
                self.assertEqual(child.expect([pexpect.EOF, pexpect.TIMEOUT], timeout=0.5), 1)
                child.send(key)
                child.expect(pexpect.EOF, timeout=10)
                child.close()  # waits a moment, then ends it by force
                self.assertEqual(child.exitstatus, 0)


# The archive fogswitch.exe ships in: its packing refuses an exe that would not start on Windows
# XP, and a build in a folder of another name, with the settings of the build under test, gives
# the same bytes.
class Executable(unittest.TestCase):
    def test_release(self):
        exe, epoch = Path(ENV["FOGSWITCH_WINDOWS_EXE"]), ENV["FOGSWITCH_EPOCH"]
        other = folder(self.addCleanup) / "another build"
        quietly("cmake", "-S", ENV["FOGSWITCH_SOURCE"], "-B", other,
                *ENV["FOGSWITCH_WINDOWS_ARGS"].split("|"))
        quietly("cmake", "--build", other, "-j2", "--target", "fogswitch", "package", timeout=300)
        # The archive holds the exe, so both are compared.
        archive = f"fogswitch-{ENV['FOGSWITCH_VERSION']}-win32.zip"
        self.assertEqual((other / archive).read_bytes(), (exe.parent / archive).read_bytes())
        with zipfile.ZipFile(exe.parent / archive) as z:
            text = z.read("README.txt") + z.read("LICENSE.txt")
            self.assertNotRegex(text, rb"[^\r]\n")  # CR LF
            self.assertEqual({i.date_time for i in z.infolist()}, {time.gmtime(int(epoch))[:6]})


if __name__ == "__main__":
    unittest.main(verbosity=2)
