"""Builds the release archive: fogswitch.exe, README.txt and LICENSE.txt (CR LF, for Notepad).
Fixed entry times, modes and order, so the archive is the same wherever it is built. An exe that
would not start on Windows 2000 SP4 or XP SP3 is refused, and no archive is made.
Usage: package.py ZIP EXE README LICENSE EPOCH OBJDUMP"""
import re, subprocess, sys, time, zipfile

zip_path, exe, readme, license_, epoch, objdump = sys.argv[1:]
stamp = time.gmtime(int(epoch))[:6]

# Every Windows from 2000 SP4 and XP SP3 on has these ("Minimum supported client"); msvcrt's
# later functions, the "secure" ones, all end in "_s".
XP = set("""RegCloseKey RegOpenKeyExA RegQueryValueExA RegSetValueExA RegOpenKeyExW RegQueryValueExW
    ConvertSidToStringSidW GetTokenInformation LookupAccountNameW LookupAccountSidW OpenProcessToken
    GetCurrentProcess GetFileInformationByHandle GetFullPathNameW
    GetSystemDirectoryW LoadLibraryExW LocalFree CloseHandle CreateFileA
    CreateFileW CreateSemaphoreW DeleteCriticalSection EnterCriticalSection FlushFileBuffers
    FreeLibrary GetConsoleMode GetCurrentDirectoryW GetCurrentThreadId GetEnvironmentVariableW
    GetFileSizeEx GetFileType GetLastError GetLongPathNameW GetModuleHandleA GetModuleHandleW
    GetProcAddress GetStartupInfoA GetStdHandle GetSystemWindowsDirectoryW InitializeCriticalSection
    IsDBCSLeadByteEx LeaveCriticalSection LoadLibraryA LoadLibraryW MultiByteToWideChar
    ReadConsoleInputW ReadFile ReleaseSemaphore SetConsoleMode SetEndOfFile SetFilePointerEx
    SetLastError SetUnhandledExceptionFilter Sleep TlsAlloc TlsFree TlsGetValue TlsSetValue
    VirtualProtect VirtualQuery WaitForSingleObject WideCharToMultiByte WriteFile""".split())
dump = subprocess.run([objdump, "-p", exe], check=True, capture_output=True, text=True).stdout
imports = {dll: re.findall(r"^\t[0-9a-f]+\t +\d+  (\S+)$", names, re.M)
           for dll, names in re.findall(r"DLL Name: (\S+)\n(.*?)\n\n", dump, re.S)}
wrong = [f"{dll} {name}" for dll, names in imports.items() for name in names
         if (name.endswith("_s") if dll == "msvcrt.dll" else name not in XP)]
if not re.search(r"file format pei-i386(.|\n)*\(Windows CUI\)", dump) or wrong or \
        sorted(imports) != ["ADVAPI32.dll", "KERNEL32.dll", "msvcrt.dll"]:
    sys.exit(f"{exe} is not a 32-bit console program that starts on Windows XP; it imports "
             f"{', '.join(wrong) or sorted(imports)}")


def crlf(path):
    return open(path, "rb").read().replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")


with zipfile.ZipFile(zip_path, "w", zipfile.ZIP_DEFLATED) as archive:
    for name, data in (("fogswitch.exe", open(exe, "rb").read()), ("README.txt", crlf(readme)),
                       ("LICENSE.txt", crlf(license_))):
        entry = zipfile.ZipInfo(name, stamp)
        entry.create_system, entry.external_attr = 0, 0x20  # MS-DOS, archive bit
        entry.compress_type = zipfile.ZIP_DEFLATED
        archive.writestr(entry, data)
