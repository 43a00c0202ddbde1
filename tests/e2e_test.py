# Runs the built programs for real: the native one in temporary folders and pseudo-terminals,
# fogswitch.exe under Wine in a throwaway prefix with the real registry, file and console API.
# Usage: e2e_test.py Native|Wine|Executable, with the paths in FOGSWITCH_* variables.
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


# A temporary game folder below the build folder, or at `path`, open to every user; `later`
# takes what removes it.
def game(later, marker="th2.exe", cam_cfg=CFG, path=None):
    d = Path(path or tempfile.mkdtemp(dir=os.getcwd()))
    d.mkdir(parents=True, exist_ok=True)
    later(shutil.rmtree, d)
    later(subprocess.run, ["umount", "-q", d], stderr=DEVNULL)  # after full_disk
    d.chmod(0o777)
    for name in marker.split():
        (d / name).touch()
    if cam_cfg is not None:
        (d / "cam.cfg").write_bytes(cam_cfg)
    return d


# Wine's tools leave services behind that would hold captured output open.
def quietly(*cmd):
    subprocess.run(cmd, check=True, stdin=DEVNULL, stdout=DEVNULL, stderr=DEVNULL)


# Detached from any terminal, so the program doesn't wait for a key.
def run(cmd, d, **options):
    return subprocess.run(cmd, cwd=d, capture_output=True, start_new_session=True, timeout=120,
                          **options)


# Puts the game folder on a full disk, with SPARSE as cam.cfg: the edit gets its growth, then
# fails partway when rewriting the hole needs room.
def full_disk(d):
    subprocess.run(["mount", "-t", "tmpfs", "-o", "size=16k", "tmpfs", d], check=True)
    (d / "th2.exe").touch()
    subprocess.run(["dd", "bs=4k", "conv=sparse", f"of={d}/cam.cfg"], input=SPARSE, stderr=DEVNULL)
    subprocess.run(["dd", "if=/dev/zero", f"of={d}/fill"], stderr=DEVNULL)


# A file nobody can open for writing: as root, only the immutable flag stops Wine.
def read_only(path):
    if os.getuid() == 0:
        subprocess.run(["chattr", "+i", path], check=True)
        return lambda: subprocess.run(["chattr", "-i", path], check=True)
    path.chmod(0o444)
    return lambda: None


# One run in a game folder: its marker files, cam.cfg before, what the game step prints and
# cam.cfg after; a per-user copy of cam.cfg before and after, a set-up of the folder (it may
# return its undoing), options of the run, and the folder's path (else a new one).
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


class Native(unittest.TestCase):
    def test_game_folder(self):
        nobody = dict(user=65534, group=65534, extra_groups=[])
        check_game_folders(self, [ENV["FOGSWITCH_EXE"], "--help", "/?"], SUMMARY.format(0, 0), "\n", [
            Row("TH2.EXE", b"fogging 0", OK, b"fogging 1"),  # one byte written
            Row("th_x2y.exe", GROWS, OK, GROWS + b"\r\nfogging 1\r\n"),
            Row("thx.exe ath2.exe", CFG, "", CFG),
            Row("th2.exe", CFG, "", CFG, setup=lambda d: d.chmod(0o333), options=nobody),  # unlistable
            Row("th2.exe", None, FAILED, None),
            Row("th2.exe", None, FAILED, None, setup=lambda d: os.mkfifo(d / "cam.cfg")),
            Row("th2.exe", CFG, FAILED, CFG, setup=lambda d: (d / "cam.cfg").chmod(0o444),
                options=nobody),
            Row("th2.exe", SPARSE, FAILED, SPARSE, setup=full_disk)])

    # A reader that has gone doesn't stop the run.
    def test_reader_gone(self):
        d, (r, w) = game(self.addCleanup), os.pipe()
        os.close(r)
        p = subprocess.run([ENV["FOGSWITCH_EXE"]], cwd=d, stdout=w, timeout=60)
        os.close(w)
        self.assertEqual((p.returncode, (d / "cam.cfg").read_bytes()), (0, ON))

    # The prompt shows, then any key ends the wait; however it ends, the terminal is restored
    # and nothing of a key is left for the shell. Standard input, from a file or closed, and
    # standard error, closed, change nothing.
    def test_terminal(self):
        script = ('stty -g; sh -c \'echo "pid=$$"; exec "$0"\' "$0" {} 2>&- & wait $!; '
                  'echo " status=$?"; stty -g; stty -icanon -echo min 0 time 5; '
                  'printf "[%s]" "$(dd bs=64 count=1 2>/dev/null)"')
        keys = ["x", "\r", "\x03", "\xc3\xa9", "\x1b[A", "\x1bOP", "\x1b[|1|5~"]  # | splits a key
        for key in keys + [signal.SIGTERM, signal.SIGHUP]:
            with self.subTest(key=key):
                d = game(self.addCleanup, "keys", None)
                killed = isinstance(key, signal.Signals)
                child = pexpect.spawn("sh", ["-c", script.format("<&-" if killed else "<keys"),
                                             ENV["FOGSWITCH_EXE"]], cwd=d, encoding="utf-8")
                child.expect_exact(PROMPT)
                m = re.fullmatch(r"([0-9a-f:]+)\r\npid=(\d+)\r\n(.*)", child.before, re.S)
                self.assertEqual(m[3], (BANNER + SUMMARY.format(0, 0)).replace("\n", "\r\n"))
                fds = [os.readlink(f"/proc/{m[2]}/fd/{fd}") for fd in (0, 2)]
                self.assertEqual(fds, ["/dev/null" if killed else str(d / "keys"), "/dev/null"])
                self.assertEqual(child.expect_exact([" status=", pexpect.TIMEOUT], 0.3), 1)
                child.waitnoecho()
                child.delaybeforesend = 0.01  # its pieces well within 50 ms of each other
                if killed:
                    os.kill(int(m[2]), key)
                for piece in [] if killed else key.split("|"):
                    child.send(piece)
                child.expect(pexpect.EOF)
                tail = re.sub(r"^(Terminated|Hangup)\r\n", "", child.before)  # the shell's word
                self.assertEqual(tail, f" status={128 + key if killed else 0}\r\n{m[1]}\r\n[]")


