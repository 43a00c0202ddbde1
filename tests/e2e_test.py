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
BANNER = (f"fogswitch v{ENV.get('FOGSWITCH_VERSION')} (built {ENV.get('FOGSWITCH_BUILD_DATE')}) - "
          "fog for Thief 2 on ATI display adapters\n")
SUMMARY = "Video card registry entries found: {}\nVideo card registry entries modified: {}\n"
TRYING = "Thief 2 detected. Now trying to enable fog in its cam.cfg ... "
OK = TRYING + "successful.\n"
FAILED = TRYING + "failed!\nPossible reasons: cam.cfg doesn't exist or it's marked as read only.\n"
PROMPT = "Press any key to exit..."
CFG, ON, GROWS = b"a 1\r\nfogging 0\r\n", b"a 1\r\nfogging 1\r\n", b"a 1\r\nb 2"
# Its value missing, so the edit moves the tail; the zeros in the middle are a hole that takes no
# room, while the last block is there, with room for the growth.
SPARSE = b"fogging \r\n".ljust(11999, b"\0") + b"x"
ROOT = os.getuid() == 0
# As root a refusal needs an account without the right: nobody's.
AS_NOBODY = dict(user="nobody", group=pwd.getpwnam("nobody").pw_gid, extra_groups=[]) if ROOT else {}


# Every child without a terminal of its own: a session of its own, no input, a time limit.
def call(cmd, timeout=30, **options):
    return subprocess.run(cmd, stdin=DEVNULL, start_new_session=True, timeout=timeout, **options)


# Wine's tools leave services behind that would hold captured output open.
def quietly(*cmd, timeout=120):
    call(cmd, timeout, check=True, stdout=DEVNULL, stderr=DEVNULL)


# The program's output and status, detached from any terminal, so it doesn't wait for a key.
def run(cmd, d, **options):
    return call(cmd, cwd=d, capture_output=True, **options)


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
    if ROOT:
        call(["chattr", "+i", path], check=True)
        return lambda: call(["chattr", "-i", path], check=True)
    path.chmod(0o444)


# One run in a game folder: its marker files, cam.cfg before, what the game step prints and
# cam.cfg after; a per-user copy of cam.cfg before and after, a set-up of the copy if there is
# one, else of the folder (it may give what undoes it), options of the run, and where the
# folder is (else a new one).
Row = namedtuple("Row", "marker before output after copy copy_after setup options path",
                 defaults=(None, None, None, {}, None))


# `steps` is what the program prints before the game step; `copy_of` maps a folder to where its
# per-user copy of cam.cfg would be.
def check_game_folders(test, command, steps, end, rows, copy_of=None):
    for i, row in enumerate(rows):
        with test.subTest(row=i, marker=row.marker, before=row.before and row.before[:12]), \
                ExitStack() as stack:
            d = game(stack.callback, row.marker, row.before, row.path)
            copy = copy_of and copy_of(d)
            if row.copy is not None:
                copy.parent.mkdir(parents=True, exist_ok=True)
                stack.callback(shutil.rmtree, copy.parent)
                copy.write_bytes(row.copy)
            undo = row.setup and row.setup(copy if row.copy is not None else d)
            if undo:
                stack.callback(undo)
            r = run(command, d, **row.options)
            read = lambda f: f.read_bytes() if f.is_file() else None
            test.assertEqual((r.returncode, r.stderr, r.stdout, read(d / "cam.cfg")), (0, b"", (
                BANNER + steps + row.output + PROMPT).replace("\n", end).encode(), row.after))
            test.assertEqual(copy and read(copy), row.copy_after)


# Runs the program on a full disk: a 16 KiB tmpfs on the game folder, in a mount namespace of its
# own (and a user namespace when not root, which Debian's kernel allows), with SPARSE as cam.cfg.
# The edit gets its growth, then fails partway when rewriting the hole needs room; cam.cfg must
# come out as it went in. `before` and `after` are shell commands run around the program there.
FULL_DISK = r"""
exec 3<cam.cfg 4>after                   # the bytes to start from; where cam.cfg ends up
mount -t tmpfs -o size=16k tmpfs . && cd "$PWD" || exit 99
touch th2.exe && dd bs=4k conv=sparse of=cam.cfg <&3 2>/dev/null && exec 3<&-
dd if=/dev/zero of=fill 2>/dev/null
{before}
"$@"; status=$?
cat cam.cfg >&4
{after}
exit $status
"""