# One throwaway prefix, with the sample adapter registered.
class Wine(unittest.TestCase):
    SAMPLE = "RADEON 9800 PRO (sample) ... fixed.\n" + SUMMARY.format(1, 1)

    @classmethod
    def setUpClass(cls):
        ENV.update(WINEPREFIX=tempfile.mkdtemp(dir=os.getcwd()), WINEDEBUG="-all",
                   WINEDLLOVERRIDES="mscoree,mshtml=")  # no Mono or Gecko set-up
        cls.addClassCleanup(shutil.rmtree, ENV["WINEPREFIX"])
        cls.addClassCleanup(subprocess.run, ["wineserver", "-k"])
        quietly("wineserver", "-p")  # the device map is volatile: it lives as long as the server
        quietly("wine", "wineboot", "-i")

    # The Win32 file layer: its search, its edits and its failures, a full disk among them, and
    # the per-user copy of cam.cfg; and the real registry API on the sample adapter.
    def test_game_folder_and_registry(self):
        # Only now: a run on a console may give Wine cause to rewrite the device map.
        quietly("wine", "regedit", "/S", Path(ENV["FOGSWITCH_SOURCE"], "sample/adapter.reg"))
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
            Row("th2.exe", SPARSE, FAILED, SPARSE, setup=full_disk),
            Row("th2.exe", CFG, OK, ON, copy=CFG, copy_after=ON, path=system_drive),
            Row("th2.exe", CFG, OK, ON, copy=CFG, copy_after=CFG),  # another folder's copy
            Row("th2.exe", CFG, FAILED, ON, copy=CFG, copy_after=CFG, setup=read_only,
                path=system_drive)], copy_of)
        # What the real registry API wrote for the sample adapter.
        out = run(["wine", "reg", "query", "HKLM\\System\\FogswitchSample\\Video\\0000"], "/").stdout
        self.assertEqual(re.findall(rb"^    (\w+)FogEnable    REG_BINARY    (\w+)", out, re.M),
                         [(b"Table", b"31000000"), (b"W", b"30000000"), (b"Z", b"31000000")])

    # A key on CONIN$ ends the wait. Wine's console draws a character at a time, moving the
    # cursor in between.
    def test_console(self):
        for key in ["x", "\u00e9", "\x1b[A", "\x1b[2~", "\x1bOP"]:
            child = pexpect.spawn("wine", [ENV["FOGSWITCH_WINDOWS_EXE"]], encoding="utf-8",
                                  cwd=game(self.addCleanup, "", None), timeout=60)
            child.expect("(?:\x1b\\[[?0-9;]*[A-Za-z])*".join(map(re.escape, "exit...")))
            self.assertEqual(child.expect([pexpect.EOF, pexpect.TIMEOUT], timeout=0.5), 1, key)
            child.send(key)
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
        dump = subprocess.check_output(["i686-w64-mingw32-objdump", "-p", exe], text=True)
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
        other = game(self.addCleanup, "", None) / "another build"
        quietly("cmake", "-S", source, "-B", other, f"-DCMAKE_TOOLCHAIN_FILE={source}/cmake/mingw-i686.cmake",
                f"-DFOGSWITCH_SOURCE_DATE_EPOCH={epoch}")
        quietly("cmake", "--build", other, "-j2", "--target", "fogswitch", "package")
        archive = f"fogswitch-{ENV['FOGSWITCH_VERSION']}-win32.zip"  # holding the exe, so both are compared
        self.assertEqual((other / archive).read_bytes(), (exe.parent / archive).read_bytes())
        with zipfile.ZipFile(exe.parent / archive) as z:
            self.assertEqual(z.namelist(), ["fogswitch.exe", "README.txt", "LICENSE.txt"])
            self.assertNotRegex(z.read("README.txt") + z.read("LICENSE.txt"), rb"[^\r]\n")  # CR LF
            self.assertEqual({i.date_time for i in z.infolist()}, {time.gmtime(int(epoch))[:6]})


if __name__ == "__main__":
    unittest.main(verbosity=2)