def check_full_disk(test, command, steps, end, before="", after=""):
    namespace = ["unshare", "--mount"] + ([] if ROOT else ["--map-current-user", "--keep-caps"])
    d = game(test.addCleanup, "", SPARSE)
    if call(namespace + ["mount", "-t", "tmpfs", "tmpfs", d], stderr=DEVNULL).returncode != 0:
        test.skipTest("can't mount a tmpfs in a mount namespace of our own here")
    script = FULL_DISK.format(before=before or ":", after=after or ":")
    r = run(namespace + ["sh", "-c", script, "sh"] + command, d)
    test.assertEqual((r.returncode, r.stderr, r.stdout, (d / "after").read_bytes()), (0, b"", (
        BANNER + steps + FAILED + PROMPT).replace("\n", end).encode(), SPARSE))


class Native(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        # A copy of the program that every user can run, wherever the build folder is.
        cls.exe = folder(cls.addClassCleanup) / "fogswitch"
        shutil.copy(ENV["FOGSWITCH_EXE"], cls.exe)

    def test_game_folder(self):
        check_game_folders(self, [self.exe, "--help", "/?"], SUMMARY.format(0, 0), "\n", [
            Row("TH2.EXE", b"fogging 0", OK, b"fogging 1"),  # one byte written
            Row("th_x2y.exe", GROWS, OK, GROWS + b"\r\nfogging 1\r\n"),
            Row("thx.exe ath2.exe", CFG, "", CFG),
            Row("th2.exe", CFG, "", CFG, setup=lambda d: d.chmod(0o333), options=AS_NOBODY),
            Row("th2.exe", None, FAILED, None),
            Row("th2.exe", None, FAILED, None, setup=lambda d: os.mkfifo(d / "cam.cfg")),
            Row("th2.exe", CFG, FAILED, CFG, setup=lambda d: (d / "cam.cfg").chmod(0o444),
                options=AS_NOBODY)])

    def test_full_disk(self):
        check_full_disk(self, [self.exe], SUMMARY.format(0, 0), "\n")

    # A reader that has gone doesn't stop the run.
    def test_reader_gone(self):
        d, (r, w) = game(self.addCleanup), os.pipe()
        os.close(r)
        p = call([self.exe], cwd=d, stdout=w)
        os.close(w)
        self.assertEqual((p.returncode, (d / "cam.cfg").read_bytes()), (0, ON))

    # The shell shows the terminal's mode, then the program's pid, and runs it with standard
    # input {} and standard error closed, which change nothing. Once it has ended, the shell
    # shows its status, the terminal's mode again, which must be as before, and what was left
    # unread of the key, which must be nothing.
    SCRIPT = """
        stty -g
        sh -c 'echo "pid=$$"; exec "$0"' "$0" {} 2>&- & wait $!
        echo " status=$?"
        stty -g
        stty -icanon -echo min 0 time 5
        printf "[%s]" "$(dd bs=64 count=1 2>/dev/null)"
    """

    # The prompt shows, then any key ends the wait; however it ends, the terminal is restored
    # and nothing of a key is left for the shell.
    def test_terminal(self):
        keys = ["x", "\r", "\x03", "\xc3\xa9", "\x1b[A", "\x1bOP", "\x1b[15~",
                "p" * 100]  # pasted: more than one read's worth to drop
        for key in keys + [signal.SIGTERM, signal.SIGHUP]:
            with self.subTest(key=key):
                d = folder(self.addCleanup)
                (d / "keys").touch()
                killed = isinstance(key, signal.Signals)
                child = pexpect.spawn("sh", ["-c", self.SCRIPT.format("<&-" if killed else "<keys"),
                                             str(self.exe)], cwd=d, encoding="utf-8", timeout=10)
                child.expect_exact(PROMPT)
                m = re.fullmatch(r"([0-9a-f:]+)\r\npid=(\d+)\r\n(.*)", child.before, re.S)
                self.assertEqual(m[3], (BANNER + SUMMARY.format(0, 0)).replace("\n", "\r\n"))
                fds = [os.readlink(f"/proc/{m[2]}/fd/{fd}") for fd in (0, 2)]
                self.assertEqual(fds, ["/dev/null" if killed else str(d / "keys"), "/dev/null"])
                self.assertEqual(child.expect_exact([" status=", pexpect.TIMEOUT], 0.3), 1)
                child.waitnoecho()
                if killed:
                    os.kill(int(m[2]), key)
                else:
                    child.send(key)
                child.expect(pexpect.EOF)
                tail = re.sub(r"^(Terminated|Hangup)\r\n", "", child.before)  # the shell's word
                self.assertEqual(tail, f" status={128 + key if killed else 0}\r\n{m[1]}\r\n[]")


# One throwaway prefix. Its server ends by itself seconds after its last program, and the sample
# adapter lives only as long as the server: each test that needs it registers it.
class Wine(unittest.TestCase):
    SAMPLE = "RADEON 9800 PRO (sample) ... fixed.\n" + SUMMARY.format(1, 1)
    # Started anew, Wine rewrites the device map; once it has booted, it leaves it alone.
    REGISTER = "wine wineboot >/dev/null 2>&1 && wine regedit /S {}".format(
        Path(ENV.get("FOGSWITCH_SOURCE", ""), "sample/adapter.reg"))

    @classmethod
    def setUpClass(cls):
        ENV.update(WINEPREFIX=tempfile.mkdtemp(dir=os.getcwd()), WINEDEBUG="-all",
                   WINEDLLOVERRIDES="mscoree,mshtml=")  # no Mono or Gecko set-up
        cls.addClassCleanup(shutil.rmtree, ENV["WINEPREFIX"])
        cls.addClassCleanup(quietly, "wineserver", "-k")
        quietly("wineserver", "-p10")
        quietly("wine", "wineboot", "-i", timeout=300)

    # The Win32 file layer: its search, its edits and its failures, and the per-user copy of
    # cam.cfg; and the real registry API on the sample adapter.
    def test_game_folder_and_registry(self):
        call(["wineserver", "-p10"])  # unless the last test left one running
        quietly("sh", "-c", self.REGISTER)
        drive_c = Path(ENV["WINEPREFIX"], "drive_c")
        store = drive_c / "users" / pwd.getpwuid(os.getuid()).pw_name / "AppData/Local/VirtualStore"
        system_drive = drive_c / "Program Files/Thief 2"  # Z:, the root, is not the system drive

        def copy_of(d):
            return store / d.relative_to(drive_c if d.is_relative_to(drive_c) else "/") / "cam.cfg"

        check_game_folders(self, ["wine", ENV["FOGSWITCH_WINDOWS_EXE"]], self.SAMPLE, "\r\n", [
            Row("TH2.EXE", b"fogging 0", OK, b"fogging 1"),  # one byte written
            Row("th2.exe", GROWS, OK, GROWS + b"\r\nfogging 1\r\n", path=system_drive),  # no copy
            Row("thx.exe", CFG, "", CFG),
            Row("th2.exe", None, FAILED, None),
            Row("th2.exe", CFG, OK, ON, copy=CFG, copy_after=ON, path=system_drive),
            Row("th2.exe", CFG, OK, ON, copy=CFG, copy_after=CFG),  # another folder's copy
            Row("th2.exe", CFG, FAILED, ON, copy=CFG, copy_after=CFG, setup=read_only,
                path=system_drive)], copy_of)
        # What the real registry API wrote for the sample adapter.
        out = run(["wine", "reg", "query", "HKLM\\System\\FogswitchSample\\Video\\0000"], "/").stdout
        self.assertEqual(re.findall(rb"^    (\w+)FogEnable    REG_BINARY    (\w+)", out, re.M),
                         [(b"Table", b"31000000"), (b"W", b"30000000"), (b"Z", b"31000000")])

    # The server must see the full disk: one of its own runs in the namespace, only for this.
    def test_full_disk(self):
        call(["wineserver", "-k"])
        call(["wineserver", "-w"])
        check_full_disk(self, ["wine", ENV["FOGSWITCH_WINDOWS_EXE"]], self.SAMPLE, "\r\n",
                        self.REGISTER, "wineserver -k")

    # A key on CONIN$ ends the wait. Wine's console draws a character at a time, moving the
    # cursor in between.
    def test_console(self):
        for key in ["x", "\u00e9", "\x1b[A", "\x1b[2~", "\x1bOP"]:
            child = pexpect.spawn("wine", [ENV["FOGSWITCH_WINDOWS_EXE"]], encoding="utf-8",
                                  cwd=folder(self.addCleanup), timeout=30)
            child.expect("(?:\x1b\\[[?0-9;]*[A-Za-z])*".join(map(re.escape, "exit...")))
            self.assertEqual(child.expect([pexpect.EOF, pexpect.TIMEOUT], timeout=0.5), 1, key)
            child.send(key)
            child.expect(pexpect.EOF, timeout=10)
            self.assertEqual(child.wait(), 0, key)


# What fogswitch.exe is, and the archive it ships in.
class Executable(unittest.TestCase):
    # Every Windows from 2000 SP4 and XP SP3 on has these ("Minimum supported client").
    ALLOWED = set("""RegCloseKey RegOpenKeyExA RegQueryValueExA RegSetValueExA CloseHandle
        CreateFileA CreateFileW CreateSemaphoreW DeleteCriticalSection EnterCriticalSection
        FlushFileBuffers FreeLibrary GetConsoleMode GetCurrentDirectoryW GetCurrentThreadId
        GetEnvironmentVariableW GetFileSizeEx GetFileType GetLastError GetLongPathNameW
        GetModuleHandleA GetModuleHandleW GetProcAddress GetStartupInfoA GetStdHandle
        GetSystemWindowsDirectoryW InitializeCriticalSection IsDBCSLeadByteEx LeaveCriticalSection
        LoadLibraryA LoadLibraryW MultiByteToWideChar ReadConsoleInputW ReadFile ReleaseSemaphore
        SetConsoleMode SetEndOfFile SetFilePointerEx SetLastError SetUnhandledExceptionFilter Sleep
        TlsAlloc TlsFree TlsGetValue TlsSetValue VirtualProtect VirtualQuery WaitForSingleObject
        WideCharToMultiByte WriteFile""".split())

    def test_executable_and_release(self):
        exe, source, epoch = Path(ENV["FOGSWITCH_WINDOWS_EXE"]), ENV["FOGSWITCH_SOURCE"], ENV["FOGSWITCH_EPOCH"]
        dump = call(["i686-w64-mingw32-objdump", "-p", exe], capture_output=True, text=True).stdout
        self.assertRegex(dump, r"file format pei-i386(.|\n)*\(Windows CUI\)")
        imports = {dll: re.findall(r"^\t[0-9a-f]+\t +\d+  (\S+)$", names, re.M)
                   for dll, names in re.findall(r"DLL Name: (\S+)\n(.*?)\n\n", dump, re.S)}
        self.assertEqual(sorted(imports), ["ADVAPI32.dll", "KERNEL32.dll", "msvcrt.dll"])
        self.assertLessEqual(set(imports["ADVAPI32.dll"] + imports["KERNEL32.dll"]), self.ALLOWED)
        self.assertEqual([f for f in imports["msvcrt.dll"] if f.endswith("_s")], [])  # secure CRT
        # Elevation asked for in one XML namespace: two crash Windows XP SP2.
        trust = re.search(rb"<trustInfo.*</trustInfo>", exe.read_bytes(), re.S)[0].decode()
        self.assertEqual(re.findall(r"xmlns\S*|level=\S*|uiAccess=\S*", trust), [
            'xmlns="urn:schemas-microsoft-com:asm.v3">', 'level="requireAdministrator"', 'uiAccess="false"/>'])
        # The same exe and archive again, in a folder of another name, from the toolchain file alone.
        other = folder(self.addCleanup) / "another build"
        quietly("cmake", "-S", source, "-B", other, f"-DCMAKE_TOOLCHAIN_FILE={source}/cmake/mingw-i686.cmake",
                f"-DFOGSWITCH_SOURCE_DATE_EPOCH={epoch}")
        quietly("cmake", "--build", other, "-j2", "--target", "fogswitch", "package", timeout=300)
        archive = f"fogswitch-{ENV['FOGSWITCH_VERSION']}-win32.zip"  # holding the exe, so both are compared
        self.assertEqual((other / archive).read_bytes(), (exe.parent / archive).read_bytes())
        with zipfile.ZipFile(exe.parent / archive) as z:
            self.assertEqual(z.namelist(), ["fogswitch.exe", "README.txt", "LICENSE.txt"])
            self.assertNotRegex(z.read("README.txt") + z.read("LICENSE.txt"), rb"[^\r]\n")  # CR LF
            self.assertEqual({i.date_time for i in z.infolist()}, {time.gmtime(int(epoch))[:6]})


if __name__ == "__main__":
    unittest.main(verbosity=2)
